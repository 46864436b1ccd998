#!/usr/bin/env bash
# The real zar.efi's port traffic. OVMF's UEFI Shell boots under QEMU with an
# isa-debugcon device at each EC port, 0x62 and 0x66: each writes every byte
# sent to it into its own file and answers every read with one fixed byte.
# The hosted zar-sim runs the same commands against an EC whose reads answer
# with the same bytes (--ec-constant); every byte zar.efi wrote to each port
# must equal zar-sim's, in order, and its console text and status must too.
#
#   port-traffic.sh UEFI_BUILD_DIR HOST_ZAR_SIM WORK
set -euo pipefail

uefi=$(realpath -m "$1") host_sim=$(realpath -m "$2") work=$(realpath -m "$3")
QEMU_LIMIT=${ZAR_QEMU_LIMIT:-90}  # seconds for the whole boot

# Status 0x01 (output full, input empty): every EC wait passes at its first
# read. Data 0x00 is every answer: the module name reads as 32 zero bytes,
# which ports.bin holds at 0x50, so the module check passes; follow-mode
# entry is not acknowledged and the run goes on; the chip reads idle and its
# RDID zero, so the flasher asks RES, ends a possible AAI mode with WRDI and
# asks both again; no chip answers, and the guard hands the EC back with 0xFE.
# No wait runs to its bound.
DATA=0x00 STATUS=0x01
COMMANDS=("ports.bin" "ports.bin p")

fail() { echo "qemu.port-traffic: $*" >&2; exit 1; }
source "$(dirname "$0")/uefi-shell.sh"

[ -f "$uefi/zar.efi" ] || fail "$uefi/zar.efi is missing: build the UEFI applications first (make uefi)"
check_boot_tools od
qemu-system-x86_64 -device isa-debugcon,help 2>&1 | grep -q readback ||
  fail "this QEMU's isa-debugcon has no readback property"

rm -rf "$work"
mkdir -p "$work/stage" "$work/host"
cd "$work"

# ---- The commands: in the Shell, and in the hosted zar-sim ---------------
head -c 8192 /dev/zero > stage/ports.bin
cp "$uefi/zar.efi" stage/
{
  echo "@echo -off"
  echo "fs0:"
  for i in "${!COMMANDS[@]}"; do
    echo "echo ==BEGIN $i=="
    echo "zar.efi ${COMMANDS[$i]}"
    echo "echo ==STATUS $i %lasterror%=="
  done
  echo "echo ==DONE=="
  echo "reset -s"
} | sed 's/$/\r/' > stage/startup.nsh

for i in "${!COMMANDS[@]}"; do
  status=0
  (cd stage && timeout 60 "$host_sim" --ec-constant "$DATA,$STATUS" --trace "../host/trace-$i.txt" \
     ${COMMANDS[$i]} > "../host/text-$i.txt") || status=$?
  echo $status > "host/status-$i.txt"
done

# ---- The boot --------------------------------------------------------------
mkfs.fat -C fat.img 4096 >/dev/null
for f in stage/*; do mcopy -i fat.img "$f" ::; done
boot_shell "$QEMU_LIMIT" fat.img : \
  -chardev file,id=ec-data,path=qemu-62.bin -device isa-debugcon,iobase=0x62,chardev=ec-data,readback=$DATA \
  -chardev file,id=ec-command,path=qemu-66.bin -device isa-debugcon,iobase=0x66,chardev=ec-command,readback=$STATUS
[ $qemu_status -eq 124 ] && fail "QEMU did not finish within $QEMU_LIMIT s"
[ $qemu_status -eq 0 ] || fail "QEMU ended with status $qemu_status: $(cat qemu-stderr.txt)"
grep -q '==DONE==' serial.txt || fail "startup.nsh did not run to its end: $(tail -n 5 serial.txt)"

# ---- The judgement ---------------------------------------------------------
failures=0
bad() { echo "qemu.port-traffic: $*"; failures=$((failures + 1)); }

# The Shell's status for each hosted exit status zar.efi can end with here.
declare -A UEFI_STATUS=([0]=0x0 [1]=0x15 [2]=0x1 [3]=0x7 [4]=0x12)
for i in "${!COMMANDS[@]}"; do
  command="zar ${COMMANDS[$i]}"
  output=$(perl -0777 -ne "print \$1 if /==BEGIN $i==\n(.*?)==STATUS $i \S+==/s" serial.txt)
  status=$(perl -0777 -ne "print \$1 if /==STATUS $i (\S+)==/s" serial.txt)
  host_status=$(cat "host/status-$i.txt")
  [ "$status" = "${UEFI_STATUS[$host_status]:-none}" ] ||
    bad "'$command': %lasterror% is $status, zar-sim's status $host_status"
  host=$(grep -v '^zar-sim: ' "host/text-$i.txt" | tr -d '\r')
  if [ "$output" != "$host" ]; then
    bad "'$command': its text differs from zar-sim's:"
    diff <(echo "$host") <(echo "$output") | head -n 20
  fi
done

# Each port's writes, one hex byte a line: zar-sim's from its traces, command
# after command, and zar.efi's as the devices wrote them.
for port in 62 66; do
  : > "expected-$port.txt"
  for i in "${!COMMANDS[@]}"; do
    awk -v p=$port '$1 == "out" && $2 == p { print $3 }' "host/trace-$i.txt" > "host/writes-$port-$i.txt"
    cat "host/writes-$port-$i.txt" >> "expected-$port.txt"
  done
  od -An -v -tx1 -w1 "qemu-$port.bin" | tr -d ' ' > "sent-$port.txt"
  [ -s "expected-$port.txt" ] || bad "zar-sim wrote nothing to port $port"
  if ! cmp -s "expected-$port.txt" "sent-$port.txt"; then
    # The first write that differs, and the command it belongs to.
    n=$(paste -d ' ' "expected-$port.txt" "sent-$port.txt" | awk '$1 != $2 { print NR; exit }')
    [ -n "$n" ] || n=$(( $(wc -l < "expected-$port.txt") + 1 ))
    i=0 before=0
    while [ $i -lt ${#COMMANDS[@]} ] && [ $((before + $(wc -l < "host/writes-$port-$i.txt"))) -lt "$n" ]; do
      before=$((before + $(wc -l < "host/writes-$port-$i.txt"))); i=$((i + 1))
    done
    where="after the last command"
    [ $i -lt ${#COMMANDS[@]} ] && where="'zar ${COMMANDS[$i]}', its write $((n - before))"
    bad "port $port: zar.efi sent $(wc -l < "sent-$port.txt") bytes, zar-sim $(wc -l < "expected-$port.txt");" \
        "the first difference is write $n ($where): zar.efi $(sed -n "${n}p" "sent-$port.txt"), zar-sim $(sed -n "${n}p" "expected-$port.txt")"
  fi
done

[ $failures -eq 0 ] || exit 1
echo "qemu.port-traffic: zar.efi sent zar-sim's $(wc -l < expected-62.txt) bytes to 0x62 and" \
     "$(wc -l < expected-66.txt) to 0x66 over ${#COMMANDS[@]} commands"
