#!/usr/bin/env bash
# Secure Boot in OVMF: keys made for this run only, enrolled by enrol-keys.efi
# in a first boot (setup mode); in a second boot (user mode) the Shell, signed
# with the run's db key, runs the signed zar-sim.efi, and the firmware
# refuses the unsigned zar.efi. Leaves in WORK the consoles of both boots
# (boot1.txt, boot2.txt) and judges them.
#
#   secure-boot.sh UEFI_BUILD_DIR WORK
set -euo pipefail

uefi=$(realpath -m "$1") work=$(realpath -m "$2")
here=$(cd "$(dirname "$0")" && pwd)
BOOT_LIMIT=${ZAR_QEMU_SECURE_BOOT_LIMIT:-60}  # seconds for each boot
CODE=/usr/share/OVMF/OVMF_CODE_4M.secboot.fd
VARS=/usr/share/OVMF/OVMF_VARS_4M.fd  # empty: setup mode

fail() { echo "qemu.secure-boot: $*" >&2; exit 1; }
source "$here/secure-boot-keys.sh"

for f in zar.efi zar-sim.efi enrol-keys.efi; do
  [ -f "$uefi/$f" ] || fail "$uefi/$f is missing: build the UEFI applications first (make uefi)"
done
for tool in qemu-system-x86_64 timeout openssl cert-to-efi-sig-list sign-efi-sig-list sbsign python3 mcopy mkfs.fat perl; do
  command -v $tool >/dev/null || fail "$tool is missing (tools/install-deps.sh installs it)"
done
for f in "$CODE" "$VARS"; do
  [ -f "$f" ] || fail "no $f (package ovmf)"
done

rm -rf "$work"
mkdir -p "$work/keys" "$work/disk"
cd "$work"

# ---- Keys for this run only: PK signs KEK, KEK signs db, db signs images --
make_secure_boot_keys keys disk

# ---- The disk: the signed Shell boots from it; zar-sim.efi is signed, -----
# zar.efi is not. A refused image ends the script that started it, so
# zar.efi runs from a script of its own.
python3 "$here/extract-shell.py" "$CODE" disk/Shell.efi
cp "$uefi/zar.efi" "$uefi/zar-sim.efi" "$uefi/enrol-keys.efi" disk/
"$here/../../tools/sign-efi.sh" keys/db.key keys/db.crt disk/Shell.efi disk/zar-sim.efi > /dev/null
mv disk/Shell.signed.efi disk/BOOTX64.EFI
mv disk/zar-sim.signed.efi disk/zar-sim.efi
rm disk/Shell.efi
printf 'zar.efi\r\n' > disk/unsigned.nsh
script() {  # script LINE... : a startup.nsh
  { echo "@echo -off"; echo "fs0:"; printf '%s\n' "$@"; echo "echo ==DONE=="; echo "reset -s"; } | sed 's/$/\r/'
}
script "enrol-keys.efi db db.auth KEK KEK.auth PK PK.auth" "echo ==STATUS enrol %lasterror%==" > disk/startup1.nsh
script "echo ==BEGIN secure-boot==" "dmpstore SecureBoot" \
  "echo ==BEGIN signed==" "zar-sim.efi /probe" "echo ==STATUS signed %lasterror%==" \
  "echo ==BEGIN unsigned==" "unsigned.nsh" "echo ==STATUS unsigned %lasterror%==" > disk/startup2.nsh

