#!/usr/bin/env bash
# The firmware's watchdog during a run. In one boot of OVMF's UEFI Shell:
#   1. arm-watchdog.efi arms a short watchdog, as a tool run earlier in the
#      same Shell may (the Shell switches it off only when it starts), then
#      zar.efi /read runs several times longer than that against QEMU's
#      isa-debugcon devices at the EC's ports. zar switches the watchdog off
#      before follow mode: the run ends and the line after it prints.
#   2. The control: the same watchdog, then the Shell's "stall" for longer.
#      This OVMF resets the machine (QEMU, started with -no-reboot, exits):
#      the line after the stall never prints, so step 1 proves something.
#
#   watchdog.sh UEFI_BUILD_DIR WORK
set -euo pipefail

uefi=$(realpath -m "$1") work=$(realpath -m "$2")
QEMU_LIMIT=${ZAR_QEMU_LIMIT:-150}  # seconds for the whole boot
ARMED=3                              # the watchdog's seconds
READ_SIZE=0x400000                   # about 18 s of port traffic under TCG on a slow machine
STALL_US=$((3 * ARMED * 1000000))    # the control's stall: three times the watchdog

fail() { echo "qemu.watchdog: $*" >&2; exit 1; }
source "$(dirname "$0")/uefi-shell.sh"

for f in zar.efi arm-watchdog.efi; do
  [ -f "$uefi/$f" ] || fail "$uefi/$f is missing: build the UEFI applications first (make uefi)"
done
check_boot_tools

rm -rf "$work"
mkdir -p "$work/stage"
cd "$work"
cp "$uefi/zar.efi" "$uefi/arm-watchdog.efi" stage/
{
  echo "@echo -off"
  echo "fs0:"
  echo "arm-watchdog.efi $ARMED"
  echo "echo ==BEGIN run=="
  echo "zar.efi /read out.bin $READ_SIZE"
  echo "echo ==STATUS run %lasterror%=="
  echo "arm-watchdog.efi $ARMED"
  echo "echo ==BEGIN control=="
  echo "stall $STALL_US"
  echo "echo ==STATUS control %lasterror%=="
  echo "echo ==DONE=="
  echo "reset -s"
} | sed 's/$/\r/' > stage/startup.nsh
mkfs.fat -C fat.img 16384 >/dev/null
for f in stage/*; do mcopy -i fat.img "$f" ::; done

# Status 0x01 and data 0xC2 (as tests/qemu/foreign-timer.sh explains): every
# wait passes at once, and /read reads C2 from an MXIC-looking chip.
start_clock
boot_at_ec_ports "$QEMU_LIMIT" fat.img note_markers 0xC2 0x01
[ $qemu_status -eq 124 ] && fail "QEMU did not finish within $QEMU_LIMIT s: $(tail -n 5 serial.txt)"
[ $qemu_status -eq 0 ] || fail "QEMU ended with status $qemu_status: $(cat qemu-stderr.txt)"

failures=0
bad() { echo "qemu.watchdog: $*"; failures=$((failures + 1)); }
grep -q "^arm-watchdog: $ARMED s, status 0x0" serial.txt || bad "arm-watchdog.efi did not arm the watchdog"
seconds=$(case_seconds run)
if [ -z "$seconds" ]; then
  bad "the run never ended: the watchdog reset the machine during it ($(tail -n 3 serial.txt))"
else
  grep -q "==STATUS run 0x0==" serial.txt || bad "the run ended with $(grep -o '==STATUS run [^=]*' serial.txt)"
  # A run no longer than the watchdog would pass without the fix as well.
  awk -v s="$seconds" -v a=$ARMED 'BEGIN { exit !(s > 2 * a) }' ||
    bad "the run took $seconds s, not more than twice the watchdog's $ARMED s: it proves nothing on this machine"
fi
grep -q "==BEGIN control==" serial.txt || bad "the control never began"
grep -q "==STATUS control" serial.txt && bad "the control's stall of $((STALL_US / 1000000)) s ended: this OVMF's watchdog did not reset"
grep -q "==DONE==" serial.txt && bad "the script ran to its end: the watchdog never fired"
[ $failures -eq 0 ] || exit 1
echo "qemu.watchdog: a $ARMED s watchdog armed before zar: the run took $seconds s and ended 0x0;" \
     "the same watchdog reset the machine during the control's stall"
