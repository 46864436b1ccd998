#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are
# missing and we are root. Otherwise says what is missing.
set -euo pipefail

# clang-14 and libclang-rt-14-dev: the clang preset and libFuzzer's runtime.
# sbsigntool, efitools, openssl: make sign and the Secure Boot QEMU case.
# libsqlite3-dev: zar-records; chromium: its HTML page checked in a real browser.
packages=(cmake ninja-build g++ clang clang-14 libclang-rt-14-dev lld file python3 googletest libgtest-dev
  qemu-system-x86 ovmf mtools dosfstools gnu-efi sbsigntool efitools openssl libsqlite3-dev chromium)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root, or install them)" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