mkfs.fat -C fat.img 8192 > /dev/null
mmd -i fat.img ::EFI ::EFI/BOOT
mcopy -i fat.img disk/BOOTX64.EFI ::EFI/BOOT/
mcopy -i fat.img disk/zar.efi disk/zar-sim.efi disk/enrol-keys.efi disk/*.auth disk/unsigned.nsh ::
cp "$VARS" vars.fd

# ---- The two boots, one variable store ------------------------------------
boot() {  # boot N: startupN.nsh as startup.nsh, the console into bootN.txt
  mcopy -o -i fat.img "disk/startup$1.nsh" ::startup.nsh
  local start=$SECONDS
  # Software emulation (this machine's KVM does not run OVMF); the Shell's
  # five seconds before startup.nsh are left to run out.
  BOOT_STATUS=0
  timeout "$BOOT_LIMIT" qemu-system-x86_64 -machine q35,smm=on -accel tcg -m 256 -smp 1 -nographic -no-reboot \
    -global driver=cfi.pflash01,property=secure,value=on \
    -drive if=pflash,format=raw,unit=0,readonly=on,file="$CODE" -drive if=pflash,format=raw,unit=1,file=vars.fd \
    -drive file=fat.img,format=raw,if=ide -net none -serial stdio -monitor none \
    < /dev/null > "raw-boot$1.txt" 2> "qemu-boot$1.txt" || BOOT_STATUS=$?
  perl -pe 's/\e\[[0-9;=?]*[A-Za-z]//g; s/\r//g' "raw-boot$1.txt" > "boot$1.txt"
  echo "boot $1: $((SECONDS - start)) s, QEMU exit status $BOOT_STATUS"
  [ $BOOT_STATUS -ne 124 ] || fail "boot $1 did not finish within $BOOT_LIMIT s; its console ends: $(tail -n 5 "boot$1.txt")"
  [ $BOOT_STATUS -eq 0 ] || fail "QEMU ended boot $1 with status $BOOT_STATUS: $(cat "qemu-boot$1.txt")"
  grep -q '==DONE==' "boot$1.txt" || fail "boot $1's startup.nsh did not run to its end: $(tail -n 5 "boot$1.txt")"
}

failures=0
bad() { echo "qemu.secure-boot: $*"; failures=$((failures + 1)); }
between() {  # between NAME FILE: a case's text
  perl -0777 -ne "print \$1 if /==BEGIN \Q$1\E==\n(.*?)==(BEGIN|STATUS) /s" "$2"
}
status() { perl -0777 -ne "print \$1 if /==STATUS \Q$1\E (\S+)==/s" "$2"; }

boot 1
[ "$(status enrol boot1.txt)" = 0x0 ] || bad "enrol-keys.efi ended with $(status enrol boot1.txt), not 0x0"
for name in db KEK PK; do
  grep -q "^enrol-keys: $name enrolled from $name.auth" boot1.txt || bad "$name was not enrolled"
done
[ $failures -eq 0 ] || { tail -n 20 boot1.txt; exit 1; }

boot 2
grep -q '^BdsDxe: starting .*HARDDISK' boot2.txt || bad "the firmware did not start the disk's Shell"
# The SecureBoot variable, one byte: 01 means the firmware enforces signatures.
between secure-boot boot2.txt | grep -q "^  00000000: 01 " || bad "SecureBoot is not 1: $(between secure-boot boot2.txt)"
[ "$(status signed boot2.txt)" = 0x0 ] || bad "the signed zar-sim.efi ended with $(status signed boot2.txt), not 0x0"
between signed boot2.txt | grep -q "^zar-sim: EC closed with 0xFE" || bad "the signed zar-sim.efi did not probe the chip"
# The firmware refuses the image with EFI_SECURITY_VIOLATION; the Shell
# reports it as EFI_ACCESS_DENIED and ends the script that asked.
[ "$(status unsigned boot2.txt)" = 0xF ] || bad "the unsigned zar.efi gave $(status unsigned boot2.txt), not 0xF"
between unsigned boot2.txt | grep -q "Access Denied" || bad "the Shell did not report the unsigned zar.efi refused"
if [ $failures -ne 0 ]; then
  echo "---- the second boot's console:"
  sed -n '/==BEGIN secure-boot==/,$p' boot2.txt | head -n 40
  exit 1
fi
echo "Secure Boot on (SecureBoot 01): the signed zar-sim.efi ran (0x0), the unsigned zar.efi was refused (0xF)"
