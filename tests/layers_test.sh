#!/usr/bin/env bash
# The layering check passes on the sources and fails on a tree with an
# include against the layers.
set -u
check=$1
src=$2
"$check" "$src" || { echo "the sources break the layers"; exit 1; }

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree"/ec "$tree"/platform/uefi "$tree"/flash
echo '#include "ec/EcChannel.h"' > "$tree"/flash/Fine.cpp
"$check" "$tree" || { echo "a downward include was refused"; exit 1; }
echo '  #include "Applications/Main/Main.h"' > "$tree"/ec/Up.h
echo '#include "sim/SpiLog.h"' > "$tree"/platform/uefi/Beside.cpp
out=$("$check" "$tree") && { echo "an upward include passed"; exit 1; }
for file in ec/Up.h platform/uefi/Beside.cpp; do
  grep -q "^$file:1:" <<<"$out" || { echo "not named: $file"; exit 1; }
done
exit 0
