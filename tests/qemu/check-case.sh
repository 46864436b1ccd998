#!/usr/bin/env bash
# Judges one case of the QEMU boot (boot-shell.sh) from its console text, its
# %lasterror% and the files it wrote.
#   check-case.sh NAME WORK
set -uo pipefail

name=$1 work=$2
cd "$work" || { echo "no QEMU work folder $work: qemu.boot did not run"; exit 1; }

# The text between the case's markers, and the status the Shell reported.
output=$(perl -0777 -ne "print \$1 if /==BEGIN \Q$name\E==\n(.*?)==STATUS \Q$name\E \S+==/s" serial.txt)
status=$(perl -0777 -ne "print \$1 if /==STATUS \Q$name\E (\S+)==/s" serial.txt)
if [ -z "$status" ]; then
  echo "case $name: never finished (last lines of the console:)"
  tail -n 15 serial.txt
  exit 1
fi

failures=0
bad() { echo "case $name: $*"; failures=$((failures + 1)); }
expect_status() { [ "$status" = "$1" ] || bad "%lasterror% is $status, expected $1"; }
expect_text() { grep -qF -- "$1" <<<"$output" || bad "no \"$1\" in its output"; }
refuse_text() { ! grep -qF -- "$1" <<<"$output" || bad "\"$1\" in its output"; }
chip() { awk -v c="$1" '$1 == c { print $2 }' chips.txt; }
chip_size() { awk -v c="$1" '$1 == c { print $3 }' chips.txt; }

# The part's contents after the run: the image over its length, erased (0xFF)
# up to the end of the last block, and exactly the part's size.
expect_flashed() {  # expect_flashed OUT IMAGE PART-SIZE
  local out=disk/$1 image=stage/$2 size=$3
  [ -f "$out" ] || { bad "wrote no $1"; return; }
  local length; length=$(stat -c %s "$image")
  [ "$(stat -c %s "$out")" -eq "$size" ] || bad "$1 has $(stat -c %s "$out") bytes, the part $size"
  cmp -s -n "$length" "$out" "$image" || bad "$1 differs from $2 within its $length bytes: $(cmp -n "$length" "$out" "$image")"
  local block_end=$(( (length + 65535) / 65536 * 65536 ))
  local tail; tail=$(tail -c +$((length + 1)) "$out" | head -c $((block_end - length)) | tr -d '\377' | wc -c)
  [ "$tail" -eq 0 ] || bad "$1 has $tail bytes other than 0xFF between the image's end and its block's end"
}

case $name in
usage)
  expect_status 0x0
  expect_text "ZAR.EXE - ORV Flash Utility"
  expect_text "ZARMOK [filename]"
  expect_text "  zar /verify IMAGE [p] [/j]"
  ;;
unknown-verb)
  # zar.efi itself: refused before any port access.
  expect_status 0x1  # EFI_LOAD_ERROR
  expect_text "UNKNOWN VERB!! /updte names no verb; did you mean /update?"
  ;;
sim-help)
  # The Shell shows zar-sim.man beside zar-sim.efi, as zar.man for zar -?.
  expect_status 0x0
  expect_text "zar-sim - runs zar against a simulated EC and flash chip"
  expect_text "--state FILE"
  refuse_text "UNKNOWN VERB"
  ;;
write-protected)
  expect_status 0x8  # EFI_WRITE_PROTECTED
  expect_text "WRITE PROTECTED!! The status register reads "
  expect_text "Release the chip's WP# pin first"
  expect_text "zar-sim: EC left in follow mode"
  ;;
help | dash-help)
  # The Shell shows zar.man: the synopsis, the switches and the statuses.
  expect_status 0x0
  expect_text "zar [IMAGE [p] [ARG3] [/j]]"
  expect_text "zar /read FILE [SIZE] [/j]"
  expect_text "/j    - As the fourth word after zar"
  expect_text "EFI_TIMEOUT"
  expect_text "0x12  the EC or the chip stopped answering"
  # The last example: the Shell prints at most 8,000 characters of help and
  # cuts the rest without a word.
  expect_text 'fs0:\> echo %lasterror%'
  refuse_text "FILE NAME ERROR"
  ;;
help-record)
  # The record's fields, a section of their own: the Shell prints at most
  # 8,000 characters of help at once, so they stay out of "help zar".
  expect_status 0x0
  expect_text "ZAR-END  one line: serial again"
  expect_text "ZAR-AFTER  only when the EC did not take the closing command"
  refuse_text "zar [IMAGE [p] [ARG3] [/j]]"
  ;;
