#!/usr/bin/env bash
# Boots OVMF's UEFI Shell under QEMU once, with a FAT disk holding zar.efi,
# zar-sim.efi, their .man pages, test images and a startup.nsh that runs every case
# and shuts the machine down. Leaves in WORK:
#   serial.txt   the console, ANSI sequences and CRs removed
#   times.txt    when each case began and ended (seconds since boot)
#   disk/        what the applications wrote, copied back from the disk
#   host/        the hosted zar-sim's text and files for the same commands
#   chips.txt    the simulated parts each run case uses
# check-case.sh judges each case from these.
#
#   boot-shell.sh UEFI_BUILD_DIR HOST_ZAR_SIM WORK
set -euo pipefail

uefi=$1 host_sim=$2 work=$(realpath -m "$3")
QEMU_LIMIT=${ZAR_QEMU_LIMIT:-240}  # seconds for the whole boot

fail() { echo "qemu.boot: $*" >&2; exit 1; }
source "$(dirname "$0")/uefi-shell.sh"

for f in zar.efi zar-sim.efi zar.man zar-sim.man; do
  [ -f "$uefi/$f" ] || fail "$uefi/$f is missing: build the UEFI applications first (make uefi)"
done
check_boot_tools mmd

rm -rf "$work"
mkdir -p "$work/disk" "$work/host" "$work/stage/imgs"
cd "$work"

# ---- The parts: one of each programming method the flasher has ----------
# --list-chips: NAME  MAKER TYPE CAPACITY  SIZE KiB  page N  METHOD [note]
"$host_sim" --list-chips | tr -d '\r' > chip-list.txt
pick() {  # pick CASE AWK-CONDITION
  local line
  line=$(awk "!/not writable/ && ($2) { print; exit }" chip-list.txt)
  [ -n "$line" ] || fail "no simulated part for $1 in: $(cat chip-list.txt)"
  awk -v c="$1" '{ print c, $1, $5 * 1024 }' <<<"$line" >> chips.txt
}
: > chips.txt
pick page '$9 == "page" && !($2 == "C2" && $4 == "10")'
pick aai-word '$9 == "aai-word"'
pick aai-byte '$9 == "aai-byte"'
pick chunked '$2 == "C2" && $4 == "10" && $9 == "page"'
chip() { awk -v c="$1" '$1 == c { print $2 }' "$work/chips.txt"; }
chip_size() { awk -v c="$1" '$1 == c { print $3 }' "$work/chips.txt"; }

# ---- Images: two full blocks and a short third, or less on a small part --
# Deterministic bytes, never a run of 0xFF; the module name at 0x50.
make_image() {  # make_image FILE SIZE
  perl -e '
    my ($file, $size) = @ARGV; my $x = 0x2545F491; my $data = "";
    for (my $i = 0; $i < $size; $i++) {
      $x = ($x * 1103515245 + 12345) & 0x7FFFFFFF; my $b = ($x >> 16) & 0xFF;
      $data .= chr($b == 0xFF ? 0x5A : $b);
    }
    substr($data, 0x50, 32) = sprintf("%-32s", "ZARTEST1") if $size >= 0x70;
    open(my $f, ">:raw", $file) or die; print $f $data; close $f;' "$1" "$2"
}
image_size() {  # the image for a part of SIZE bytes
  local s=$((2 * 65536 + 5000))
  [ "$1" -ge $((3 * 65536)) ] || s=$(($1 - 5536))
  echo $s
}
for c in page aai-word aai-byte chunked; do
  make_image "stage/img-$c.bin" "$(image_size "$(chip_size $c)")"
