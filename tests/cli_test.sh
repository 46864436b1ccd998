#!/usr/bin/env bash
# zar-sim as a user runs it: exit statuses, console text, trace and chip files.
set -uo pipefail
SIM=$1
man=$(cd "$(dirname "$0")/../tools" && pwd)/zar-sim.1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
passes=0

check() {  # check NAME CONDITION...
  local name=$1; shift
  if "$@"; then passes=$((passes + 1)); else echo "FAIL: $name"; failures=$((failures + 1)); fi
}
run() {  # run ARGS... -> $out, $status
  out=$(timeout 60 "$SIM" "$@" 2>&1); status=$?
}
contains() { grep -qF -- "$2" <<<"$1"; }

# A 3-block image (the last one short) with a module name at 0x50.
python3 - <<'PY'
import struct
size = 2 * 0x10000 + 0x3456
data = bytearray((i * 7 + (i >> 8)) & 0xFF for i in range(size))
data[0x50:0x70] = b"CLIMOD rev 1".ljust(32, b" ")
open("img.bin", "wb").write(data)
PY

run
check "usage exits 0" test "$status" -eq 0
check "usage text" contains "$out" "ZARMOK [filename]"

run --trace t0.txt missing.bin
check "missing file status" test "$status" -eq 2
check "missing file message" contains "$out" "FILE NAME ERROR!!"
check "no port access on the file-name road" test ! -s t0.txt

run --trace t1.txt
check "no port access on the usage road" test ! -s t1.txt

run --bogus img.bin
check "unknown option is 64" test "$status" -eq 64
check "unknown option named" contains "$out" "--bogus"
run --chip
check "missing value is 64" test "$status" -eq 64

run --trace t2.txt --ec-module OTHERMOD img.bin
check "mismatch status 1" test "$status" -eq 1
check "mismatch report" contains "$out" "Module is: OTHERMOD"
check "32 memory reads" test "$(grep -c '^out 66 92$' t2.txt)" -eq 32
check "nothing after the check" test "$(grep -c '^out 66 dc$' t2.txt)" -eq 0

run --trace t3.txt --flash-out out.bin img.bin
check "plain run passes" test "$status" -eq 0
# 0x92 is a data byte too once the image is programmed: count it before follow mode.
check "module check ran" test "$(sed '/^out 66 dc$/q' t3.txt | grep -c '^out 66 92$')" -eq 32
check "three blocks" contains "$out" "Block Number     : 2 "
check "closed with FE" contains "$out" "EC closed with 0xFE"
check "checksum line" contains "$out" "Current F/W Checksum : "
check "flash equals image" cmp -n "$(stat -c %s img.bin)" img.bin out.bin

# The image is read whole before the EC is touched: a read that fails in its
# first, a middle or its last block ends each road that takes an image with
# status 2 and an empty trace.
for offset in 0x100 0x18000 0x23455; do
  for road in "img.bin" "/update img.bin" "/verify img.bin"; do
    run --trace tr.txt --fault read-fail=$offset $road
    check "read-fail=$offset on '$road': status 2" test "$status" -eq 2
    check "read-fail=$offset on '$road': no port access" test ! -s tr.txt
  done
done

# The decoded log: live during a run, and from that run's trace afterwards.
run --trace t4.txt --spi-log s4.log img.bin
check "spi-log run passes" test "$status" -eq 0
check "spi-log starts with the module check" test "$(head -n 1 s4.log)" = "READ_MEMORY 0880 -> 43"
check "spi-log ends with the closing command" test "$(tail -n 1 s4.log)" = "FOLLOW_EXIT"
check "spi-log pages" test "$(grep -c '^PAGE_PROGRAM ' s4.log)" -eq $((2 * 256 + 0x35))
run --decode t4.txt --spi-log d4.log
check "decode passes" test "$status" -eq 0
check "decode equals the run's spi-log" cmp s4.log d4.log
run --decode t4.txt
check "decode to the console" cmp <(tr -d '\r' <<<"$out") s4.log
# A run that dies leaves a transaction open: both ways say so alike.
run --trace t5.txt --spi-log s5.log --wait-limit 50 --fault chip-busy=3 img.bin p
check "dead chip status" test "$status" -eq 4
check "open transaction noted" grep -q '(open at end)$' s5.log
run --decode t5.txt --spi-log d5.log
check "decode of a failed run equals its spi-log" cmp s5.log d5.log

