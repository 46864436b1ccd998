#!/usr/bin/env bash
# make bench: the flasher and its simulator, fast timing, no trace, on real
# parts of the catalog written as full as the flasher can: the 16 MiB
# W25Q128FV with the largest image the flasher takes (255 blocks, 0xFF0000
# bytes; the flasher addresses no further) and the largest auto-address-
# increment part with an image of its whole size. Prints port accesses per
# second and per image byte, wall time and peak memory (the simulated chip,
# the image the flasher holds whole in memory, and the rest), and compares the
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
  # The process holds the simulated chip and the flasher's copy of the image;
  # the rest is what a run needed before it read the image whole.
  rest_kib=$((rss_kib - chip_kib - blocks * 64))
  awk -v c="$chip_kib" -v i=$((blocks * 64)) -v r="$rest_kib" \
    'BEGIN { printf "  peak memory: chip %.1f MiB + image %.1f MiB + the rest %.1f MiB\n", c / 1024, i / 1024, r / 1024 }'
  if [ "$rest_kib" -gt $((4 * 1024)) ]; then
    echo "  peak memory above the chip's and the image's sizes plus 4 MiB"; failed=1
  fi
  if [ "$kind" = page ] && [ "$wall_ns" -ge 3000000000 ]; then
    echo "  the page-program run took 3 s or more"; failed=1
  fi
done
echo "targets: page-program run under 3 s; peak memory at most chip size + image size + 4 MiB; no access beyond the protocol"

# /update against the classic run of the same image on the same chip, by the
# hardware estimate of --timing real at its defaults; a chip that already
# holds the image against one read pass (/verify). 512 KiB images.
python3 - <<'PY'
size = 0x80000
image = bytearray(((i * 131) ^ (i >> 7) ^ (i >> 17)) & 0xFF for i in range(size))
image[0x50:0x70] = b"ZARBENCH".ljust(32, b" ")
open("upd-image.bin", "wb").write(image)
one = bytearray(image)
one[0x12345] ^= 0x01
open("upd-one.bin", "wb").write(one)
open("upd-other.bin", "wb").write(bytes(b ^ 0x5A for b in image))
tail = bytearray(image)
tail[size * 6 // 10:] = b"\xff" * (size - size * 6 // 10)
open("upd-tail.bin", "wb").write(tail)
PY
estimate() {  # estimate ARGS...: the run's seconds on the hardware
  "$sim" --timing real --report "$@" 2>&1 | tr -d '\r' |
    sed -n 's/^time  *\([0-9.]*\) \(s\|ms\) on the hardware.*/\1 \2/p' |
    awk '{ print ($2 == "ms") ? $1 / 1000 : $1 }'
}
update_case() {  # update_case LABEL LIMIT CHIP CHIP-HOLDS IMAGE BASE(classic|read)
  local label=$1 limit=$2 chip=$3 holds=$4 image=$5 base=$6 t b
  t=$(estimate --chip "$chip" --flash-in "$holds" -- /update "$image")
  if [ "$base" = classic ]; then
    b=$(estimate --chip "$chip" --flash-in "$holds" -- "$image")
  else
    b=$(estimate --chip "$chip" --flash-in "$holds" -- /verify "$image")
  fi
  if [ -z "$t" ] || [ -z "$b" ]; then
    echo "$label: no time estimate"; failed=1; return
  fi
  local ratio
  ratio=$(awk -v t="$t" -v b="$b" 'BEGIN { printf "%.3f", t / b }')
  printf '%-52s %8.3f s %8.3f s  %6.1f %%  (target %s %%)\n' "$label" "$t" "$b" \
    "$(awk -v r="$ratio" 'BEGIN { print r * 100 }')" "$(awk -v l="$limit" 'BEGIN { print l * 100 }')"
  awk -v r="$ratio" -v l="$limit" 'BEGIN { exit !(r <= l) }' || { echo "  above the target"; failed=1; }
}
printf '%-52s %10s %10s  %7s\n' "/update, 512 KiB image" update base share
update_case "W25X40, one byte differs (of classic)" 0.15 W25X40 upd-one.bin upd-image.bin classic
update_case "W25X40, every sector differs (of classic)" 0.65 W25X40 upd-other.bin upd-image.bin classic
update_case "W25X40, every sector, 0xFF tail (of classic)" 0.52 W25X40 upd-other.bin upd-tail.bin classic
update_case "W25Q32FV, every sector differs (of classic)" 0.65 W25Q32FV upd-other.bin upd-image.bin classic
for chip in W25X40 W25Q32FV SST25VF080B; do
  update_case "$chip, chip already equal (of one read pass)" 1.05 "$chip" upd-image.bin upd-image.bin read
done
[ "$failed" -eq 0 ] && echo "all targets met" || echo "TARGET MISSED"
exit "$failed"
