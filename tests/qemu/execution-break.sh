#!/usr/bin/env bash
# Ctrl-C during a run started from a script. In OVMF's UEFI Shell a script
# runs zar-sim.efi flashing a 2 MiB image; once the run has written a block,
# QEMU's monitor presses Ctrl-C on the PS/2 keyboard ("sendkey ctrl-c"). The
# Shell does not stop a running program, but it ends a script after any line
# that leaves its break event signalled (ShellPkg Shell.c,
# RunScriptFileHandle), so a factory script's clean-up after a failed run
# would never come. zar takes the break at its next safe point, says once
# that Ctrl-C is ignored, and ends as it would have: the chip holds the
# image, the status is 0x0, and the script's next line runs.
#
#   execution-break.sh UEFI_BUILD_DIR HOST_ZAR_SIM WORK
set -euo pipefail

uefi=$(realpath -m "$1") host_sim=$(realpath -m "$2") work=$(realpath -m "$3")
here=$(cd "$(dirname "$0")" && pwd)
QEMU_LIMIT=${ZAR_QEMU_LIMIT:-120}  # seconds for the whole boot
CHIP=W25Q32FV                        # 4 MiB; the 2 MiB image is 32 blocks, about 10 s under TCG
COMMAND="zar-sim.efi --chip $CHIP --flash-out out.bin img.bin p"
KEY_AFTER="Block Number     : 2 "     # follow mode entered, blocks 0 and 1 written

fail() { echo "qemu.execution-break: $*" >&2; exit 1; }
source "$here/uefi-shell.sh"

[ -f "$uefi/zar-sim.efi" ] || fail "$uefi/zar-sim.efi is missing: build the UEFI applications first (make uefi)"
check_boot_tools python3

rm -rf "$work"
mkdir -p "$work/stage" "$work/host"
cd "$work"
cp "$uefi/zar-sim.efi" stage/
# Deterministic bytes, never a run of 0xFF.
perl -e 'my $x = 0x1F2E3D4C; my $d = "";
  for (1 .. 2 * 1024 * 1024) { $x = ($x * 1103515245 + 12345) & 0x7FFFFFFF; my $b = ($x >> 16) & 0xFF;
    $d .= chr($b == 0xFF ? 0x5A : $b); }
  open(my $f, ">:raw", "stage/img.bin") or die; print $f $d; close $f;'
{
  echo "@echo -off"
  echo "fs0:"
  echo "echo ==BEGIN run=="
  echo "$COMMAND"
  echo "echo ==STATUS run %lasterror%=="
  echo "echo ==NEXT LINE=="
  echo "echo ==DONE=="
  echo "reset -s"
} | sed 's/$/\r/' > stage/startup.nsh
host_status=0
(cd stage && timeout 120 "$host_sim" ${COMMAND#zar-sim.efi } > ../host/text.txt) || host_status=$?
rm -f stage/out.bin

mkfs.fat -C fat.img 32768 >/dev/null
for f in stage/*; do mcopy -i fat.img "$f" ::; done

# The monitor on a socket of its own. The key goes once the run is in follow
# mode and has written a block. A script the Shell ended leaves its prompt,
# and nothing more comes: QEMU is told to quit.
monitor() {  # monitor COMMAND
  python3 -c 'import socket, sys, time
s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1]); s.sendall(sys.argv[2].encode() + b"\n"); time.sleep(0.2)' \
    monitor.sock "$1"
}
ctrl_c_at= quit_sent=
press_ctrl_c() {
  if [ -z "$ctrl_c_at" ] && grep -aqF "$KEY_AFTER" raw-serial.txt; then
    monitor "sendkey ctrl-c"
    ctrl_c_at=during
    if grep -aq "==STATUS run" raw-serial.txt; then ctrl_c_at=after; fi
  fi
  if [ -z "$quit_sent" ] && grep -aqF 'FS0:\> ' raw-serial.txt; then
    monitor quit
    quit_sent=1
  fi
}
boot_shell "$QEMU_LIMIT" fat.img press_ctrl_c -monitor unix:monitor.sock,server=on,wait=off
[ $qemu_status -eq 124 ] && fail "QEMU did not finish within $QEMU_LIMIT s: $(tail -n 5 serial.txt)"
[ $qemu_status -eq 0 ] || fail "QEMU ended with status $qemu_status: $(cat qemu-stderr.txt)"
mcopy -n -i fat.img ::out.bin out.bin 2>/dev/null || true

failures=0
bad() { echo "qemu.execution-break: $*"; failures=$((failures + 1)); }
[ -n "$ctrl_c_at" ] || bad "the run never reached \"$KEY_AFTER\": no key was sent"
[ "$ctrl_c_at" != after ] || bad "the key went after the run had ended"
expected=$( [ $host_status -eq 0 ] && echo 0x0 || echo "zar-sim's $host_status" )
if grep -q "==STATUS run" serial.txt; then
  grep -q "==STATUS run $expected==" serial.txt ||
    bad "the run ended with $(grep -o '==STATUS run [^=]*' serial.txt), without the key $expected"
  grep -q "==NEXT LINE==" serial.txt || bad "the Shell ended the script after the status line"
elif grep -q "^zar-sim: EC" serial.txt; then
  bad "the Shell ended the script right after the run: the lines after it never ran"
else
  bad "the run did not end: $(tail -n 3 serial.txt)"
fi
said=$(grep -c "^Ctrl-C is ignored while the EC is in follow mode: the run goes on to its end.$" serial.txt || true)
[ "$said" -eq 1 ] || bad "\"Ctrl-C is ignored ...\" is on the console $said times, not once"
if [ ! -f out.bin ]; then
  bad "the run wrote no out.bin"
elif ! cmp -s -n "$(stat -c %s stage/img.bin)" out.bin stage/img.bin; then
  bad "the chip does not hold the image: $(cmp -n "$(stat -c %s stage/img.bin)" out.bin stage/img.bin)"
fi
[ $failures -eq 0 ] || exit 1
echo "qemu.execution-break: Ctrl-C during block 2 was ignored once; the run ended 0x0 with the image on the chip," \
     "and the script went on"
