#!/usr/bin/env bash
# Decides where the plug-in's Wine tests run, and readies it: on this machine when it
# can run Wine's 32-bit programs, else in the emulated machine, else nowhere (the tests
# then report themselves skipped, with the reason). Writes the decision to DECISION:
#   native
#   emulated IMAGE_DIR
#   skip REASON
#   wine_machine.sh DECISION PREFIX CACHE_DIR
# PREFIX is the Wine prefix the native runs use, made afresh here. CORVANTA_WINE_MACHINE
# = native or emulated forces one way (then failing to ready it is a test failure);
# the default, auto, tries them in that order.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
decision=$1 prefix=$2 cache=$3
mode=${CORVANTA_WINE_MACHINE:-auto}
mkdir -p "$(dirname "$decision")"
rm -f "$decision"

skip() {
  echo "skip $1" > "$decision"
  echo "corvanta-wine: skipped: $1"
  exit 0
}

# A fresh prefix, as the first start of Wine makes it, with window placement kept
# from a window manager: none runs on the virtual display, and without this every
# window that closes waits for an answer that never comes.
prefix_script='wine wineboot --init && wine reg add "HKCU\Software\Wine\X11 Driver" /v Managed /t REG_SZ /d N /f && wine cmd /c exit 0 && wineserver -w'

native_reason=
if [ "$mode" != emulated ]; then
  if ! command -v wine >/dev/null || ! command -v wineserver >/dev/null || ! command -v xvfb-run >/dev/null; then
    native_reason="wine, wineserver or xvfb-run is not installed"
  else
    rm -rf "$prefix"
    mkdir -p "$(dirname "$prefix")"
    log=$(WINEPREFIX=$prefix WINEARCH=win32 timeout 300 xvfb-run -a sh -c "$prefix_script" 2>&1)
    status=$?
    if [ $status -eq 0 ]; then
      echo native > "$decision"
      echo "corvanta-wine: Wine runs on this machine"
      exit 0
    fi
    native_reason="Wine cannot run here (exit $status: $(printf '%s\n' "$log" | grep -v '^$' | tail -n 1))"
  fi
  echo "corvanta-wine: $native_reason"
  if [ "$mode" = native ]; then
    echo "corvanta-wine: CORVANTA_WINE_MACHINE=native, so not trying the emulated machine" >&2
    exit 1
  fi
fi

missing=()
for tool in qemu-system-x86_64 qemu-img debootstrap mkfs.ext4 cpio chroot flock; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
[ ${#missing[@]} -eq 0 ] || skip "$native_reason; no emulated machine either: ${missing[*]} not installed"
[ "$(id -u)" -eq 0 ] || skip "$native_reason; no emulated machine either: building it needs root"
mkdir -p "$cache" || skip "$native_reason; no emulated machine either: cannot make $cache"
if ! ls "$cache"/image-*/ready >/dev/null 2>&1; then
  free_mb=$(df -Pm "$cache" | awk 'NR==2 {print $4}')
  [ "$free_mb" -ge 6000 ] || skip "$native_reason; no emulated machine either: ${free_mb} MB free in $cache, 6000 needed"
fi

echo "corvanta-wine: readying the emulated machine in $cache"
if ! image=$("$here/guest_image.sh" "$cache"); then
  [ "$mode" = emulated ] && exit 1
  skip "$native_reason; the emulated machine could not be built (see above)"
fi
started=$(date +%s)
if ! (cd / && WINEPREFIX=/var/lib/corvanta/wine CORVANTA_GUEST_SHARES= "$here/guest_run.sh" "$image" -- xvfb-run -a wine cmd /c exit 0); then
  echo "corvanta-wine: Wine does not run in the emulated machine" >&2
  exit 1
fi
echo "emulated $image" > "$decision"
echo "corvanta-wine: Wine runs in the emulated machine ($image; a boot and a start of Wine took $(( $(date +%s) - started )) s)"
