#!/usr/bin/env bash
# make bench: the flasher and its simulator, fast timing, no trace, on real
# parts of the catalog written as full as the flasher can: the 16 MiB
# W25Q128FV with the largest image the flasher takes (255 blocks, 0xFF0000
# bytes; the flasher addresses no further) and the largest auto-address-
# increment part with an image of its whole size. Prints port accesses per
# second and per image byte, wall time and peak memory, and compares the
# accesses with what the protocol needs (docs/performance.md, "Benchmark").
set -euo pipefail
sim=$(realpath "${1:?usage: bench.sh ZAR-SIM}")
dir=build/bench-run
mkdir -p "$dir"
cd "$dir"

max_blocks=255
make_image() {  # make_image FILE BLOCKS
  python3 - "$1" "$2" <<'PY'
import sys
size = int(sys.argv[2]) * 0x10000
data = bytearray(((i * 131) ^ (i >> 7) ^ (i >> 17)) & 0xFF for i in range(size))
data[0x50:0x70] = b"ZARBENCH".ljust(32, b" ")
open(sys.argv[1], "wb").write(data)
PY
}

# --list-chips: NAME  MAKER TYPE CAPACITY  SIZE KiB  page N  METHOD [note]
"$sim" --list-chips | tr -d '\r' > chips.txt
page_part=W25Q128FV
awk -v p="$page_part" '$1 == p && $5 == 16384 && $9 == "page" && !/not writable/ { found = 1 } END { exit !found }' \
  chips.txt || { echo "no writable 16 MiB $page_part in the catalog"; exit 1; }
aai_part=$(awk '$9 == "aai-word" && !/not writable/ && $5 > size { size = $5; name = $1 } END { print name }' chips.txt)
blocks_of() {  # the blocks the flasher writes on PART: its size, 255 at most
  local kib
  kib=$(awk -v p="$1" '$1 == p { print $5 }' chips.txt)
  local blocks=$((kib / 64))
  [ "$blocks" -le "$max_blocks" ] || blocks=$max_blocks
  echo "$blocks"
}

# The accesses the protocol needs on an EC without latency, with the chip busy
# for b status reads after each erase, program and status write (fast
# timing: b = 2). Derivation in docs/performance.md.
b=2
protocol() {  # protocol page|aai BLOCKS
  local per_block
  if [ "$1" = page ]; then
    per_block=$((1072623 + 1365 * b))
  else
    per_block=$((1902568 + 163925 * b))
  fi
  echo $((352 + 5 + 49 + $2 * per_block + 3))
}

failed=0
printf '%-22s %12s %12s %14s %10s %10s %12s\n' part accesses protocol accesses/s per-byte wall-s peak-MiB
for kind in page aai; do
  name=$page_part
  [ "$kind" = page ] || name=$aai_part
  blocks=$(blocks_of "$name")
  chip_kib=$(awk -v p="$name" '$1 == p { print $5 }' chips.txt)
  make_image bench.bin "$blocks"
  args=(--chip "$name" --report)
  start=$(date +%s%N)
  status=0
  /usr/bin/time -f '%M' -o rss.txt timeout 600 "$sim" "${args[@]}" bench.bin >console.txt 2>&1 || status=$?
  end=$(date +%s%N)
  if [ "$status" -ne 0 ]; then
    echo "$name: zar-sim exited $status"; tail -n 12 console.txt; failed=1; continue
  fi
  accesses=$(sed -n 's/^port accesses *\([0-9]*\),.*/\1/p' console.txt)
  grep -q "^flash *equals the image over its $((blocks * 0x10000)) bytes" console.txt || { echo "$name: flash differs"; failed=1; }
  wall_ns=$((end - start))
  rss_kib=$(tail -n 1 rss.txt)
  want=$(protocol "$kind" "$blocks")
  printf '%-22s %12d %12d %14d %10s %10s %12s\n' "$name ($kind)" "$accesses" "$want" \
    $((accesses * 1000000000 / wall_ns)) \
    "$(awk -v a="$accesses" -v n=$((blocks * 0x10000)) 'BEGIN { printf "%.2f", a / n }')" \
    "$(awk -v t="$wall_ns" 'BEGIN { printf "%.2f", t / 1e9 }')" \
    "$(awk -v k="$rss_kib" 'BEGIN { printf "%.1f", k / 1024 }')"
  if [ "$accesses" -ne "$want" ]; then
    echo "  accesses beyond the protocol's count: $((accesses - want))"; failed=1
  fi
  if [ "$rss_kib" -gt $((chip_kib + 16 * 1024)) ]; then
    echo "  peak memory above the chip's size plus 16 MiB"; failed=1
  fi
  if [ "$kind" = page ] && [ "$wall_ns" -ge 3000000000 ]; then
    echo "  the page-program run took 3 s or more"; failed=1
  fi
done
echo "targets: page-program run under 3 s; peak memory at most chip size + 16 MiB; no access beyond the protocol"
[ "$failed" -eq 0 ] && echo "all targets met" || echo "TARGET MISSED"
exit "$failed"
