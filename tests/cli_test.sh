#!/usr/bin/env bash
# zar-sim as a user runs it: exit statuses, console text, trace and chip files.
set -uo pipefail
SIM=$1
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
check "module check ran" test "$(grep -c '^out 66 92$' t3.txt)" -eq 32
check "three blocks" contains "$out" "Block Number     : 2 "
check "closed with FE" contains "$out" "EC closed with 0xFE"
check "checksum line" contains "$out" "Current F/W Checksum : "
check "flash equals image" cmp -n "$(stat -c %s img.bin)" img.bin out.bin

run --list-chips
check "list-chips" test "$status" -eq 0 -a -n "$out"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
