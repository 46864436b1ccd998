#!/usr/bin/env bash
# zar.efi and zar-sim.efi are PE32+ EFI applications, and building the same
# sources again in another folder gives the same bytes.
#   check-images.sh UEFI_BUILD_DIR SOURCE_DIR SCRATCH_DIR
set -euo pipefail

uefi=$1 source=$2 scratch=$3
for f in zar.efi zar-sim.efi; do
  [ -f "$uefi/$f" ] || { echo "$uefi/$f is missing: build the UEFI applications first (make uefi)"; exit 1; }
  if ! command -v file >/dev/null; then
    echo "file(1) is missing: only the build's own header check (CheckImage.cmake) vouches for $f"
  else
    description=$(file -b "$uefi/$f")
    case $description in
      "PE32+ executable (EFI application) x86-64"*) ;;
      *) echo "$f: $description, not a PE32+ EFI application"; exit 1 ;;
    esac
  fi
done

rm -rf "$scratch"
cmake -S "$source" -B "$scratch" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$source/cmake/UefiToolchain.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DZAR_UEFI=ON > "$scratch.log" 2>&1 || { cat "$scratch.log"; exit 1; }
cmake --build "$scratch" >> "$scratch.log" 2>&1 || { cat "$scratch.log"; exit 1; }
for f in zar.efi zar-sim.efi; do
  cmp "$uefi/$f" "$scratch/$f" || { echo "$f: a second build differs (is $uefi up to date? make uefi)"; exit 1; }
done
rm -rf "$scratch"
echo "zar.efi and zar-sim.efi: PE32+ EFI applications, identical when built again"
