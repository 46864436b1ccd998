#!/usr/bin/env bash
# Signs UEFI applications for Secure Boot with a db key (Authenticode, by
# sbsign) and checks each signature against the certificate (sbverify).
# FILE.efi gives FILE.signed.efi beside it; the unsigned file is kept.
#
#   sign-efi.sh KEY CERT FILE.efi...
#
# KEY is the PEM private key, CERT its PEM certificate: the one enrolled in
# the target machines' db. Keep both out of any repository.
set -euo pipefail

fail() { echo "sign-efi: $*" >&2; exit 1; }
[ $# -ge 3 ] || fail "usage: sign-efi.sh KEY CERT FILE.efi..."
key=$1 cert=$2
shift 2
[ -f "$key" ] || fail "no key $key"
[ -f "$cert" ] || fail "no certificate $cert"
# A key inside a repository that does not ignore it is one commit away from
# being published.
key_dir=$(dirname "$key")
if git -C "$key_dir" rev-parse --is-inside-work-tree > /dev/null 2>&1 &&
   ! git -C "$key_dir" check-ignore -q "$(basename "$key")"; then
  echo "sign-efi: warning: $key lies in a git work tree that does not ignore it: keep signing keys out of repositories" >&2
fi
for tool in sbsign sbverify; do
  command -v $tool >/dev/null || fail "$tool is missing (package sbsigntool; tools/install-deps.sh installs it)"
done

for image in "$@"; do
  [ -f "$image" ] || fail "no $image"
  signed=${image%.efi}.signed.efi
  rm -f "$signed"
  sbsign --key "$key" --cert "$cert" --output "$signed" "$image" 2>&1 | grep -v '^Signing ' >&2 || true
  [ -f "$signed" ] || fail "sbsign did not sign $image"
  if ! sbverify --cert "$cert" "$signed" > /dev/null 2>&1; then
    rm -f "$signed"
    fail "$signed does not verify against $cert"
  fi
  echo "signed: $signed"
done
