# Sourced by the QEMU scripts: OVMF's UEFI Shell under QEMU, booted from a FAT
# disk image whose startup.nsh ends with "reset -s". The caller defines fail.

# The tools every boot needs (and MORE), and the firmware: sets $firmware.
check_boot_tools() {  # check_boot_tools [MORE...]
  local tool f
  for tool in qemu-system-x86_64 mcopy mkfs.fat perl timeout "$@"; do
    command -v "$tool" >/dev/null || fail "$tool is missing (tools/install-deps.sh installs it)"
  done
  firmware=
  for f in /usr/share/ovmf/OVMF.fd /usr/share/qemu/OVMF.fd; do
    [ -f "$f" ] && { firmware=$f; break; }
  done
  [ -n "$firmware" ] || fail "no OVMF firmware (package ovmf)"
}

# Boots DISK for at most LIMIT seconds with QEMU-ARGS added, calling TICK every
# tenth of a second while it runs and once after. Leaves raw-serial.txt,
# serial.txt (the console without ANSI sequences and CRs) and qemu-stderr.txt
# in the current folder; sets $qemu_status (124: the limit ran out). With
# PFLASH_VARS set, the firmware is OVMF's code and that variable store, kept
# from one boot to the next, instead of the one-file OVMF.fd.
boot_shell() {  # boot_shell LIMIT DISK TICK [QEMU-ARGS...]
  local limit=$1 disk=$2 tick=$3
  shift 3
  local firmware_args=(-bios "$firmware")
  if [ -n "${PFLASH_VARS:-}" ]; then
    firmware_args=(-drive "if=pflash,format=raw,unit=0,readonly=on,file=${PFLASH_CODE:-/usr/share/OVMF/OVMF_CODE_4M.fd}"
                   -drive "if=pflash,format=raw,unit=1,file=$PFLASH_VARS")
  fi
  # Software emulation (this machine's KVM does not run OVMF). The Shell waits
  # five seconds before startup.nsh unless a key comes: one is sent as soon as
  # it asks.
  rm -f keys; mkfifo keys
  : > raw-serial.txt
  exec 3<>keys
  timeout "$limit" qemu-system-x86_64 -machine q35 -accel tcg -m 256 -smp 1 -nographic -no-reboot \
    "${firmware_args[@]}" -drive "file=$disk,format=raw,if=ide" -net none -serial stdio -monitor none "$@" \
    <&3 > raw-serial.txt 2> qemu-stderr.txt &
  local pid=$! key_sent=false
  while kill -0 $pid 2>/dev/null; do
    if ! $key_sent && grep -aq 'seconds to skip' raw-serial.txt; then
      printf ' ' >&3
      key_sent=true
    fi
    $tick
    sleep 0.1
  done
  qemu_status=0
  wait $pid || qemu_status=$?
  $tick
  exec 3>&-
  rm -f keys
  perl -pe 's/\e\[[0-9;=?]*[A-Za-z]//g; s/\r//g' raw-serial.txt > serial.txt
}

# Sends COMMAND to QEMU's monitor on the unix SOCKET (QEMU started with
# -monitor unix:SOCKET,server=on,wait=off), waiting for its prompt before the
# command and after it: a command sent into a connection that closes at once
# may never be read. False when the monitor is not there (any more).
monitor_command() {  # monitor_command SOCKET COMMAND
  python3 - "$1" "$2" <<'PY'
import socket, sys
s = socket.socket(socket.AF_UNIX)
s.settimeout(5)
s.connect(sys.argv[1])
def prompt():
    seen = b""
    while not seen.endswith(b"(qemu) "):
        piece = s.recv(4096)
        if not piece:
            sys.exit(1)
        seen += piece
prompt()
s.sendall(sys.argv[2].encode() + b"\n")
if sys.argv[2] != "quit":
    prompt()
PY
}

# boot_shell with QEMU's isa-debugcon devices at the EC's ports: each writes
# the bytes sent to it into its file, qemu-62.bin or qemu-66.bin, and answers
# every read with one byte, DATA at 0x62 and STATUS at 0x66.
boot_at_ec_ports() {  # boot_at_ec_ports LIMIT DISK TICK DATA STATUS [QEMU-ARGS...]
  local limit=$1 disk=$2 tick=$3 data=$4 status=$5
  shift 5
  boot_shell "$limit" "$disk" "$tick" \
    -chardev file,id=ec-data,path=qemu-62.bin -device isa-debugcon,iobase=0x62,chardev=ec-data,readback="$data" \
    -chardev file,id=ec-command,path=qemu-66.bin -device isa-debugcon,iobase=0x66,chardev=ec-command,readback="$status" \
    "$@"
}

# Times each case marker of the console by when it first shows up, into
# times.txt: "NAME BEGIN|STATUS SECONDS" (since start_clock). A TICK for
# boot_shell.
start_clock() {
  : > times.txt
  start=$EPOCHREALTIME
  declare -gA seen=()
}
elapsed() { echo "$EPOCHREALTIME $start" | awk '{ printf "%.2f", $1 - $2 }'; }
note_markers() {
  while read -r kind name; do
    if [ -z "${seen[$kind $name]:-}" ]; then
      seen[$kind $name]=1
      echo "$name $kind $(elapsed)" >> times.txt
    fi
  done < <(grep -ao '==\(BEGIN\|STATUS\) [a-z-]*' raw-serial.txt | sed 's/==//')
}
# Seconds from NAME's BEGIN to its STATUS in times.txt; nothing when either is missing.
case_seconds() {
  awk -v n="$1" '$1 == n && $2 == "BEGIN" { b = $3 } $1 == n && $2 == "STATUS" && b != "" { printf "%.2f", $3 - b }' times.txt
}
