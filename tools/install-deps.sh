#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when missing, in
# groups:
#   native    the Linux build and its tests (must install)
#   windows   the mingw-w64 cross build of the plug-in (must install)
#   wine      Wine with its 32-bit half, to run the plug-in's tests on this machine
#   emulated  QEMU and debootstrap, to run those tests in an emulated machine where
#             this one cannot run 32-bit programs
#   play      a PulseAudio server and its tools, for corvanta-play's capture tests
#   web       Emscripten, Node.js and Chromium for the web page and its tests, and the
#             test driver's one npm package (playwright-core, as pinned in
#             web/package-lock.json) into web/node_modules
#   cross     the aarch64 and s390x cross compilers with qemu-user to run their
#             programs, and Emscripten with Node.js for the WebAssembly build
#   players   GStreamer's and VLC's plug-in SDKs for the player plug-ins, and what their
#             tests drive: GStreamer's tools and plug-ins, libvlc with its base modules,
#             valgrind
# A group that must install and cannot stops the script with apt's own message. The
# others may fail: the script says so in one line, with apt's reason, and goes on;
# the Wine tests then run in the emulated machine, or report themselves skipped, as do
# the capture tests without a server and the web tests without a browser; tools/test.sh
# reports the cross presets whose tools are missing as skipped.
# Quick when everything is present: it asks dpkg first and touches apt only then.
set -euo pipefail

native=(g++ cmake make clang libclang-rt-14-dev libgtest-dev libbenchmark-dev libpng-dev pkg-config
        python3 libsdl2-dev libsndfile1-dev xvfb xauth
        libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg)
windows=(g++-mingw-w64-i686 binutils-mingw-w64-i686)
wine=(wine wine32:i386)
emulated=(qemu-system-x86 qemu-utils debootstrap e2fsprogs cpio xz-utils zstd)
play=(pulseaudio pulseaudio-utils)
web=(emscripten node-acorn nodejs chromium)
# A Node.js from elsewhere brings its own npm, which Debian's npm package would clash with.
command -v npm >/dev/null 2>&1 || web+=(npm)
# Emscripten's JavaScript optimizer needs acorn, which Debian packages apart.
cross=(g++-aarch64-linux-gnu g++-s390x-linux-gnu qemu-user emscripten nodejs node-acorn)
players=(libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools gstreamer1.0-plugins-base
         gstreamer1.0-plugins-good libvlccore-dev libvlc-dev vlc-plugin-base valgrind)

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || printf '%s\n' "$p"
  done
}

# The web tests' npm package, installed from the lock file whenever it is missing or
# other than pinned; a failure is one line, and those tests report themselves skipped.
web_packages() {
  local repo lock installed
  repo=$(cd "$(dirname "$0")/.." && pwd)
  lock=$(grep -m1 -A1 '"node_modules/playwright-core"' "$repo/web/package-lock.json" | grep -oE '[0-9]+\.[0-9]+\.[0-9]+')
  # A fresh checkout has no node_modules: nothing installed is no failure.
  installed=$(grep -m1 -oE '"version": "[^"]+"' "$repo/web/node_modules/playwright-core/package.json" 2>/dev/null |
              cut -d'"' -f4 || true)
  [ "$lock" != "$installed" ] || return 0
  if ! command -v npm >/dev/null 2>&1; then
    echo "install-deps: web: no npm, so playwright-core is not installed (the web tests report themselves skipped)" >&2
    return 0
  fi
  local log
  log=$(mktemp)
  if ! (cd "$repo/web" && npm ci --no-audit --no-fund) >"$log" 2>&1; then
    echo "install-deps: web: npm ci failed: $(grep -m1 -E 'npm (ERR|error)' "$log" || tail -n 1 "$log")" >&2
  fi
  rm -f "$log"
}

need_i386=
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1

all_missing=$(missing_of "${native[@]}" "${windows[@]}" "${wine[@]}" "${emulated[@]}" "${play[@]}" "${web[@]}" "${cross[@]}" "${players[@]}")
if [ -z "$all_missing" ] && [ -z "$need_i386" ]; then
  web_packages
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  required_missing=$(missing_of "${native[@]}" "${windows[@]}")
  if [ -n "$required_missing" ]; then
    echo "install-deps: missing packages" $required_missing "; run as root to install them" >&2
    exit 2
  fi
  echo "install-deps: not root, so not installing" $all_missing "(the Wine, capture, web and cross tests use what is here)" >&2
  web_packages
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
  # apt's error, and the first unmet dependency it names (one of another architecture
  # first: that is where a lagging list shows).
  echo "install-deps: $group: not installed: $(grep -m1 -E '^E:' "$log" | sed 's/^E: //' ||
    tail -n 1 "$log") $({ grep -E ' : Depends: .*:i386' "$log"; grep -E ' : Depends: ' "$log"; } |
    head -n 1 | sed 's/^ *//')" >&2
  rm -f "$log"
  return 0
}

install_group native required "" "${native[@]}"
install_group windows required "" "${windows[@]}"
install_group wine optional "" "${wine[@]}"
# The emulated machine needs QEMU's command-line emulator only, not its desktop front ends.
install_group emulated optional --no-install-recommends "${emulated[@]}"
# The server alone, without the desktop's sound settings and Bluetooth modules.
install_group play optional --no-install-recommends "${play[@]}"
install_group web optional "" "${web[@]}"
web_packages
install_group cross optional --no-install-recommends "${cross[@]}"
install_group players optional "" "${players[@]}"