# A damaged trace: bad lines named by number, the rest decoded, status 65.
{ head -n 2000 t4.txt; echo "out 66"; head -c 100000 /dev/zero | tr '\0' 'x'; echo; printf 'in 6'; } > bad.txt
run --decode bad.txt --spi-log b.log
check "damaged trace status" test "$status" -eq 65
check "damaged line named" contains "$out" "bad.txt:2001: not a port access"
check "long line named" contains "$out" "bad.txt:2002: not a port access"
check "cut line named" contains "$out" "bad.txt:2003: not a port access: \"in 6\""
check "good part decoded" test "$(head -n 5 b.log)" = "$(head -n 5 s4.log)"
run --decode no-such-trace.txt
check "missing trace is 64" test "$status" -eq 64

# Real timing and the report.
run --timing real --report img.bin
check "real timing passes" test "$status" -eq 0
check "time on the hardware" contains "$out" "zar-sim: time on the hardware: "
check "report flash" contains "$out" "flash           equals the image over its $(stat -c %s img.bin) bytes"
check "report status" contains "$out" "exit status     0: flashed and verified"
run --access-ns 500 img.bin
check "access-ns needs real timing" test "$status" -eq 64

# A run cut short, then the one its console advised, against the EC and chip
# as it left them, the fault gone: wherever the EC stops answering.
for n in 0 1 32 33 500 20000 150000; do
  run --wait-limit 500 --fault ec-obf-never=$n --rerun img.bin
  check "rerun after ec-obf-never=$n ends well" test "$status" -eq 0
  check "first run after ec-obf-never=$n failed" contains "$out" "zar-sim: first run: status 4"
  check "flash after ec-obf-never=$n" contains "$out" "zar-sim: flash equals the image over its $(stat -c %s img.bin) bytes"
done
check "rerun as advised" contains "$out" "zar-sim:   zar img.bin p"
# Reads fixed at the ports: the EC still takes every byte, whatever its latency.
run --ec-constant 0x00,0x01 --ec-latency fixed:3 --trace c1.txt img.bin p
check "constant reads: no chip" test "$status" -eq 4
# No chip answers, and with p nothing shows the chip holds a whole image: no closing command.
check "constant reads: the EC left in follow mode" contains "$out" "zar-sim: EC left in follow mode"
check "constant reads: every read" test "$(grep '^in' c1.txt | sort -u | tr '\n' ' ')" = "in 62 00 in 66 01 "
for bad in 5 5, ,1 0x100,1 1,2,3; do
  run --ec-constant "$bad" img.bin
  check "bad --ec-constant $bad is 64" test "$status" -eq 64
done
run --ec-foreign sideways img.bin
check "bad --ec-foreign is 64" test "$status" -eq 64
run --help
check "help lists --rerun" contains "$out" "--rerun"
# The man page names exactly the options and faults --help lists (the parser's
# table): neither can lose or gain one alone.
listed() { tr -d '\r' <<<"$out" | grep -oE "^$1[a-z-]+" | tr -d ' ' | sort; }
man_options=$(grep -E '^\.B[IR]? +\\-\\-' "$man" | sed -E 's/^\.B[IR]? +//; s/\\-/-/g; s/[ "].*//' | sort)
man_faults=$(sed -n '/^\.BI \\-\\-fault /,/^\.TP/p' "$man" | grep -oE '\\fB[a-z][a-z-]*\\fR' | sed -E 's/\\f[BR]//g' | sort)
check "man page options are --help's" test "$(listed '  --')" = "$man_options"
check "man page faults are --help's" test "$(listed ' {6}')" = "$man_faults"
help=$out
run --list-chips
check "help names the default chip" contains "$help" "default $(awk 'NR == 1 { print $1 }' <<<"$out"))"

run --list-chips
check "list-chips" test "$status" -eq 0 -a -n "$out"
parts=$(wc -l <<<"$out")
plain=$out
run --list-chips --verbose
check "verbose list: the same part lines" test "$(tr -d '\r' <<<"$out" | grep -v '^ \|^$\|:')" = "$(tr -d '\r' <<<"$plain")"
check "verbose list: sources of every part" test "$(grep -c '^    sources    ' <<<"$out")" -eq "$parts"
check "verbose list: what is unverified" contains "$out" "    unverified RES answer, power-up protection"