help-boot)
  # Runs without a Shell, and the words about the end: a section of their own.
  expect_status 0x0
  expect_text "else from zar.args in zar.efi's folder"
  expect_text "/then reset|off"
  refuse_text "zar [IMAGE [p] [ARG3] [/j]]"
  ;;
missing-image)
  expect_status 0x1  # EFI_LOAD_ERROR
  expect_text "FILE NAME ERROR!!"
  ;;
usage-error)
  expect_status 0x2  # EFI_INVALID_PARAMETER
  expect_text "zar-sim: unknown option: --no-such-option"
  ;;
mismatch)
  expect_status 0x15  # EFI_ABORTED
  expect_text "Module is: OTHER"
  expect_text "BIN File is: ZARTEST1"
  expect_text "EC left in normal mode"
  # The port trace, written through the Shell, equals the Linux one.
  if [ ! -f disk/trace.txt ]; then
    bad "wrote no trace.txt"
  elif ! cmp -s disk/trace.txt host/trace.txt; then
    bad "trace.txt differs from the Linux zar-sim's: $(cmp disk/trace.txt host/trace.txt)"
  fi
  ;;
module-match)
  expect_status 0x0
  expect_text "EC closed with 0xFE"
  expect_flashed out-match.bin img-page.bin "$(chip_size page)"
  ;;
run-page | run-aai-byte | run-chunked)
  c=${name#run-}
  expect_status 0x0
  expect_text "EC closed with 0xFE"
  expect_flashed "out-$c.bin" "img-$c.bin" "$(chip_size "$c")"
  ;;
run-aai-word)
  expect_status 0x0
  expect_text "EC closed with 0xFE"
  expect_flashed out-aai-word.bin imgs/img-aai-word.bin "$(chip_size aai-word)"
  ;;
same-text)
  # The flasher's own text in the UEFI Shell is the Linux zar-sim's.
  expect_status 0x0
  host=$(tr -d '\r' < host/same-text.txt)
  if [ "$output" != "$host" ]; then
    bad "its text differs from the Linux zar-sim's:"
    diff <(echo "$host") <(echo "$output") | head -n 20
  fi
  ;;
alloc-fail)
  expect_status 0x9  # EFI_OUT_OF_RESOURCES
  expect_text "OUT OF MEMORY!!"
  ;;
read-fail)
  # Read whole before the EC is touched: refused, the EC never asked anything.
  expect_status 0x1  # EFI_LOAD_ERROR
  expect_text "FILE READ ERROR!! The image could not be read past offset 11170 of"
  expect_text "EC left in normal mode"
  ;;
name-read-fail)
  # The image fails inside its module name: unreadable, not another module's.
  expect_status 0x1  # EFI_LOAD_ERROR
  expect_text "FILE READ ERROR!! The image could not be read past offset 60 of"
  expect_text "EC left in normal mode"
  refuse_text "Module is:"
  ;;
too-many)
  # Refused as the Linux zar-sim refuses it, word for word.
  expect_status 0x2  # EFI_INVALID_PARAMETER
  expect_text "too many arguments"
  host=$(tr -d '\r' < host/too-many.txt)
  [ "$output" = "$host" ] || bad "its text differs from the Linux zar-sim's: \"$output\" against \"$host\""
  ;;
dead-ec)
  # Nothing answers at 0x62/0x66 in QEMU: the bounded wait gives up.
  expect_status 0x12  # EFI_TIMEOUT
  expect_text "NO ANSWER!!"
  expect_text "Do not switch off. Run again with p"
  expect_text "  zar img.bin p"
  grep "^dead-ec" case-times.txt || true
  ;;
probe)
  expect_status 0x0
  expect_text "Part             : $(chip page)"
  expect_text "Status register  : "
  expect_text "EC closed with 0xFE"
  ;;
read)
  # The file on the disk is the chip, which held the image from its start.
  expect_status 0x0
  expect_text "EC closed with 0xFE"
  if [ ! -f disk/out-read.bin ] || [ ! -f disk/out-readchip.bin ]; then
    bad "wrote no out-read.bin or no out-readchip.bin"
  else
    cmp -s disk/out-read.bin disk/out-readchip.bin || bad "out-read.bin differs from the chip"
    cmp -s -n "$(stat -c %s stage/img-page.bin)" disk/out-read.bin stage/img-page.bin || bad "out-read.bin lacks the image"
    crc=$(python3 -c 'import sys, zlib; print("%08X" % zlib.crc32(open(sys.argv[1], "rb").read()))' disk/out-read.bin)
    expect_text "CRC-32           : $crc"
  fi
  ;;
