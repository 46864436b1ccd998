#!/usr/bin/env bash
# The simulator's hot path against an earlier build of it, side by side on
# this machine: both zar-sim binaries write 255 blocks (0xFF0000 bytes, the
# most the flasher writes) into the default part given 16 MiB, whole process,
# one after the other in turn. Prints each pair's CPU time (user + system) and
# ratio, then the median of the ratios (docs/performance.md says how to build
# the earlier commit).
#   tools/compare-speed.sh OLD-ZAR-SIM NEW-ZAR-SIM [PAIRS]
set -euo pipefail
old=$(realpath "${1:?usage: compare-speed.sh OLD-ZAR-SIM NEW-ZAR-SIM [PAIRS]}")
new=$(realpath "${2:?usage: compare-speed.sh OLD-ZAR-SIM NEW-ZAR-SIM [PAIRS]}")
pairs=${3:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

python3 - <<'PY'
size = 255 * 0x10000
data = bytearray(((i * 131) ^ (i >> 7) ^ (i >> 17)) & 0xFF for i in range(size))
data[0x50:0x70] = b"ZARBENCH".ljust(32, b" ")
open("img.bin", "wb").write(data)
PY

cpu_seconds() {  # cpu_seconds ZAR-SIM: one run's user + system time
  local TIMEFORMAT='%U %S' times status
  times=$( { time "$1" --chip-size 16777216 img.bin > run.txt 2>&1; } 2>&1 ) || status=$?
  if [ "${status:-0}" -ne 0 ]; then
    echo "compare-speed: $1 ended with status $status" >&2
    tail -n 5 run.txt >&2
    exit 1
  fi
  awk '{ print $1 + $2 }' <<<"$times"
}

ratios=()
printf '%-5s %10s %10s %8s\n' pair old-s new-s ratio
for ((i = 1; i <= pairs; i++)); do
  o=$(cpu_seconds "$old")
  n=$(cpu_seconds "$new")
  r=$(awk -v o="$o" -v n="$n" 'BEGIN { printf "%.3f", n / o }')
  ratios+=("$r")
  printf '%-5s %10s %10s %8s\n' "$i" "$o" "$n" "$r"
done
printf '%s\n' "${ratios[@]}" | sort -n |
  awk '{ r[NR] = $1 } END { m = NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2; printf "median ratio new/old: %.3f\n", m }'
