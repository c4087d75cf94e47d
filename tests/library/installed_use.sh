#!/bin/sh
# libcorvanta as a user gets it: installed from the build tree into a prefix chosen now,
# then a C program built through pkg-config and through find_package, shared and static.
# Each prints the trace lines of the same WAV as corvanta-sim writes them. Also: the
# shared library exports corvanta_* only, and the header is strict C99 and clean C++.
#   installed_use.sh BUILD SOURCE WORK CORVANTA-SIM CMAKE PKG-CONFIG CC
set -eu
build=$1 source=$2 work=$3 sim=$4 cmake=$5 pkg_config=$6 cc=$7
fail() { echo "installed_use: $*" >&2; exit 1; }
[ -n "$pkg_config" ] || { echo "installed_use: skipped: pkg-config not found"; exit 0; }

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" || fail "cmake --install failed: $(tail -n 3 "$work/install.log")"
library=$(find "$prefix" -name 'libcorvanta.so.1' | head -n 1)
[ -n "$library" ] || fail "no libcorvanta.so.1 under $prefix"
libdir=$(dirname "$library")
[ -f "$libdir/pkgconfig/corvanta.pc" ] || fail "no corvanta.pc in $libdir/pkgconfig"
[ -f "$prefix/include/corvanta/corvanta.h" ] || fail "no header in $prefix/include/corvanta"

# Only the interface is exported.
others=$(nm -D --defined-only "$library" | awk '{print $NF}' | grep -v '^corvanta_' || true)
[ -z "$others" ] || fail "libcorvanta.so.1 exports more than corvanta_*: $(echo "$others" | head -n 5 | tr '\n' ' ')"
nm -D --defined-only "$library" | grep -q ' corvanta_create$' || fail "corvanta_create is not exported"

# The header alone, as strict C99 and as C++.
"$cc" -std=c99 -Wall -Wextra -pedantic -Werror -fsyntax-only -I"$prefix/include" -x c "$prefix/include/corvanta/corvanta.h" ||
  fail "the header is not clean C99"
c++ -std=c++11 -Wall -Wextra -pedantic -Werror -fsyntax-only -I"$prefix/include" -x c++ "$prefix/include/corvanta/corvanta.h" ||
  fail "the header is not clean C++"

# The example of docs/embedding.md, as it stands there.
sed -n '/^```c$/,/^```$/p' "$source/docs/embedding.md" | sed '1d;$d' >"$work/host.c"
[ -s "$work/host.c" ] || fail "no C example in docs/embedding.md"

# The song, and what corvanta-sim makes of it: every 400th line and the last.
"$build/tests/play/play_make_track" "$work/song.wav" 25 44100 >/dev/null 2>&1 ||
  { echo "installed_use: skipped: no play_make_track (a build without libsndfile)"; exit 0; }
"$sim" --audio "$work/song.wav" --seed 26 --trace "$work/sim.trace" >/dev/null
awk 'NR % 400 == 0 { print } END { if (NR % 400 != 0) print }' "$work/sim.trace" >"$work/expected"
[ "$(wc -l <"$work/expected")" -ge 2 ] || fail "too few frames to compare"

run_host() {  # NAME: runs the host built as NAME and compares its lines
  LD_LIBRARY_PATH=$libdir "$work/$1" "$work/song.wav" >"$work/$1.out" || fail "$1 failed"
  cmp -s "$work/expected" "$work/$1.out" || fail "$1 printed other lines than corvanta-sim: $(diff "$work/expected" "$work/$1.out" | head -n 4 | tr '\n' ' ')"
}

PKG_CONFIG_PATH=$libdir/pkgconfig
export PKG_CONFIG_PATH
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Wextra -Werror "$work/host.c" -o "$work/host-pkg-config" $("$pkg_config" --cflags --libs corvanta) ||
  fail "the example does not build with pkg-config"
run_host host-pkg-config
# shellcheck disable=SC2046
"$cc" -std=c99 "$work/host.c" -o "$work/host-pkg-config-static" $("$pkg_config" --cflags corvanta) \
  "$libdir/libcorvanta.a" $("$pkg_config" --libs-only-l --static corvanta | sed 's/-lcorvanta//') ||
  fail "the example does not build against the archive"
run_host host-pkg-config-static

mkdir -p "$work/consumer"
cp "$work/host.c" "$work/consumer/host.c"
cat >"$work/consumer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(host C)
find_package(Corvanta 1 REQUIRED)
add_executable(host-cmake host.c)
target_link_libraries(host-cmake PRIVATE Corvanta::corvanta)
add_executable(host-cmake-static host.c)
target_link_libraries(host-cmake-static PRIVATE Corvanta::corvanta_static)
CMAKE
"$cmake" -S "$work/consumer" -B "$work/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_RUNTIME_OUTPUT_DIRECTORY="$work" >"$work/consumer.log" 2>&1 || fail "find_package(Corvanta) failed: $(tail -n 5 "$work/consumer.log")"
"$cmake" --build "$work/consumer/build" >>"$work/consumer.log" 2>&1 || fail "the CMake consumer does not build: $(tail -n 5 "$work/consumer.log")"
run_host host-cmake
run_host host-cmake-static
echo "installed_use: pkg-config and find_package builds, shared and static, print corvanta-sim's lines"
