#!/usr/bin/env bash
# A stick pulled in the middle of a run. OVMF's UEFI Shell boots from an IDE
# disk whose startup.nsh starts zar-sim.efi from a USB stick (QEMU's
# usb-storage on an xHCI controller) that holds the image and the run's
# /log. Once the console shows the run past its first block, QEMU's monitor
# takes the stick away (device_del). The flasher read the image whole
# before the EC was touched: the run must still end with status 0 and the
# chip equal to the image (--flash-out writes it to the IDE disk), and its
# last lines must say that the record could not be written to the stick.
# Leaves in WORK the console (serial.txt), when the stick went (pulled.txt)
# and when each block began (times.txt).
#
#   stick-pulled.sh UEFI_BUILD_DIR WORK
set -euo pipefail

uefi=$(realpath -m "$1") work=$(realpath -m "$2")
QEMU_LIMIT=${ZAR_QEMU_LIMIT:-150}  # seconds for the whole boot
# The simulated EC's latency, in status reads before it takes a byte or
# answers: it stretches each block of the run to a few seconds under QEMU's
# software emulation, time enough for the firmware to see the stick go
# before the run reaches its last block.
LATENCY=${ZAR_STICK_LATENCY:-24}

fail() { echo "qemu.stick-pulled: $*" >&2; exit 1; }
source "$(dirname "$0")/uefi-shell.sh"

[ -f "$uefi/zar-sim.efi" ] || fail "$uefi/zar-sim.efi is missing: build the UEFI applications first (make uefi)"
check_boot_tools python3 cmp

rm -rf "$work"
mkdir -p "$work/stage"
cd "$work"

# ---- The image: three blocks, the last one short, the module name at 0x50 --
python3 - <<'PY'
size = 2 * 0x10000 + 5000
x, data = 0x2545F491, bytearray()
for i in range(size):
    x = (x * 1103515245 + 12345) & 0x7FFFFFFF
    b = (x >> 16) & 0xFF
    data.append(0x5A if b == 0xFF else b)
data[0x50:0x70] = b"ZARSTICK".ljust(32, b" ")
open("stage/img.bin", "wb").write(data)
PY
chip=W25X40  # page program

# ---- The disks: the stick holds zar-sim.efi, the image and the log; the ----
# IDE disk (fs0:, mapped first) the script and, after the run, the chip.
{
  echo "@echo -off"
  echo "fs0:"
  echo "if not exist fs1:\\img.bin then"
  echo "  echo ==NO STICK AT FS1=="
  echo "endif"
  echo "echo ==BEGIN stick=="
  echo "fs1:\\zar-sim.efi --chip $chip --ec-latency fixed:$LATENCY --flash-out fs0:\\out.bin /log fs1:\\zar.log fs1:\\img.bin p"
  echo "echo ==STATUS stick %lasterror%=="
  echo "if exist fs1:\\img.bin then"
  echo "  echo ==STICK STILL THERE=="
  echo "endif"
  echo "echo ==DONE=="
  echo "reset -s"
} | sed 's/$/\r/' > stage/startup.nsh
mkfs.fat -C boot.img 4096 > /dev/null
mcopy -i boot.img stage/startup.nsh ::
mkfs.fat -C stick.img 4096 > /dev/null
mcopy -i stick.img "$uefi/zar-sim.efi" stage/img.bin ::

# ---- The boot: the stick goes once block 1 has begun ----------------------
# pulled.txt: seconds since the boot began, then the blocks begun, when the
# stick went; times.txt: when each block and the run's end showed.
pulled=false
elapsed() { echo "$EPOCHREALTIME $start" | awk '{ printf "%.2f", $1 - $2 }'; }
declare -A seen
pull_stick() {
  local marker
  while read -r marker; do
    [ -n "${seen[$marker]:-}" ] || { seen[$marker]=1; echo "$marker $(elapsed)" >> times.txt; }
  done < <(grep -ao 'Block Number     : [0-9]*\|==STATUS stick' raw-serial.txt | tr -d ' ')
  $pulled && return
  [ -n "${seen[BlockNumber:1]:-}" ] || return 0
  pulled=true
  monitor_command monitor.sock "device_del stickdev" || true
  echo "$(elapsed) $(grep -ao 'Block Number' raw-serial.txt | wc -l)" > pulled.txt
}
: > times.txt
start=$EPOCHREALTIME
boot_shell "$QEMU_LIMIT" boot.img pull_stick \
  -monitor "unix:$work/monitor.sock,server=on,wait=off" \
  -device qemu-xhci,id=xhci -drive if=none,id=stick,format=raw,file=stick.img \
  -device usb-storage,bus=xhci.0,drive=stick,id=stickdev
[ $qemu_status -eq 124 ] && fail "QEMU did not finish within $QEMU_LIMIT s: $(tail -n 5 serial.txt)"
[ $qemu_status -eq 0 ] || fail "QEMU ended with status $qemu_status: $(cat qemu-stderr.txt)"
grep -q '==DONE==' serial.txt || fail "startup.nsh did not run to its end: $(tail -n 5 serial.txt)"
mcopy -n -i boot.img ::out.bin out.bin 2>/dev/null || true

# ---- The judgement ---------------------------------------------------------
failures=0
bad() { echo "qemu.stick-pulled: $*"; failures=$((failures + 1)); }
output=$(perl -0777 -ne 'print $1 if /==BEGIN stick==\n(.*?)==STATUS stick \S+==/s' serial.txt)
status=$(perl -0777 -ne 'print $1 if /==STATUS stick (\S+)==/s' serial.txt)
expect_text() { grep -qF -- "$1" <<<"$output" || bad "no \"$1\" in the run's output"; }

grep -q '==NO STICK AT FS1==' serial.txt && bad "the stick was not mapped as fs1:"
if ! $pulled; then
  bad "the run never showed block 1: the stick was not pulled"
elif ! awk -v p="$(cut -d ' ' -f 1 pulled.txt)" '$1 == "==STATUSstick" && p < $2 { found = 1 } END { exit !found }' times.txt; then
  bad "the stick went only after the run had ended"
fi
grep -q '==STICK STILL THERE==' serial.txt && bad "fs1:\\img.bin was still there after the run: device_del did not take the stick"
[ "$status" = 0x0 ] || bad "%lasterror% is $status, expected 0x0"
expect_text "Block Number     : 2 "
expect_text "zar-sim: EC closed with 0xFE"
expect_text "LOG FILE ERROR!! The record of this run could not be written to fs1:\\zar.log."
expect_text "The EC was written all the same: the run ends with the flashing's own status, 0"
# The chip: the image over its length, 0xFF to the end of its last block.
length=$(stat -c %s stage/img.bin)
if [ ! -f out.bin ]; then
  bad "wrote no out.bin"
else
  cmp -s -n "$length" out.bin stage/img.bin || bad "the chip differs from the image: $(cmp -n "$length" out.bin stage/img.bin)"
  rest=$(head -c $((3 * 65536)) out.bin | tail -c +$((length + 1)) | tr -d '\377' | wc -c)
  [ "$rest" -eq 0 ] || bad "$rest bytes other than 0xFF between the image's end and its last block's end"
fi
if [ $failures -ne 0 ]; then
  echo "---- the run's console:"
  echo "$output" | grep -v '^$' | tail -n 30
  exit 1
fi
echo "qemu.stick-pulled: the stick went $(awk '{ printf "at %s s, during block %d", $1, $2 - 1 }' pulled.txt);" \
     "the run ended 0x0 with the image in the chip and said the record was lost"
cat times.txt