read-exists)
  expect_status 0x1  # EFI_LOAD_ERROR
  expect_text "FILE EXISTS!! img.bin is kept"
  expect_text "EC left in normal mode"
  ;;
read-flip)
  # The two reads disagree: the file claimed before the reads is deleted.
  expect_status 0x7  # EFI_DEVICE_ERROR
  expect_text "READ MISMATCH!!"
  [ ! -e disk/out-flip.bin ] || bad "out-flip.bin was left on the disk"
  ;;
verify)
  expect_status 0x0
  expect_text "The chip holds the image"
  expect_text "EC closed with 0xFC"
  ;;
verify-differs)
  expect_status 0x7  # EFI_DEVICE_ERROR
  expect_text "1 byte(s) differ, the first at 10123."
  expect_text "VERIFY FAILED!! 1 of 3 blocks differ from the image."
  ;;
update)
  expect_status 0x0
  expect_text "Erases           : 0 of 64 KiB (0xD8), 1 of 4 KiB (0x20)"
  expect_text "EC closed with 0xFE"
  grep -qE -- 'Plan +: 1 of [0-9]+ sectors to write' <<<"$output" || bad "no plan of one sector"
  # Block 2 was left alone: only the image's length is compared.
  if [ ! -f disk/out-update.bin ]; then
    bad "wrote no out-update.bin"
  else
    cmp -s -n "$(stat -c %s stage/img-page.bin)" disk/out-update.bin stage/img-page.bin ||
      bad "out-update.bin differs from img-page.bin"
  fi
  ;;
backup-full)
  # The disk fills while the backup is written: refused before anything is
  # erased, the chip as it was, and no part of a backup left on the disk.
  expect_status 0x1  # EFI_LOAD_ERROR
  expect_text "FILE WRITE ERROR!! fs0:\\out-full.bin could not be written whole"
  [ ! -e disk/out-full.bin ] || bad "out-full.bin was left on the disk"
  cmp -s -n "$(stat -c %s stage/update-in.bin)" disk/out-full-chip.bin stage/update-in.bin ||
    bad "the chip changed"
  ;;
update-keep)
  # The kept sector keeps its changed byte, the rest takes the image, and the
  # backup on the disk is the chip from before, to the end of the image's
  # last 4 KiB sector (all that an erase may take).
  expect_status 0x0
  expect_text "Backup           : "
  expect_text "EC closed with 0xFE"
  grep -qE -- 'Plan +: 1 of [0-9]+ sectors to write, [0-9]+ equal, 1 kept' <<<"$output" || bad "no plan keeping one sector"
  length=$(stat -c %s stage/img-page.bin)
  if [ ! -f disk/out-keep.bin ] || [ ! -f disk/out-backup.bin ]; then
    bad "wrote no out-keep.bin or out-backup.bin"
  else
    cmp -s -n 4096 disk/out-keep.bin stage/keep-in.bin || bad "the kept sector changed"
    cmp -s -i 4096 -n $((length - 4096)) disk/out-keep.bin stage/img-page.bin || bad "out-keep.bin differs from the image past the kept sector"
    [ "$(stat -c %s disk/out-backup.bin)" -eq $(((length + 4095) / 4096 * 4096)) ] || bad "out-backup.bin does not end at the image's last sector's end"
    cmp -s -n "$length" disk/out-backup.bin stage/keep-in.bin || bad "out-backup.bin is not the chip from before"
  fi
  ;;
