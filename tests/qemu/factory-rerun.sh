#!/usr/bin/env bash
# The factory script after a run cut short. Two boots of OVMF's UEFI Shell
# from one disk with one variable store (the machine's NVRAM), each running
# the shipped startup.nsh with zar-sim.efi standing in for zar.efi, its EC
# and chip kept in fs0:\sim.state across the restart (--state). In the first
# boot the EC stops taking bytes while block 1 is programmed: the run ends
# with 0x12 and leaves the EC in follow mode. The second boot finds the
# script's pending mark, reruns with p, and finishes: the chip equals the
# image, the log holds both runs' records; then unmark.nsh takes the mark
# off. Leaves in WORK both boots' consoles (boot1.txt, boot2.txt) and the
# disk's files, and judges them.
#
#   factory-rerun.sh UEFI_BUILD_DIR WORK
set -euo pipefail

uefi=$(realpath -m "$1") work=$(realpath -m "$2")
here=$(cd "$(dirname "$0")" && pwd)
BOOT_LIMIT=${ZAR_QEMU_FACTORY_LIMIT:-120}  # seconds for each boot
CODE=/usr/share/OVMF/OVMF_CODE_4M.fd
VARS=/usr/share/OVMF/OVMF_VARS_4M.fd
CHIP=W25X40
# EC writes after which it takes no more: in block 1's program, by the
# hosted zar-sim on the same image (the console names the block and step).
CUT_AFTER=400000

fail() { echo "qemu.factory-rerun: $*" >&2; exit 1; }
source "$here/uefi-shell.sh"

[ -f "$uefi/zar-sim.efi" ] || fail "$uefi/zar-sim.efi is missing: build the UEFI applications first (make uefi)"
check_boot_tools python3 mmd cmp
for f in "$CODE" "$VARS"; do
  [ -f "$f" ] || fail "no $f (package ovmf)"
done

rm -rf "$work"
mkdir -p "$work/disk" "$work/out"
cd "$work"

# ---- The image: three blocks, the last one short, the module name at 0x50 --
python3 - <<'PY'
size = 2 * 0x10000 + 5000
x, data = 0x2545F491, bytearray()
for i in range(size):
    x = (x * 1103515245 + 12345) & 0x7FFFFFFF
    b = (x >> 16) & 0xFF
    data.append(0x5A if b == 0xFF else b)
data[0x50:0x70] = b"ZARTEST1".ljust(32, b" ")
open("disk/img.bin", "wb").write(data)
PY

# ---- The disk: the Shell boots from it; the scripts as shipped ------------
python3 "$here/extract-shell.py" "$CODE" disk/BOOTX64.EFI
cp "$uefi/zar-sim.efi" disk/
# The fault comes from a Shell variable each boot sets before the script: in
# the second it never fires (an EC that takes 2^32 - 1 bytes first).
sed -e "s|^set -v ZAR .*|set -v ZAR \"zar-sim.efi --chip $CHIP --wait-limit 1000 --state fs0:\\\\sim.state --flash-out fs0:\\\\out.bin --fault %zar_sim_fault%\"|" \
    -e 's|^set -v IMAGE .*|set -v IMAGE img.bin|' -e 's|^set -v LOG .*|set -v LOG factory.log|' \
    "$here/../../tools/factory/startup.nsh" > disk/factory.nsh
sed -e 's|^set -v IMAGE .*|set -v IMAGE img.bin|' "$here/../../tools/factory/unmark.nsh" > disk/unmark.nsh
grep -q 'zar_sim_fault' disk/factory.nsh || fail "the script's ZAR line was not found"
script() {  # script LINE... : a startup.nsh
  { echo "@echo -off"; echo "fs0:"; printf '%s\n' "$@"; echo "echo ==DONE=="; echo "reset -s"; } | sed 's/$/\r/'
}
script "set -v zar_sim_fault ec-ibf-stuck=$CUT_AFTER" "echo ==BEGIN first==" "factory.nsh" "echo ==END first==" \
  > disk/startup1.nsh
script "set -v zar_sim_fault ec-ibf-stuck=4294967295" "echo ==BEGIN second==" "factory.nsh" "echo ==END second==" \
  "echo ==BEGIN unmark==" "unmark.nsh" "if \"%zar_flashed%\" == \"img.bin\" then" "  echo ==STILL MARKED==" \
  "endif" "echo ==END unmark==" > disk/startup2.nsh
for f in disk/factory.nsh disk/unmark.nsh; do sed -i 's/$/\r/' "$f"; done

