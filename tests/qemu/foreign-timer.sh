#!/usr/bin/env bash
# A firmware driver's timer at the EC's ports during a run. OVMF's UEFI
# Shell loads foreign-timer.efi, a boot-service driver whose periodic
# TPL_CALLBACK timer writes MARKER to 0x66 on every tick, then runs the real
# zar.efi against QEMU's isa-debugcon devices at 0x62 and 0x66 (each writes
# the bytes sent to it into a file and answers reads with one fixed byte, as
# in tests/qemu/port-traffic.sh). Without its markers, zar.efi's traffic on
# each port must equal the hosted zar-sim's for the same command, and every
# marker must fall where no SPI transaction and no EC command is open:
# zar.efi holds the firmware's events off (TPL_NOTIFY) for each of them.
#
# The two ports are two files, so a marker's place is known in 0x66's
# stream only: a marker is allowed after write k when, in zar-sim's trace of
# both ports, nothing is open at some moment between 0x66's writes k and k+1.
#
#   foreign-timer.sh UEFI_BUILD_DIR HOST_ZAR_SIM WORK
set -euo pipefail

uefi=$(realpath -m "$1") host_sim=$(realpath -m "$2") work=$(realpath -m "$3")
here=$(cd "$(dirname "$0")" && pwd)
QEMU_LIMIT=${ZAR_QEMU_LIMIT:-90}  # seconds for the whole boot
MARKER=a5                           # tests/qemu/uefi/ForeignTimer.cpp
# Status 0x01 (output full, input empty): every wait passes at its first
# read. Data 0xC2: follow-mode entry is not acknowledged and the run goes on,
# RDID reads C2 C2 C2 C2 (an MXIC chip of unknown size, so SIZE is given),
# the chip reads idle (WIP clear), and /read reads every byte as C2: 512 KiB,
# two passes, a FAST_READ for each 4 KiB step (a percent at most).
DATA=0xC2 STATUS=0x01
COMMAND="/read out.bin 0x80000"

fail() { echo "qemu.foreign-timer: $*" >&2; exit 1; }
source "$here/uefi-shell.sh"

for f in zar.efi foreign-timer.efi; do
  [ -f "$uefi/$f" ] || fail "$uefi/$f is missing: build the UEFI applications first (make uefi)"
done
check_boot_tools od

rm -rf "$work"
mkdir -p "$work/stage" "$work/host"
cd "$work"
cp "$uefi/zar.efi" "$uefi/foreign-timer.efi" stage/
{
  echo "@echo -off"
  echo "fs0:"
  echo "load foreign-timer.efi"
  echo "echo ==BEGIN run=="
  echo "zar.efi $COMMAND"
  echo "echo ==STATUS run %lasterror%=="
  echo "echo ==DONE=="
  echo "reset -s"
} | sed 's/$/\r/' > stage/startup.nsh
host_status=0
(cd host && timeout 60 "$host_sim" --ec-constant "$DATA,$STATUS" --trace trace.txt $COMMAND > text.txt) ||
  host_status=$?

mkfs.fat -C fat.img 8192 >/dev/null
for f in stage/*; do mcopy -i fat.img "$f" ::; done
boot_at_ec_ports "$QEMU_LIMIT" fat.img : $DATA $STATUS
[ $qemu_status -eq 124 ] && fail "QEMU did not finish within $QEMU_LIMIT s"
[ $qemu_status -eq 0 ] || fail "QEMU ended with status $qemu_status: $(cat qemu-stderr.txt)"
grep -q '==DONE==' serial.txt || fail "startup.nsh did not run to its end: $(tail -n 5 serial.txt)"
grep -q "foreign-timer.efi' loaded .* Success" serial.txt || fail "the Shell did not load foreign-timer.efi"

failures=0
bad() { echo "qemu.foreign-timer: $*"; failures=$((failures + 1)); }

# The run as zar-sim's: status and text.
[ $host_status -eq 0 ] || bad "zar-sim ended with $host_status: $(tail -n 3 host/text.txt)"
grep -q "==STATUS run 0x0==" serial.txt || bad "zar.efi ended with $(grep -o '==STATUS run [^=]*' serial.txt)"
# The progress line is redrawn in place on the screen (after a lone CR) and
# printed once in its last state, and its times are each clock's own: both
# texts are taken as the screen's lines end, without the times.
settled() { perl -pe 's/\e\[[0-9;=?]*[A-Za-z]//g; s/\r\n/\n/; s/^.*\r//; s/  [0-9]+:[0-9]{2} spent(, about [0-9]+:[0-9]{2} left)?//g'; }
output=$(perl -0777 -ne 'print $1 if /==BEGIN run==\r?\n(.*?)==STATUS run \S+==/s' raw-serial.txt | settled)
host=$(grep -v '^zar-sim: ' host/text.txt | settled)
[ "$output" = "$host" ] || { bad "zar.efi's text differs from zar-sim's:"; diff <(echo "$host") <(echo "$output") | head; }

# The ports: 0x62 as zar-sim wrote it; 0x66 too once the markers are out,
# each marker where nothing was open.
awk '$1 == "out" && $2 == "62" { print $3 }' host/trace.txt > expected-62.txt
od -An -v -tx1 -w1 qemu-62.bin | tr -d ' ' > sent-62.txt
cmp -s expected-62.txt sent-62.txt || bad "port 0x62: zar.efi's bytes differ from zar-sim's"
od -An -v -tx1 -w1 qemu-66.bin | tr -d ' ' > sent-66.txt
perl "$here/marker-places.pl" "$MARKER" host/trace.txt sent-66.txt > places.txt ||
  bad "$(cat places.txt)"
[ $failures -eq 0 ] || exit 1
echo "qemu.foreign-timer: $(cat places.txt)"
