# Sourced by the Secure Boot QEMU scripts: keys for one run only. PK signs
# KEK, KEK signs db, db signs images. The caller defines fail.

# Makes KEYS/{PK,KEK,db}.{key,crt,esl} and the signed variable updates
# AUTH/{PK,KEK,db}.auth that enrol-keys.efi writes.
make_secure_boot_keys() {  # make_secure_boot_keys KEYS AUTH
  local keys=$1 auth=$2 owner name by
  owner=$(python3 -c 'import uuid; print(uuid.uuid4())')
  for name in PK KEK db; do
    openssl req -new -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=ZAR test $name/" \
      -keyout "$keys/$name.key" -out "$keys/$name.crt" 2> "$keys/openssl.txt" || fail "openssl: $(cat "$keys/openssl.txt")"
    cert-to-efi-sig-list -g "$owner" "$keys/$name.crt" "$keys/$name.esl" > /dev/null
  done
  for name in PK KEK db; do
    case $name in PK | KEK) by=PK ;; db) by=KEK ;; esac
    sign-efi-sig-list -k "$keys/$by.key" -c "$keys/$by.crt" $name "$keys/$name.esl" "$auth/$name.auth" \
      > "$keys/sign-$name.txt" 2>&1 || fail "sign-efi-sig-list $name: $(cat "$keys/sign-$name.txt")"
  done
}
