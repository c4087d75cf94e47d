#!/usr/bin/env bash
# Boots the emulated machine once to run one command in it, and passes back the
# command's output and exit status as its own.
#   guest_run.sh [--writable] IMAGE_DIR -- COMMAND [ARG...]
# The command runs as root in the current directory's path, with the WINE* and
# CORVANTA_HOST_* variables of this environment. The host folders in CORVANTA_GUEST_SHARES (colon-separated) are
# mounted at the same paths, read-write. Without --writable the image is left as it
# was, through an overlay that is dropped afterwards.
# The machine is emulated in software (TCG): KVM, where a machine offers it at all, is
# often nested here and refuses the CPU's model registers.
set -euo pipefail
writable=0
if [ "${1:-}" = --writable ]; then writable=1; shift; fi
image=$1
shift
[ "${1:-}" = -- ] && shift
[ $# -gt 0 ] || { echo "usage: guest_run.sh [--writable] IMAGE_DIR -- COMMAND [ARG...]" >&2; exit 2; }

run=$(mktemp -d "${TMPDIR:-/tmp}/corvanta-guest.XXXXXX")
qemu_pid=
cleanup() {
  if [ -n "$qemu_pid" ]; then kill "$qemu_pid" 2>/dev/null || true; fi
  rm -rf "$run"
}
trap cleanup EXIT
# Stopped from outside (a test's time limit): what the command had written so far.
stopped() {
  echo "guest_run: stopped; the command's output so far:" >&2
  cat "$run/stdout" "$run/stderr" >&2 2>/dev/null
  exit 143
}
trap stopped TERM INT

printf '%s\0' "$@" > "$run/argv"
: > "$run/env"
while IFS='=' read -r -d '' name value; do
  case $name in WINE* | CORVANTA_HOST_*) printf '%s=%s\0' "$name" "$value" >> "$run/env" ;; esac
done < <(env -0)
pwd > "$run/cwd"
: > "$run/shares"
shares=()
n=0
IFS=':' read -r -a folders <<< "${CORVANTA_GUEST_SHARES:-}"
for folder in "${folders[@]}"; do
  [ -n "$folder" ] && [ -d "$folder" ] || continue
  folder=$(cd "$folder" && pwd -P)
  n=$((n + 1))
  echo "share$n $folder" >> "$run/shares"
  shares+=(-virtfs "local,path=$folder,mount_tag=share$n,security_model=none")
done

if [ $writable -eq 1 ]; then
  disk=(-drive "file=$image/root.img,if=virtio,format=raw")
else
  qemu-img create -q -f qcow2 -F raw -b "$image/root.img" "$run/overlay.qcow2"
  disk=(-drive "file=$run/overlay.qcow2,if=virtio,format=qcow2,cache=unsafe")
fi

# Under TCG the guest kernel oopses in every 32-bit process unless SMAP is off.
qemu-system-x86_64 -nodefaults -no-user-config -no-reboot \
  -machine q35 -accel tcg -cpu max,-smap -smp 2 -m 2048 \
  -display none -serial "file:$run/console.log" -nic none \
  -kernel "$image/vmlinuz" -initrd "$image/initrd" -append "console=ttyS0 panic=-1 quiet" \
  "${disk[@]}" -virtfs "local,path=$run,mount_tag=corvanta-run,security_model=none" "${shares[@]}" &
qemu_pid=$!
wait "$qemu_pid" || true
qemu_pid=

if [ ! -f "$run/status" ]; then
  echo "guest_run: the emulated machine stopped without running the command; its console:" >&2
  tail -n 30 "$run/console.log" >&2 || true
  exit 125
fi
[ ! -f "$run/stdout" ] || cat "$run/stdout"
[ ! -f "$run/stderr" ] || cat "$run/stderr" >&2
exit "$(cat "$run/status")"
