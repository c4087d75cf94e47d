#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when missing, in
# groups; the arguments name the groups to install, and none means all of them:
#   tools/install-deps.sh [GROUP...]     e.g. tools/install-deps.sh native windows
#   native    the Linux build and its tests (must install)
#   windows   the mingw-w64 cross build of the plug-in (must install)
#   wine      Wine with its 32-bit half, to run the plug-in's tests on this machine
#   emulated  QEMU and debootstrap, to run those tests in an emulated machine where
#             this one cannot run 32-bit programs
#   play      a PulseAudio server and its tools, for corvanta-play's capture tests
#   web       Emscripten, Node.js and Chromium for the web page and its tests, and the
#             tests' npm packages (playwright-core to drive Chromium, esbuild and
#             typescript to build and type-check the corvanta-web package's examples, as
#             pinned in web/package-lock.json) into web/node_modules
#   cross     the aarch64 and s390x cross compilers with qemu-user to run their
#             programs, and Emscripten with Node.js for the WebAssembly build
#   packaging what tools/package.sh and the packages' tests use: CPack's DEB tools,
#             lintian, desktop-file-validate, debootstrap
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
# CPack's DEB generator (dpkg-shlibdeps, file), lintian, the desktop entry's validator and
# MIME types, and debootstrap for the fresh root the packages are installed into.
packaging=(dpkg-dev file binutils lintian desktop-file-utils shared-mime-info man-db debootstrap)

all_groups=(native windows wine emulated play web cross packaging players)
[ $# -gt 0 ] || set -- "${all_groups[@]}"
declare -A asked=()
for group in "$@"; do
  case " ${all_groups[*]} " in
    *" $group "*) asked[$group]=1 ;;
    *) echo "install-deps: no group '$group' (the groups: ${all_groups[*]})" >&2; exit 2 ;;
  esac
done
is_asked() { [ -n "${asked[$1]:-}" ]; }
# The packages of the groups asked for, one a line.
asked_packages() {
  local group
  for group in "${all_groups[@]}"; do
    is_asked "$group" || continue
    local -n packages=$group
    printf '%s\n' "${packages[@]}"
  done
}

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || printf '%s\n' "$p"
  done
}

# The web tests' npm packages, installed from the lock file whenever one is missing or
# other than pinned; a failure is one line, and those tests report themselves skipped.
web_packages() {
  local repo name lock installed stale=
  repo=$(cd "$(dirname "$0")/.." && pwd)
  for name in playwright-core esbuild typescript; do
    lock=$(grep -m1 -A1 "\"node_modules/$name\"" "$repo/web/package-lock.json" | grep -oE '[0-9]+\.[0-9]+\.[0-9]+')
    # A fresh checkout has no node_modules: nothing installed is no failure.
    installed=$(grep -m1 -oE '"version": "[^"]+"' "$repo/web/node_modules/$name/package.json" 2>/dev/null |
                cut -d'"' -f4 || true)
    [ "$lock" = "$installed" ] || stale=1
  done
  [ -n "$stale" ] || return 0
  if ! command -v npm >/dev/null 2>&1; then
    echo "install-deps: web: no npm, so the web tests' npm packages are not installed (those tests report themselves skipped)" >&2
    return 0
  fi
  local log
  log=$(mktemp)
  if ! (cd "$repo/web" && npm ci --no-audit --no-fund) >"$log" 2>&1; then
    echo "install-deps: web: npm ci failed: $(grep -m1 -E 'npm (ERR|error)' "$log" || tail -n 1 "$log")" >&2
  fi
  rm -f "$log"
}

# Only Wine's 32-bit half needs the i386 architecture.
need_i386=
if is_asked wine; then
  dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1
fi
web_group_packages() { ! is_asked web || web_packages; }

mapfile -t wanted < <(asked_packages)
all_missing=$(missing_of "${wanted[@]}")
if [ -z "$all_missing" ] && [ -z "$need_i386" ]; then
  web_group_packages
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  required_missing=$(if is_asked native; then missing_of "${native[@]}"; fi
                     if is_asked windows; then missing_of "${windows[@]}"; fi)
  if [ -n "$required_missing" ]; then
    echo "install-deps: missing packages" $required_missing "; run as root to install them" >&2
    exit 2
  fi
  echo "install-deps: not root, so not installing" $all_missing "(the Wine, capture, web and cross tests use what is here)" >&2
  web_group_packages
  exit 0
fi

if [ -n "$need_i386" ]; then
  dpkg --add-architecture i386
fi

# A mirror in the middle of a sync can fail one list (often one architecture of one
# suite) while every other list is fine; the packages may still install.
update_log=$(mktemp)
trap 'rm -f "$update_log"' EXIT
update_status=0
apt-get update -qq >"$update_log" 2>&1 || update_status=$?
if [ "$update_status" -ne 0 ]; then
  reason=$(grep -m1 -E '^(E|W): Failed to fetch' "$update_log" || grep -m1 -E '^(E|W):' "$update_log" ||
           echo "exit status $update_status")
  echo "install-deps: apt-get update left a list out, going on: ${reason#*: }" >&2
fi

# install_group GROUP required|optional APT_OPTIONS PACKAGE...: installs what of the
# group is missing, if the group was asked for.
install_group() {
  local group=$1 required=$2 options=$3 log missing
  shift 3
  is_asked "$group" || return 0
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
web_group_packages
install_group cross optional --no-install-recommends "${cross[@]}"
install_group packaging optional --no-install-recommends "${packaging[@]}"
install_group players optional "" "${players[@]}"