# The verbs. /read: the chip twice, five accesses a byte each pass and a
# FAST_READ for each 64 KiB block, into a new file equal to the chip, with no
# erase, program or status write.
run --help
check "help has the verbs" contains "$out" "zar-sim [options] [--] /read FILE [SIZE] [/j]"
check "help has read-flip" contains "$out" "read-flip=ADDR[:N]"
run --spi-log r.log --flash-out chip.bin --report -- /read backup.bin
check "read passes" test "$status" -eq 0
check "backup equals the chip" cmp backup.bin chip.bin
check "read writes nothing" test "$(grep -cE '^(WRSR|SECTOR_ERASE|BLOCK_ERASE|PAGE_PROGRAM|AAI_)' r.log)" -eq 0
accesses=$(sed -n 's/^port accesses *\([0-9]*\),.*/\1/p' <<<"$out")
overhead=$((accesses - 2 * 5 * $(stat -c %s chip.bin)))
# A FAST_READ for each step of at most a percent (a power of two): 128 of
# them in each pass over 512 KiB, 67 accesses each.
check "read costs 2 x 5 accesses a byte plus a little a step" test "$overhead" -ge 0 -a "$overhead" -lt $((2 * 128 * 70))
run --fault read-flip=0x100:2 /read flipped.bin
check "reads that differ are status 3" test "$status" -eq 3 -a ! -e flipped.bin
# A disk that fills while the backup is written: status 2, nothing erased or
# programmed, no file left; zar-sim's own trace is not held to it.
run --trace w.txt --spi-log w.log --fault write-fail=1000 -- /backup full.bin /update img.bin p
check "a backup that can't be written is status 2" test "$status" -eq 2 -a ! -e full.bin
check "nothing written for it" test "$(grep -cE '^(SECTOR_ERASE|BLOCK_ERASE|PAGE_PROGRAM|AAI_)' w.log)" -eq 0
check "the trace is whole" test "$(wc -c <w.txt)" -gt 100000
# /update on a chip that already holds the image.
run --flash-in img.bin --report -- /update img.bin p
check "update of an equal chip" test "$status" -eq 0
check "update writes nothing" contains "$out" "chip work       0 erases, 0 programs, 0 status writes"
check "update says so" contains "$out" "The EC is already up to date"
# The old content below a kept range gives way to the image; the kept range
# keeps it, sees no erase, and the backup holds what was there.
python3 -c "import sys; d = open('img.bin', 'rb').read(); open('old.bin', 'wb').write(bytes(b ^ 0x33 for b in d))"
run --spi-log k.log --flash-in old.bin --flash-out kept.bin -- /keep 20000-23FFF /backup b.bin /update img.bin p
check "update keeping a range passes" test "$status" -eq 0
check "below the kept range: the image" cmp -n $((0x20000)) kept.bin img.bin
check "the kept range: the old content" cmp -i $((0x20000)) -n $((0x3456)) kept.bin old.bin
# The backup: the chip to the end of the image's last 4 KiB sector, all an
# erase may take; the image's range is the old content.
check "the backup: the old content" cmp -n $(stat -c %s old.bin) b.bin old.bin
check "the backup: up to the last sector's end" test "$(stat -c %s b.bin)" -eq $((0x24000))
check "no erase in the kept range" test "$(grep -cE '^(SECTOR|BLOCK)_ERASE 02' k.log)" -eq 0

# The run's record with a simulated machine; the module check finds the image behind /log FILE.
run --machine "ACME,,SN 7" /log run.log img.bin
check "logged run passes" test "$status" -eq 0
check "record's identity" grep -q '^ZAR-RUN .* manufacturer="ACME" product=unknown serial="SN 7"' run.log
# A forgotten log name: the verb after /log is never taken for the log.
run --spi-log nolog.txt -- /log /verify img.bin p
check "a verb as the log name is status 2" test "$status" -eq 2
check "no follow mode for it" test "$(grep -c FOLLOW_ENTER nolog.txt)" -eq 0
check "no file named after the verb" test ! -e /verify
run --machine ACME,X1 img.bin
check "machine needs three parts" test "$status" -eq 64

# Hostile files: nothing blocks, nothing that is not a regular file is read,
# and no output overwrites an input. Each ends with a message and a status.
mkfifo fifo
mkdir folder
run fifo p
check "fifo image refused" test "$status" -eq 2
check "fifo image message" contains "$out" "FILE NAME ERROR!!"
for option in --flash-in --decode; do
  for source in fifo folder /dev/zero; do
    run "$option" "$source" img.bin
    [ "$option" = --decode ] && run --decode "$source"
    check "$option $source refused" test "$status" -eq 64
    check "$option $source named" contains "$out" "can't read $source (missing, unreadable, or not a regular file)"
  done