mkfs.fat -C fat.img 8192 > /dev/null
mmd -i fat.img ::EFI ::EFI/BOOT
mcopy -i fat.img disk/BOOTX64.EFI ::EFI/BOOT/
mcopy -i fat.img disk/zar-sim.efi disk/img.bin disk/factory.nsh disk/unmark.nsh ::
cp "$VARS" vars.fd

# ---- The two boots, one variable store and one disk -----------------------
boot() {  # boot N: startupN.nsh as startup.nsh, the console into bootN.txt
  mcopy -o -i fat.img "disk/startup$1.nsh" ::startup.nsh
  local start=$SECONDS
  PFLASH_CODE=$CODE PFLASH_VARS=vars.fd boot_shell "$BOOT_LIMIT" fat.img :
  mv serial.txt "boot$1.txt"
  mv qemu-stderr.txt "qemu-boot$1.txt"
  echo "boot $1: $((SECONDS - start)) s, QEMU exit status $qemu_status"
  [ $qemu_status -ne 124 ] || fail "boot $1 did not finish within $BOOT_LIMIT s; its console ends: $(tail -n 5 "boot$1.txt")"
  [ $qemu_status -eq 0 ] || fail "QEMU ended boot $1 with status $qemu_status: $(cat "qemu-boot$1.txt")"
  grep -q '==DONE==' "boot$1.txt" || fail "boot $1's startup.nsh did not run to its end: $(tail -n 5 "boot$1.txt")"
}

failures=0
bad() { echo "qemu.factory-rerun: $*"; failures=$((failures + 1)); }
between() {  # between NAME FILE: a part's text
  perl -0777 -ne "print \$1 if /==BEGIN \Q$1\E==\n(.*?)==END \Q$1\E==/s" "$2"
}
expect() {  # expect PART FILE TEXT
  between "$1" "$2" | grep -qF -- "$3" || bad "$1: no \"$3\""
}

boot 1
expect first boot1.txt "NO ANSWER!! The EC input buffer wait ran out at block 1."
expect first boot1.txt "Failed           : block 1 of 3, program: the EC input buffer wait ran out"
expect first boot1.txt "zar-sim: EC left in follow mode"
expect first boot1.txt "ZAR: FLASHING FAILED, status 0x12: see the end of factory.log."
expect first boot1.txt "ZAR: do not switch off: the EC may be in follow mode."

boot 2
expect second boot2.txt "ZAR: the last run on this machine did not finish: flashing again with p."
expect second boot2.txt "zar-sim: EC closed with 0xFE"
expect second boot2.txt "ZAR: img.bin flashed and verified; the record is in factory.log."
expect unmark boot2.txt "ZAR: the mark zar_flashed is removed; this machine may leave the line."
between unmark boot2.txt | grep -q "==STILL MARKED==" && bad "unmark.nsh left the mark zar_flashed"

for f in out.bin factory.log; do
  mcopy -n -i fat.img "::$f" out/ 2>/dev/null || bad "the disk holds no $f"
done
cmp -s -n "$(stat -c %s disk/img.bin)" disk/img.bin out/out.bin || bad "the chip does not hold the image after the second boot"
log=$(tr -d '\r' < out/factory.log 2>/dev/null || true)
[ "$(grep -c '^ZAR-RUN ' <<<"$log")" -eq 2 ] || bad "factory.log holds $(grep -c '^ZAR-RUN ' <<<"$log") records, not 2"
grep '^ZAR-CMD ' <<<"$log" | sed -n 2p | grep -q ' /log factory.log img.bin p$' || bad "the second run was not made with p"
grep '^ZAR-END ' <<<"$log" | sed -n 1p | grep -q ' status=4 (NO_ANSWER) close=none$' || bad "the first record: $(grep '^ZAR-END ' <<<"$log" | sed -n 1p)"
grep '^ZAR-END ' <<<"$log" | sed -n 2p | grep -q ' status=0 (OK) close=FE (FOLLOW_EXIT)$' || bad "the second record: $(grep '^ZAR-END ' <<<"$log" | sed -n 2p)"

if [ $failures -ne 0 ]; then
  for n in 1 2; do echo "---- boot $n's console:"; sed -n '/==BEGIN/,$p' "boot$n.txt" | tail -n 40; done
  exit 1
fi
echo "the first boot's run was cut in block 1 (0x12), the second reran it with p and finished (0x0): chip equal, two records, the mark removed"
