#!/usr/bin/env bash
# Secure Boot without a Shell of our own: keys made for this run only; three
# boots of one variable store.
#   1. setup mode: the firmware's own Shell runs enrol-keys.efi from
#      startup.nsh (nothing is enforced yet); PK goes last and ends setup mode.
#   2. user mode: the disk's \EFI\BOOT\BOOTX64.EFI is zar-sim.efi signed with
#      the run's db key, zar.args beside it. The boot manager starts it: it
#      runs /probe, writes its record beside it and powers the machine off.
#   3. user mode: the unsigned zar.efi in its place. The firmware refuses to
#      start it and the boot manager moves on to its own Shell, which this
#      OVMF's build refuses to start while Secure Boot is on; the record on
#      the disk is still the one of boot 2 alone. QEMU is stopped through its
#      monitor once the boot manager has run out of options.
# Leaves in WORK the consoles (boot1.txt ...) and judges them.
#
#   secure-boot-direct.sh UEFI_BUILD_DIR WORK
set -euo pipefail

uefi=$(realpath -m "$1") work=$(realpath -m "$2")
here=$(cd "$(dirname "$0")" && pwd)
BOOT_LIMIT=${ZAR_QEMU_SECURE_BOOT_LIMIT:-60}  # seconds for each boot
CODE=/usr/share/OVMF/OVMF_CODE_4M.secboot.fd
VARS=/usr/share/OVMF/OVMF_VARS_4M.fd  # empty: setup mode

fail() { echo "qemu.secure-boot-direct: $*" >&2; exit 1; }
source "$here/uefi-shell.sh"
source "$here/secure-boot-keys.sh"

for f in zar.efi zar-sim.efi enrol-keys.efi; do
  [ -f "$uefi/$f" ] || fail "$uefi/$f is missing: build the UEFI applications first (make uefi)"
done
check_boot_tools mmd mdel mtype openssl cert-to-efi-sig-list sign-efi-sig-list sbsign python3
for f in "$CODE" "$VARS"; do
  [ -f "$f" ] || fail "no $f (package ovmf)"
done

rm -rf "$work"
mkdir -p "$work/sb-keys" "$work/disk"
cd "$work"
make_secure_boot_keys sb-keys disk

# ---- The disk: enrol-keys.efi and its files; the loaders come later --------
cp "$uefi/zar.efi" "$uefi/zar-sim.efi" "$uefi/enrol-keys.efi" disk/
"$here/../../tools/sign-efi.sh" sb-keys/db.key sb-keys/db.crt disk/zar-sim.efi > /dev/null
printf '/log zar.log /wait 0 /then off /probe\r\n' > disk/zar.args
{
  echo "@echo -off"
  echo "fs0:"
  echo "enrol-keys.efi db db.auth KEK KEK.auth PK PK.auth"
  echo "echo ==STATUS enrol %lasterror%=="
  echo "reset -s"
} | sed 's/$/\r/' > disk/startup.nsh
mkfs.fat -C fat.img 8192 > /dev/null
mmd -i fat.img ::EFI ::EFI/BOOT
mcopy -i fat.img disk/enrol-keys.efi disk/*.auth disk/startup.nsh ::
mcopy -i fat.img disk/zar.args ::EFI/BOOT/
cp "$VARS" vars.fd

# ---- The boots ---------------------------------------------------------------
export PFLASH_CODE=$CODE PFLASH_VARS=$work/vars.fd
quit_sent=false
quit_at_the_menu() {  # a TICK: the boot manager, out of options, waits for a user; stop there
  if ! $quit_sent && grep -aqE 'No bootable option or device was found|starting Boot0000 "UiApp"' raw-serial.txt; then
    quit_sent=true
    monitor_command "$work/monitor.sock" quit || true
  fi
}
boot() {  # boot N: the console into bootN.txt
  local start=$SECONDS
  quit_sent=false
  boot_shell "$BOOT_LIMIT" fat.img quit_at_the_menu -machine q35,smm=on \
    -global driver=cfi.pflash01,property=secure,value=on -monitor "unix:$work/monitor.sock,server=on,wait=off"
  cp serial.txt "boot$1.txt"
  echo "boot $1: $((SECONDS - start)) s, QEMU exit status $qemu_status"
  [ "$qemu_status" -ne 124 ] || fail "boot $1 did not end within $BOOT_LIMIT s; its console ends: $(tail -n 5 "boot$1.txt")"
  [ "$qemu_status" -eq 0 ] || fail "QEMU ended boot $1 with status $qemu_status: $(cat qemu-stderr.txt)"
}

failures=0
bad() { echo "qemu.secure-boot-direct: $*"; failures=$((failures + 1)); }
expect() {  # expect N TEXT: the text in boot N's console
  grep -qF -- "$2" "boot$1.txt" || bad "boot $1: no \"$2\" in its console"
}
records() { mtype -i fat.img ::EFI/BOOT/zar.log 2>/dev/null | tr -d '\r' | grep -c '^ZAR-END ' || true; }

boot 1
expect 1 "==STATUS enrol 0x0=="
for name in db KEK PK; do
  expect 1 "enrol-keys: $name enrolled from $name.auth"
done
[ $failures -eq 0 ] || { tail -n 20 boot1.txt; exit 1; }

mdel -i fat.img ::startup.nsh
mcopy -i fat.img disk/zar-sim.signed.efi ::EFI/BOOT/BOOTX64.EFI
boot 2
expect 2 'BdsDxe: starting Boot0002 "UEFI QEMU HARDDISK'
expect 2 "zar-sim: EC closed with 0xFE"
expect 2 "RUN ENDED: EFI_SUCCESS (0x0). Then the machine powers off."
[ "$(records)" -eq 1 ] || bad "boot 2: \\EFI\\BOOT\\zar.log holds $(records) records, not 1"
mtype -i fat.img ::EFI/BOOT/zar.log 2>/dev/null | tr -d '\r' | grep -qE '^ZAR-END .* status=0 \(OK\) close=FE' ||
  bad "boot 2: the record does not say status 0 and 0xFE"

mcopy -o -i fat.img disk/zar.efi ::EFI/BOOT/BOOTX64.EFI
boot 3
grep -qE 'BdsDxe: failed to (load|start) Boot0002 "UEFI QEMU HARDDISK.*(Access Denied|Security Violation)' boot3.txt ||
  bad "boot 3: the firmware did not refuse the unsigned zar.efi"
grep -qE 'BdsDxe: failed to start Boot[0-9A-F]{4} "EFI Internal Shell".*: Security Violation' boot3.txt ||
  bad "boot 3: the firmware's own Shell did not refuse to start under Secure Boot"
grep -F 'RUN ENDED' boot3.txt && bad "boot 3: the unsigned zar.efi ran"
[ "$(records)" -eq 1 ] || bad "boot 3: \\EFI\\BOOT\\zar.log holds $(records) records, not the first run's alone"

if [ $failures -ne 0 ]; then
  for n in 2 3; do
    echo "---- boot $n:"
    grep -v '^$' "boot$n.txt" | tail -n 25 | cut -c1-200
  done
  exit 1
fi
echo "qemu.secure-boot-direct: Secure Boot on, no Shell: the signed zar-sim.efi ran from BOOTX64.EFI (0x0, its" \
     "record on the disk); the unsigned zar.efi in its place was refused: $(grep -oE '(Access Denied|Security Violation).*' boot3.txt | head -n 1)"
