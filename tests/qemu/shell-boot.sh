# Booting OVMF's UEFI Shell under QEMU, for the QEMU cases to source.

# shell_boot LIMIT SERIAL STDERR TICK QEMU-ARG...
# Runs QEMU for at most LIMIT seconds, the serial console on stdio into
# SERIAL, its own messages into STDERR. The Shell waits five seconds before
# startup.nsh unless a key comes: one is sent as soon as it asks. TICK, a
# command (or :), runs ten times a second while QEMU runs. Sets BOOT_STATUS
# to QEMU's exit status (124 when it hit the limit).
shell_boot() {
  local limit=$1 serial=$2 stderr=$3 tick=$4
  shift 4
  local keys=$serial.keys
  rm -f "$keys"
  mkfifo "$keys"
  local fd
  exec {fd}<>"$keys"
  timeout "$limit" qemu-system-x86_64 "$@" -nographic -no-reboot -serial stdio -monitor none \
    <&$fd > "$serial" 2> "$stderr" &
  local qemu=$! key_sent=false
  while kill -0 $qemu 2>/dev/null; do
    if ! $key_sent && grep -aq 'seconds to skip' "$serial" 2>/dev/null; then
      printf ' ' >&$fd
      key_sent=true
    fi
    $tick
    sleep 0.1
  done
  BOOT_STATUS=0
  wait $qemu || BOOT_STATUS=$?
  exec {fd}>&-
  rm -f "$keys"
}

# console_text RAW TEXT: the console without ANSI sequences and CRs.
console_text() {
  perl -pe 's/\e\[[0-9;=?]*[A-Za-z]//g; s/\r//g' "$1" > "$2"
}
