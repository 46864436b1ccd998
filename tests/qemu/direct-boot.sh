#!/usr/bin/env bash
# Runs without a Shell, in OVMF under QEMU with Secure Boot off: three boots
# of one FAT disk and one variable store.
#   1. file     \EFI\BOOT\BOOTX64.EFI is zar-sim.efi, its words in zar.args
#               beside it (/log, /wait 0, /then off, /update ec.bin p). The
#               run powers the machine off; the record beside it says status
#               0, and the chip equals the image.
#   2. refused  zar.args with a quote never closed: the run says so, waits for
#               a key (the serial console sends one) and returns
#               EFI_LOAD_ERROR to the boot manager, which says so and moves on
#               to the firmware's own Shell. Its startup.nsh writes a boot
#               option with the Shell's bcfg: \EFI\ZAR\zar-sim.efi, the
#               first the boot manager tries, its words in the option's optional data (opt.bin,
#               UCS-2, the program's name in front), then powers off.
#   3. option   the boot manager starts that option: the same run, its words
#               from the load options, its files in \EFI\ZAR.
# Leaves the consoles (boot1.txt ...) and the disk's files in WORK.
#
#   direct-boot.sh UEFI_BUILD_DIR WORK
set -euo pipefail

uefi=$(realpath -m "$1") work=$(realpath -m "$2")
BOOT_LIMIT=${ZAR_QEMU_DIRECT_LIMIT:-60}  # seconds for each boot
CHIP=W25X40
WORDS="--chip $CHIP --flash-out out.bin /log zar.log /wait 0 /then off /update ec.bin p"

fail() { echo "qemu.direct-boot: $*" >&2; exit 1; }
source "$(dirname "$0")/uefi-shell.sh"

[ -f "$uefi/zar-sim.efi" ] || fail "$uefi/zar-sim.efi is missing: build the UEFI applications first (make uefi)"
check_boot_tools mmd mdel python3 cmp
export PFLASH_CODE=/usr/share/OVMF/OVMF_CODE_4M.fd PFLASH_VARS=$work/vars.fd
for f in "$PFLASH_CODE" /usr/share/OVMF/OVMF_VARS_4M.fd; do
  [ -f "$f" ] || fail "no $f (package ovmf)"
done

rm -rf "$work"
mkdir -p "$work/stage"
cd "$work"
cp /usr/share/OVMF/OVMF_VARS_4M.fd vars.fd

# ---- The disk ----------------------------------------------------------------
python3 - <<'PY'
size = 0x12000  # a block and a bit: one 64 KiB erase and two 4 KiB ones
x, data = 0x2545F491, bytearray()
for i in range(size):
    x = (x * 1103515245 + 12345) & 0x7FFFFFFF
    b = (x >> 16) & 0xFF
    data.append(0x5A if b == 0xFF else b)
data[0x50:0x70] = b"ZARDIRECT".ljust(32, b" ")
open("stage/ec.bin", "wb").write(data)
PY
printf '# ZAR, started by the boot manager\r\n%s\r\n' "$WORDS" > stage/zar.args
printf '/wait 5 "%s\r\n' "$WORDS" > stage/refused.args
python3 -c 'import sys; open("stage/opt.bin", "wb").write(("zar-sim.efi " + sys.argv[1] + "\0").encode("utf-16-le"))' "$WORDS"
{
  echo "@echo -off"
  echo "echo ==SHELL=="
  # Position 1: the first the boot manager tries (UiApp, at 0, is its
  # menu, never booted from BootOrder), and the one index this bcfg's -opt
  # takes there: it refuses the index 0.
  echo "bcfg boot add 1 fs0:\\EFI\\ZAR\\zar-sim.efi \"ZAR words\""
  echo "bcfg boot -opt 1 fs0:\\opt.bin"
  echo "echo ==OPTION WRITTEN=="
  echo "reset -s"
} | sed 's/$/\r/' > stage/startup.nsh
mkfs.fat -C fat.img 8192 > /dev/null
mmd -i fat.img ::EFI ::EFI/BOOT ::EFI/ZAR
mcopy -i fat.img "$uefi/zar-sim.efi" ::EFI/BOOT/BOOTX64.EFI
mcopy -i fat.img "$uefi/zar-sim.efi" stage/ec.bin ::EFI/ZAR/
mcopy -i fat.img stage/zar.args stage/ec.bin ::EFI/BOOT/
mcopy -i fat.img stage/opt.bin stage/startup.nsh ::

