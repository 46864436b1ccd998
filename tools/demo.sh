#!/usr/bin/env bash
# make demo: a sample EC image of two and a half blocks flashed into the
# default simulated chip, at the hardware's pace on the virtual clock. The
# console is what a user at the Shell sees (ANSI screen control on a
# terminal, plain text through a pipe); the time estimate and the report
# follow it.
set -euo pipefail
sim=$(realpath "${1:?usage: demo.sh ZAR-SIM}")
dir=build/demo
mkdir -p "$dir"
cd "$dir"

# A firmware-like image: varied bytes, the module name at 0x50, an erased tail.
python3 - <<'PY'
size = 2 * 0x10000 + 0x8000
data = bytearray(((i * 131) ^ (i >> 7) ^ 0x5A) & 0xFF for i in range(size))
data[0x50:0x70] = b"ZARDEMO EC 1.02".ljust(32, b" ")
data[size - 0x1000:] = b"\xff" * 0x1000
open("demo.bin", "wb").write(data)
PY

# The flasher takes a name beginning with '/' for a switch: the image is
# given relative to here.
status=0
timeout 120 "$sim" --timing real --report --spi-log demo-spi.log demo.bin || status=$?

echo
echo "build/demo/demo-spi.log holds the run decoded ($(wc -l <demo-spi.log) lines); after follow-mode entry:"
sed -n '/^FOLLOW_ENTER/,$p' demo-spi.log | sed -n '1,14s/^/    /p'
exit "$status"