done
cp stage/img-page.bin stage/img.bin
# One run reads its image through forward slashes from a folder.
mv stage/img-aai-word.bin stage/imgs/img-aai-word.bin
# An output file larger than the part: "wb" must leave exactly the part.
head -c $(($(chip_size page) + 100000)) /dev/zero | tr '\0' '\125' > stage/out-page.bin
cp "$uefi/zar.efi" "$uefi/zar-sim.efi" "$uefi/zar.man" "$uefi/zar-sim.man" stage/
# The verbs: a chip that holds the page image but for one byte of block 1.
perl -e 'local $/; open(my $f, "<:raw", $ARGV[0]) or die; my $d = <$f>;
  substr($d, 0x10123, 1) = chr(ord(substr($d, 0x10123, 1)) ^ 0xFF);
  open(my $o, ">:raw", $ARGV[1]) or die; print $o $d; close $o;' stage/img-page.bin stage/update-in.bin
# /keep and /backup: one more byte changed, in the sector /keep 0-FFF keeps.
perl -e 'local $/; open(my $f, "<:raw", $ARGV[0]) or die; my $d = <$f>;
  substr($d, 0x123, 1) = chr(ord(substr($d, 0x123, 1)) ^ 0xFF);
  open(my $o, ">:raw", $ARGV[1]) or die; print $o $d; close $o;' stage/update-in.bin stage/keep-in.bin
# The factory script as shipped, with zar-sim.efi standing in for zar.efi.
factory() {  # factory ZAR-COMMAND > SCRIPT
  sed -e "s|^set -v ZAR .*|set -v ZAR \"$1\"|" -e 's|^set -v IMAGE .*|set -v IMAGE img.bin|' \
      -e 's|^set -v LOG .*|set -v LOG factory.log|' "$(dirname "$0")/../../tools/factory/startup.nsh"
}
factory "zar-sim.efi --chip $(chip page)" > stage/factory.nsh
factory "zar-sim.efi --chip $(chip page) --fault read-fail=70000" > stage/factory-fail.nsh

# ---- The same commands on Linux, for the text and trace comparisons ------
(cd stage && "$host_sim" --chip "$(chip page)" img.bin p > ../host/same-text.txt) || true
(cd stage && "$host_sim" --ec-module OTHER --trace ../host/trace.txt img.bin > /dev/null) || true
many_args="img.bin p $(seq -s ' ' 1 68)"  # 70 words for the flasher, 62 at most
(cd stage && "$host_sim" $many_args > ../host/too-many.txt) || true