log-sim | log-again | log-zar | log-refused)
  # One log for the four cases, as the disk holds it after the boot: a record
  # for each run that got past the log, each with QEMU's SMBIOS identity.
  log=$(tr -d '\r' < disk/zar.log 2>/dev/null)
  end() { grep '^ZAR-END ' <<<"$log" | sed -n "$1p"; }
  [ "$(grep -c '^ZAR-RUN ' <<<"$log")" -eq 3 ] || bad "zar.log holds $(grep -c '^ZAR-RUN ' <<<"$log") records, not 3"
  [ "$(grep -cE '^ZAR-RUN date=[0-9]{4}-[0-9]{2}-[0-9]{2} time=[0-9:]{8} version=[^ ]+ manufacturer="ZAR Test Works" product="Factory Line 7" serial="ZAR-SN-0042"$' <<<"$log")" -eq 3 ] ||
    bad "records without the date or the SMBIOS identity: $(grep '^ZAR-RUN ' <<<"$log")"
  case $name in
  log-sim)
    expect_status 0x0
    sum=$(sed -n 's/^Current F\/W Checksum : \([0-9A-F]*\)$/\1/p' <<<"$output")
    grep -qE "^ZAR-END serial=\"ZAR-SN-0042\" image=\"img.bin\" size=$(stat -c %s stage/img.bin) checksum=$sum chip=.* status=0 \(OK\) close=FE \(FOLLOW_EXIT\)$" <<<"$(end 1)" ||
      bad "the first summary is not this run's: $(end 1)"
    # The duration by the processor's counter, the image's CRC-32 as zlib
    # computes it, and no station: the Shell has no zar_station yet.
    crc=$(python3 -c 'import sys, zlib; print("%08X" % zlib.crc32(open(sys.argv[1], "rb").read()))' stage/img.bin)
    grep -qE " duration=[0-9]+ms image-crc32=$crc station=\"\" status=0 " <<<"$(end 1)" ||
      bad "the first summary lacks its duration, CRC-32 or station: $(end 1)"
    grep -qF '  Verify...        : ' <<<"$log" || bad "no console text in the log"
    ;;
  log-again)
    expect_status 0x15
    grep -q 'status=1 (MODULE_MISMATCH) close=none$' <<<"$(end 2)" || bad "the second summary: $(end 2)"
    ;;
  log-zar)
    expect_status 0x0
    expect_text "ZARMOK [filename]"
    grep -q 'image=none .* status=0 (OK) close=none$' <<<"$(end 3)" || bad "zar.efi's summary: $(end 3)"
    ;;
  log-refused)
    expect_status 0x1  # EFI_LOAD_ERROR
    expect_text "LOG FILE ERROR!! fs0:\imgs"
    expect_text "EC left in normal mode"
    ;;
  esac
  ;;
factory-fail | factory-first | factory-again)
  # The factory script's runs share factory.log: two records, the third run
  # ends before zar.
  log=$(tr -d '\r' < disk/factory.log 2>/dev/null)
  [ "$(grep -c '^ZAR-RUN ' <<<"$log")" -eq 2 ] || bad "factory.log holds $(grep -c '^ZAR-RUN ' <<<"$log") records, not 2"
  case $name in
  factory-fail)
    expect_text "ZAR: FLASHING FAILED, status 0x1"
    grep '^ZAR-END ' <<<"$log" | sed -n 1p | grep -q ' status=2 (BAD_IMAGE) close=none$' || bad "the first record"
    ;;
  factory-first)
    expect_text "ZAR: img.bin flashed and verified"
    grep '^ZAR-END ' <<<"$log" | sed -n 2p | grep -q ' status=0 (OK) close=FE (FOLLOW_EXIT)$' || bad "the second record"
    # The script names its station in the Shell variable zar_station; the
    # first run stopped before the module check, the second asked the EC.
    grep '^ZAR-END ' <<<"$log" | grep -c ' station="STATION-1" ' | grep -qx 2 ||
      bad "the records do not name the script's station: $(grep '^ZAR-END ' <<<"$log")"
    grep '^ZAR-END ' <<<"$log" | sed -n 2p | grep -q ' station="STATION-1" module="ZARTEST1" ' ||
      bad "the second record does not name the EC's module: $(grep '^ZAR-END ' <<<"$log")"
    ;;
  factory-again)
    expect_text "ZAR: this machine's EC was already flashed with img.bin: nothing to do."
    refuse_text "zar-sim:"
    ;;
  esac
  ;;
rerun)
  # A run cut short, then the command its console gave, against the EC and
  # chip as that run left them.
  expect_status 0x0
  expect_text "zar-sim: first run: status 4"
  expect_text "zar-sim:   zar img-page.bin p"
  expect_text "zar-sim: rerun: status 0, flashed and verified"
  expect_text "zar-sim: flash equals the image over its"
  expect_flashed out-rerun.bin img-page.bin "$(chip_size page)"
  ;;
*)
  bad "unknown case"
  ;;
esac

if [ $failures -ne 0 ]; then
  echo "---- its console text:"
  echo "$output" | head -n 40
  exit 1
fi
echo "case $name: passed (%lasterror% $status)"