done
run --trace fifo img.bin
check "fifo without a reader refused as trace" test "$status" -eq 64
check "fifo trace message" contains "$out" "can't write fifo"
cp img.bin keep.bin
ln -s img.bin link.bin
for args in "--trace img.bin" "--spi-log ./img.bin" "--flash-out link.bin" "--trace keep.bin --flash-in keep.bin"; do
  run $args img.bin
  check "output onto an input refused: $args" test "$status" -eq 64
  check "output onto an input named: $args" contains "$out" "it would be overwritten before it is read"
done
run --decode t4.txt --spi-log t4.txt
check "decode onto its own trace refused" test "$status" -eq 64 -a -s t4.txt
run --trace same.txt --spi-log same.txt img.bin
check "two outputs in one file refused" contains "$out" "--trace and --spi-log both write same.txt"
check "the image survives" cmp img.bin keep.bin
# The flasher's own files are outputs too: by name before they exist, by the
# file they are after. Nothing runs, nothing is created.
rm -f new.bin new.log
for case in "--flash-out new.bin -- /read new.bin|/read" "--spi-log new.log -- /log new.log /probe|/log" \
            "--trace new.bin new.bin|the image" "--trace ./keep.bin -- /log keep.bin /probe|/log"; do
  run ${case%|*}
  check "flasher file refused: ${case%|*}" test "$status" -eq 64 -a ! -e new.bin -a ! -e new.log
  check "flasher file named: ${case%|*}" contains "$out" "${case#*|}"
done

# Habits from other tools: -h, -? and --help; --version; an option after
# the image runs nothing, unless "--" gave the rest to the flasher.
for word in -h -? --help; do
  run "$word"
  check "$word is the help, status 0" test "$status" -eq 0
  check "$word shows the usage" contains "$out" "usage: zar-sim [options] [--] IMAGE [ARGS...]"
done
run --version
flasher_version=$(sed -n 's/.*ZAR_VERSION\[\] = "\(.*\)";/\1/p' "$(dirname "$man")/../Applications/Main/Version.h")
check "--version is status 0" test "$status" -eq 0
check "--version names zar-sim's" grep -qE '^zar-sim [0-9]+\.[0-9]+\.[0-9]+ ' <<<"$out"
check "--version names the flasher's" contains "$out" "zar $flasher_version (the flasher it runs)"
run --trace late.txt img.bin --chip SST25VF080B
check "an option after the image is 64" test "$status" -eq 64
check "the option is named" contains "$out" "option after the image (options come first; '--' gives the rest to the flasher): --chip"
check "nothing runs for it" test ! -s late.txt
run --trace dashes.txt -- img.bin --chip
check "after -- it is the flasher's word" test "$status" -eq 0 -a -s dashes.txt

# Verbs and leading words in any case; a word that names no verb is
# refused before the EC is touched, with the verb it looks like.
run --trace upper.txt -- /PROBE
check "/PROBE is /probe" test "$status" -eq 0
check "/PROBE probes" contains "$out" "Part             : W25X40"
run --trace typo.txt -- /updte img.bin
check "/updte is status 2" test "$status" -eq 2
check "/updte is named" contains "$out" "UNKNOWN VERB!! /updte names no verb; did you mean /update?"
check "no port access for /updte" test ! -s typo.txt

# --state: a run cut short leaves the EC in follow mode in the file; the
# next run, from the file, skips the module check with p and finishes.
rm -f machine.state
run --state machine.state --wait-limit 500 --fault ec-obf-never=20000 img.bin
check "cut run: status 4" test "$status" -eq 4
check "cut run: the state is kept" test -s machine.state
run --state machine.state --flash-out resumed.bin img.bin p
check "resumed run from the state: status 0" test "$status" -eq 0
check "resumed run: the image" cmp -n "$(stat -c %s img.bin)" img.bin resumed.bin
run --state machine.state --chip SST25VF080B img.bin p
check "a state of another part is 64" test "$status" -eq 64

# An image shorter than its module name: the EC's default name is the
# flasher's own reading of it, zeros past the end included.
head -c $((0x60)) img.bin > short.bin
run short.bin
check "short image passes its module check" test "$status" -eq 0

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