# ---- The boots ---------------------------------------------------------------
key_sent=false
press_a_key() {  # a TICK: one key when the run's last line asks for it
  if ! $key_sent && grep -aq 'Press a key to go on' raw-serial.txt; then
    printf 'x' >&3
    key_sent=true
  fi
}
boot() {  # boot N: the console into bootN.txt
  local start=$SECONDS
  key_sent=false
  boot_shell "$BOOT_LIMIT" fat.img press_a_key
  cp serial.txt "boot$1.txt"
  echo "boot $1: $((SECONDS - start)) s, QEMU exit status $qemu_status"
  [ "$qemu_status" -ne 124 ] || fail "boot $1 did not end within $BOOT_LIMIT s; its console ends: $(tail -n 5 "boot$1.txt")"
  [ "$qemu_status" -eq 0 ] || fail "QEMU ended boot $1 with status $qemu_status: $(cat qemu-stderr.txt)"
}

failures=0
bad() { echo "qemu.direct-boot: $*"; failures=$((failures + 1)); }
expect() {  # expect N TEXT: the text in boot N's console
  grep -qF -- "$2" "boot$1.txt" || bad "boot $1: no \"$2\" in its console"
}
refuse() {
  ! grep -qF -- "$2" "boot$1.txt" || bad "boot $1: \"$2\" in its console"
}
# The record and the chip a run left in FOLDER: status 0, closed with 0xFE,
# the chip the image over its length.
expect_flashed() {  # expect_flashed N FOLDER
  local log out
  log=$(mtype -i fat.img "::$2/zar.log" 2>/dev/null | tr -d '\r') || true
  grep -qE '^ZAR-END .* status=0 \(OK\) close=FE \(FOLLOW_EXIT\)$' <<<"$log" ||
    bad "boot $1: the record in $2/zar.log does not say status 0: $(grep '^ZAR-END' <<<"$log")"
  out=out-$1.bin
  mcopy -n -i fat.img "::$2/out.bin" "$out" 2>/dev/null || { bad "boot $1: no $2/out.bin"; return; }
  cmp -s -n "$(stat -c %s stage/ec.bin)" "$out" stage/ec.bin || bad "boot $1: the chip differs from the image"
}

boot 1
expect 1 'BdsDxe: starting Boot0002 "UEFI QEMU HARDDISK'
expect 1 "zar-sim: EC closed with 0xFE"
expect 1 "RUN ENDED: EFI_SUCCESS (0x0). Then the machine powers off."
refuse 1 "==SHELL=="
expect_flashed 1 EFI/BOOT

mcopy -o -i fat.img stage/refused.args ::EFI/BOOT/zar.args
mdel -i fat.img ::EFI/BOOT/zar.log ::EFI/BOOT/out.bin
boot 2
expect 2 "COMMAND LINE ERROR!! \\EFI\\BOOT\\zar.args: a quote that is never closed. Nothing was sent to the EC."
expect 2 "RUN ENDED: EFI_LOAD_ERROR (0x1). Press a key to go on (30 s)."
expect 2 'BdsDxe: failed to start Boot0002 "UEFI QEMU HARDDISK'
grep -q 'BdsDxe: failed to start Boot0002 .*: Load Error$' boot2.txt || bad "boot 2: the boot manager did not get EFI_LOAD_ERROR"
refuse 2 "zar-sim:"
expect 2 "==OPTION WRITTEN=="
refuse 2 "bcfg: Invalid"
mdir -i fat.img ::EFI/BOOT/out.bin > /dev/null 2>&1 && bad "boot 2: the refused run wrote a chip"

boot 3
grep -qE 'BdsDxe: starting Boot[0-9A-F]{4} "ZAR words"' boot3.txt || bad "boot 3: the boot manager did not start the ZAR words option"
expect 3 "RUN ENDED: EFI_SUCCESS (0x0). Then the machine powers off."
refuse 3 "==SHELL=="
expect_flashed 3 EFI/ZAR

if [ $failures -ne 0 ]; then
  for n in 1 2 3; do
    echo "---- boot $n:"
    grep -v '^$' "boot$n.txt" | tail -n 25
  done
  exit 1
fi
echo "qemu.direct-boot: zar-sim.efi as BOOTX64.EFI with zar.args, and as a boot option with its words in the" \
     "optional data: both ended 0 with the chip equal to the image; a zar.args it refused gave the boot manager" \
     "EFI_LOAD_ERROR"
