#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when missing, in
# groups:
#   native    the Linux build and its tests (must install)
#   windows   the mingw-w64 cross build of the plug-in (must install)
#   wine      Wine with its 32-bit half, to run the plug-in's tests on this machine
#   emulated  QEMU and debootstrap, to run those tests in an emulated machine where
#             this one cannot run 32-bit programs
# A group that must install and cannot stops the script with apt's own message. The
# other two may fail: the script says so in one line, with apt's reason, and goes on;
# the Wine tests then run in the emulated machine, or report themselves skipped.
# Quick when everything is present: it asks dpkg first and touches apt only then.
set -euo pipefail

native=(g++ cmake make clang libclang-rt-14-dev libgtest-dev libbenchmark-dev libpng-dev pkg-config
        python3 libsdl2-dev libsndfile1-dev libfftw3-dev xvfb xauth)
windows=(g++-mingw-w64-i686 binutils-mingw-w64-i686)
wine=(wine wine32:i386)
emulated=(qemu-system-x86 qemu-utils debootstrap e2fsprogs cpio xz-utils zstd)

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || printf '%s\n' "$p"
  done
}

need_i386=
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1

all_missing=$(missing_of "${native[@]}" "${windows[@]}" "${wine[@]}" "${emulated[@]}")
if [ -z "$all_missing" ] && [ -z "$need_i386" ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  required_missing=$(missing_of "${native[@]}" "${windows[@]}")
  if [ -n "$required_missing" ]; then
    echo "install-deps: missing packages" $required_missing "; run as root to install them" >&2
    exit 2
  fi
  echo "install-deps: not root, so not installing" $all_missing "(the Wine tests use what is here)" >&2
  exit 0
fi

if [ -n "$need_i386" ]; then
  dpkg --add-architecture i386
fi

# A mirror in the middle of a sync can fail one list (often one architecture of one
# suite) while every other list is fine; the packages may still install.
update_log=$(mktemp)
trap 'rm -f "$update_log"' EXIT
if ! apt-get update -qq >"$update_log" 2>&1; then
  reason=$(grep -m1 -E '^(E|W): Failed to fetch' "$update_log" || grep -m1 -E '^(E|W):' "$update_log" || echo "exit status $?")
  echo "install-deps: apt-get update left a list out, going on: ${reason#*: }" >&2
fi

# install_group GROUP required|optional APT_OPTIONS PACKAGE...: installs what of the group is missing.
install_group() {
  local group=$1 required=$2 options=$3 log missing
  shift 3
  missing=$(missing_of "$@")
  [ -n "$missing" ] || return 0
  echo "install-deps: $group: installing" $missing >&2
  log=$(mktemp)
  # shellcheck disable=SC2086
  if DEBIAN_FRONTEND=noninteractive apt-get install -y -q $options $missing >"$log" 2>&1; then
    rm -f "$log"
    return 0
  fi
  if [ "$required" = required ]; then
    cat "$log" >&2
    rm -f "$log"
    echo "install-deps: $group: apt-get install failed" >&2
    exit 1
  fi
  echo "install-deps: $group: not installed: $(grep -m1 -E '^E:' "$log" | sed 's/^E: //' ||
    tail -n 1 "$log") $(grep -m1 -E ' : Depends: ' "$log" | sed 's/^ *//')" >&2
  rm -f "$log"
  return 0
}

# Where one suite's i386 list is missing, amd64 libraries that came from that suite clash
# with the i386 ones of the suite whose list is there (a Multi-Arch library must be at one
# version in both). Holding both to the i386 candidate's version, round by round as apt
# names the next clash, settles it; that can take an amd64 library back to an older
# version than a security update brought, so it is done only when asked.
#   CORVANTA_MATCH_I386=1 tools/install-deps.sh
match_i386() {
  local pins=() round out names p vi va progress
  for round in 1 2 3 4 5 6 7 8 9 10; do
    out=$(apt-get install -s -q --allow-downgrades "${wine[@]}" "${pins[@]}" 2>&1)
    if grep -q '^Inst wine32' <<< "$out"; then
      echo "install-deps: wine: holding to the i386 versions:" "${pins[@]}" >&2
      DEBIAN_FRONTEND=noninteractive apt-get install -y -q --allow-downgrades "${wine[@]}" "${pins[@]}" >/dev/null 2>&1
      return
    fi
    names=$(grep -oE 'Depends: [a-z0-9.+-]+:i386' <<< "$out" | sed 's/^Depends: //; s/:i386$//' | sort -u)
    progress=
    for p in $names; do
      vi=$(apt-cache policy "$p:i386" | awk '/Candidate:/ {print $2}')
      [ -n "$vi" ] && [ "$vi" != "(none)" ] || continue
      [[ " ${pins[*]} " != *" $p:i386=$vi "* ]] || continue
      va=$(dpkg-query -W -f='${Version}' "$p:amd64" 2>/dev/null || true)
      if [ -n "$va" ] && [ "$va" != "$vi" ]; then pins+=("$p:amd64=$vi"); fi
      pins+=("$p:i386=$vi")
      progress=1
    done
    [ -n "$progress" ] || return 1
  done
  return 1
}

install_group native required "" "${native[@]}"
install_group windows required "" "${windows[@]}"
install_group wine optional "" "${wine[@]}"
if [ -n "$(missing_of "${wine[@]}")" ] && [ "${CORVANTA_MATCH_I386:-}" = 1 ]; then
  match_i386 || echo "install-deps: wine: no versions of the i386 libraries match" >&2
fi
# The emulated machine needs QEMU's command-line emulator only, not its desktop front ends.
install_group emulated optional --no-install-recommends "${emulated[@]}"