# ---- The script: each case between ==BEGIN name== and ==STATUS name X== ---
sim_run() {  # sim_run CASE IMAGE-PATH
  echo "zar-sim.efi --chip $(chip $1) --flash-out fs0:\\out-$1.bin $2 p"
}
{
  echo "@echo -off"
  echo "fs0:"
  emit() { echo "echo ==BEGIN $1=="; echo "$2"; echo "echo ==STATUS $1 %lasterror%=="; }
  emit usage "zar"
  emit help "help zar"
  emit dash-help "zar -?"
  emit help-record "help zar -section RECORD"
  emit help-boot "help zar -section BOOT"
  emit missing-image "zar nothere.bin p"
  emit unknown-verb "zar /updte img.bin"
  emit sim-help "zar-sim.efi -?"
  emit write-protected "zar-sim.efi --chip $(chip page) --fault chip-locked img.bin p"
  emit usage-error "zar-sim.efi --no-such-option img.bin"
  emit mismatch "zar-sim.efi --ec-module OTHER --trace fs0:\\trace.txt fs0:\\img.bin"
  emit module-match "zar-sim.efi --chip $(chip page) --flash-out fs0:\\out-match.bin fs0:\\img-page.bin"
  emit run-page "$(sim_run page fs0:\\img-page.bin)"
  emit run-aai-word "zar-sim.efi --chip $(chip aai-word) --flash-out out-aai-word.bin imgs/img-aai-word.bin p"
  emit run-aai-byte "$(sim_run aai-byte fs0:\\img-aai-byte.bin)"
  emit run-chunked "$(sim_run chunked fs0:\\img-chunked.bin)"
  emit same-text "zar-sim.efi --chip $(chip page) img.bin p"
  emit alloc-fail "zar-sim.efi --fault alloc-fail img.bin p"
  emit read-fail "zar-sim.efi --fault read-fail=70000 img.bin p"
  emit name-read-fail "zar-sim.efi --fault read-fail=0x60 img.bin"
  emit too-many "zar-sim.efi $many_args"
  emit dead-ec "zar.efi img.bin p"
  # The verbs
  page=$(chip page)
  emit probe "zar-sim.efi --chip $page /probe"
  emit read "zar-sim.efi --chip $page --flash-in img-page.bin --flash-out out-readchip.bin /read fs0:\\out-read.bin"
  emit read-exists "zar-sim.efi --chip $page /read img.bin"
  emit read-flip "zar-sim.efi --chip $page --fault read-flip=0x100:2 /read fs0:\\out-flip.bin"
  emit verify "zar-sim.efi --chip $page --flash-in img-page.bin /verify img-page.bin p /j"
  emit verify-differs "zar-sim.efi --chip $page --flash-in update-in.bin /verify img-page.bin p"
  emit update "zar-sim.efi --chip $page --flash-in update-in.bin --flash-out out-update.bin /update img-page.bin p"
  emit update-keep "zar-sim.efi --chip $page --flash-in keep-in.bin --flash-out out-keep.bin /keep 0-FFF /backup fs0:\\out-backup.bin /update img-page.bin p"
  emit backup-full "zar-sim.efi --chip $page --fault write-fail=4096 --flash-in update-in.bin --flash-out out-full-chip.bin /backup fs0:\\out-full.bin /update img-page.bin p"
  # A run cut short, then the one its console advised
  emit rerun "zar-sim.efi --chip $(chip page) --wait-limit 1000 --fault ec-obf-never=20000 --rerun --flash-out fs0:\\out-rerun.bin img-page.bin"
  # The run's record, with the machine's identity from QEMU's SMBIOS tables.
  emit log-sim "zar-sim.efi /log fs0:\\zar.log img.bin p"
  emit log-again "zar-sim.efi --ec-module OTHER /log fs0:\\zar.log img.bin"
  emit log-zar "zar.efi /log fs0:\\zar.log"
  emit log-refused "zar-sim.efi /log fs0:\\imgs img.bin p"
  # The factory script: a failed run leaves no mark, a good one flashes and
  # marks the machine, and the next boot does nothing.
  emit factory-fail "factory-fail.nsh"
  emit factory-first "factory.nsh"
  emit factory-again "factory.nsh"
  echo "echo ==DONE=="
  echo "reset -s"
} | sed 's/$/\r/' > stage/startup.nsh

# ---- The disk -------------------------------------------------------------
rm -f fat.img
mkfs.fat -C fat.img 32768 >/dev/null
mmd -i fat.img ::imgs
mcopy -i fat.img stage/imgs/img-aai-word.bin ::imgs/
for f in stage/*; do
  [ -f "$f" ] && mcopy -i fat.img "$f" ::
done

# ---- The boot -------------------------------------------------------------
start_clock
boot_shell "$QEMU_LIMIT" fat.img note_markers \
  -smbios "type=1,manufacturer=ZAR Test Works,product=Factory Line 7,serial=ZAR-SN-0042"
rc=$qemu_status
echo "qemu ran $(elapsed) s, exit status $rc"

for f in $(mdir -b -i fat.img :: 2>/dev/null | grep -E '((out-.*|trace)\.(bin|txt)|(zar|factory)\.log)$' || true); do
  mcopy -n -i fat.img "$f" disk/ 2>/dev/null || true
done

# Per-case times: begin to end, seconds.
awk '$2 == "BEGIN" { b[$1] = $3 } $2 == "STATUS" && ($1 in b) { printf "%-14s %6.2f s\n", $1, $3 - b[$1] }' \
  times.txt > case-times.txt
cat case-times.txt

[ $rc -eq 124 ] && fail "QEMU did not finish within $QEMU_LIMIT s; the last case begun: $(tail -n 1 times.txt)"
[ $rc -eq 0 ] || fail "QEMU ended with status $rc: $(cat qemu-stderr.txt)"
grep -q '==DONE==' serial.txt || fail "startup.nsh did not run to its end; last case begun: $(tail -n 1 times.txt)"
