#!/usr/bin/env bash
# The packages as a user gets them: in a fresh, minimal Debian 12 root (debootstrap,
# cached), `apt-get install ./corvanta_*.deb ./libcorvanta*.deb` must find every
# dependency on the mirror; then, inside that root:
#   - corvanta-sim reports the packages' version and writes the same last trace line
#     as the build tree's corvanta-sim;
#   - man finds both manual pages;
#   - a C program built with `pkg-config --cflags --libs corvanta` runs, reports the
#     packages' version and steps the same world as corvanta-sim;
#   - with the GStreamer element's package, gst-inspect-1.0 finds the element;
# and `apt-get purge` of them (and what came with them) leaves none of their files, nor
# any other file that no installed package owns.
#   fresh_debian.sh PACKAGE-DIR CORVANTA-SIM WORK
# The root is kept in $CORVANTA_GUEST_CACHE (default /var/cache/corvanta-guest), beside
# the emulated machine's image, and made again each ISO week; each run works in an
# overlay over it (or a copy), so the cached root stays fresh. Reports itself skipped
# (not root, no debootstrap, the mirror unreachable, too little disk, no packages).
set -euo pipefail
packages=$1 sim=$2 work=$3
cache=${CORVANTA_GUEST_CACHE:-/var/cache/corvanta-guest}
skip() { echo "fresh_debian: skipped: $*"; exit 0; }
fail() { echo "fresh_debian: $*" >&2; exit 1; }
started=$(date +%s)
phase_started=$started
phase() {  # the time each phase took, for the log
  local now
  now=$(date +%s)
  echo "fresh_debian: $1 in $((now - phase_started)) s"
  phase_started=$now
}

[ "$(id -u)" -eq 0 ] || skip "not root (debootstrap and chroot need it)"
command -v debootstrap >/dev/null || skip "debootstrap not found (tools/install-deps.sh packaging)"
not_built="(cmake --preset package && cmake --build --preset package, or tools/package.sh)"
[ -d "$packages" ] || skip "no $packages $not_built"
debs=()  # the player plug-ins' packages where they were built
for name in corvanta 'libcorvanta[0-9]*' libcorvanta-dev gstreamer1.0-corvanta vlc-plugin-corvanta; do
  found=$(find "$packages" -maxdepth 1 -name "${name}_*.deb" | sort | tail -n 1)
  [ -n "$found" ] || [[ $name == *-corvanta ]] || skip "no ${name}_*.deb in $packages $not_built"
  [ -z "$found" ] || debs+=("$found")
done
gst_deb=$(printf '%s\n' "${debs[@]}" | grep '/gstreamer1.0-corvanta_' || true)

# The mirror: as the emulated machine's image takes it, else this machine's own.
mirror=${CORVANTA_GUEST_MIRROR:-}
if [ -z "$mirror" ]; then
  mirror=$(grep -hsE '^(deb |URIs:)' /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources |
    grep -oE 'https?://[^ ]+/debian/?( |$)' | head -n 1 | tr -d ' ' || true)
fi
[ -n "$mirror" ] || skip "no Debian mirror in this machine's apt sources (set CORVANTA_GUEST_MIRROR)"
python3 - "$mirror" <<'PY' || skip "the mirror $mirror does not answer"
import sys, urllib.request
urllib.request.urlopen(sys.argv[1].rstrip('/') + '/dists/bookworm/Release', timeout=20).read(64)
PY

mkdir -p "$cache" "$work"
free_mb() { df -Pm "$1" | awk 'NR == 2 { print $4 }'; }
[ "$(free_mb "$cache")" -ge 2048 ] || skip "under 2 GB free in $cache"
[ "$(free_mb "$work")" -ge 2048 ] || skip "under 2 GB free in $work"

# The cached root: debootstrap's minimal Debian 12 with the tools the checks use.
base=$cache/packages-root-$(date +%G-w%V)
if [ ! -f "$base/ready" ]; then
  exec 9>"$cache/packages-root.lock"
  flock 9
  if [ ! -f "$base/ready" ]; then
    rm -rf "$base.partial"
    mkdir -p "$base.partial"
    echo "fresh_debian: debootstrap bookworm from $mirror (once a week)"
    if ! debootstrap --variant=minbase --include=man-db,pkgconf,gcc,libc6-dev bookworm "$base.partial/root" "$mirror" \
         >"$base.partial/debootstrap.log" 2>&1; then
      tail -n 5 "$base.partial/debootstrap.log" >&2
      fail "debootstrap failed (log: $base.partial/debootstrap.log)"
    fi
    printf 'deb %s bookworm main\ndeb %s bookworm-updates main\n' "$mirror" "$mirror" >"$base.partial/root/etc/apt/sources.list"
    rm -rf "$base.partial/root/var/cache/apt/archives/"*.deb "$base.partial/root/var/lib/apt/lists/"*
    touch "$base.partial/ready"
    for old in "$cache"/packages-root-*; do
      [ "$old" = "$base.partial" ] || rm -rf "$old"
    done
    mv "$base.partial" "$base"
  fi
  flock -u 9
  phase "made the cached root"
fi

# This run's root: an overlay over the cached one, or a copy where overlays fail.
root=$work/root
cleanup() {
  local m
  for m in "$root/dev" "$root/proc"; do
    mountpoint -q "$m" 2>/dev/null && umount -l "$m"
  done
  mountpoint -q "$root" 2>/dev/null && umount -l "$root"
  return 0
}
trap cleanup EXIT
cleanup
rm -rf --one-file-system "$work"
mkdir -p "$work/upper" "$work/overlay-work" "$root"
if ! mount -t overlay overlay -o "lowerdir=$base/root,upperdir=$work/upper,workdir=$work/overlay-work" "$root" 2>/dev/null; then
  echo "fresh_debian: no overlay mount here, copying the root"
  cp -a "$base/root/." "$root/"
fi
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
mkdir -p "$root/tmp/packages"
cp "${debs[@]}" "$root/tmp/packages/"
log=$work/root.log
in_root() { DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 chroot "$root" "$@"; }
quiet_in_root() {  # a step whose output goes to the log, and its tail to stderr if it fails
  echo "+ $*" >>"$log"
  in_root "$@" >>"$log" 2>&1 || { tail -n 15 "$log" >&2; return 1; }
}
phase "set up the root"

quiet_in_root apt-get update || fail "apt-get update in the root failed"
extra=()
[ -z "$gst_deb" ] || extra+=(gstreamer1.0-tools)
if [ ${#extra[@]} -gt 0 ]; then
  quiet_in_root apt-get install -y --no-install-recommends "${extra[@]}" || fail "installing ${extra[*]} failed"
fi
phase "updated the lists"

# What the root holds before, to find what the packages leave behind after the purge.
snapshot() {  # files and links, not folders; the caches the packages' triggers rebuild aside
  (cd "$root" && find . -xdev \( -path ./proc -o -path ./dev -o -path ./tmp -o -path ./var/cache -o -path ./var/lib/apt \
     -o -path ./var/lib/dpkg -o -path ./var/log -o -path ./root \) -prune -o ! -type d -print) |
    grep -vE '^\./etc/ld\.so\.cache$|/mimeinfo\.cache$|/icon-theme\.cache$|/vlc/plugins/plugins\.dat$|/gio/modules/giomodule\.cache$|/gdk-pixbuf-2\.0/.*/loaders\.cache$|^\./usr/share/mime/' |
    sort
}
snapshot >"$work/before.files"

names=()
for deb in "${debs[@]}"; do names+=("$(dpkg-deb -f "$deb" Package)"); done
in_root_debs=()
for deb in "${debs[@]}"; do in_root_debs+=("/tmp/packages/$(basename "$deb")"); done
if ! quiet_in_root apt-get install -y --no-install-recommends "${in_root_debs[@]}"; then
  fail "apt-get install of ${names[*]} failed: $(grep -E '^E:|Depends:' "$log" | tail -n 3 | tr '\n' ' ')"
fi
phase "installed ${names[*]} and their dependencies"

# corvanta-sim: the packaged program computes the build tree's world.
"$sim" --frames 200 --seed 26 --trace "$work/build.trace" >/dev/null
quiet_in_root corvanta-sim --frames 200 --seed 26 --trace /tmp/sim.trace || fail "corvanta-sim failed in the root"
expected=$(tail -n 1 "$work/build.trace")
got=$(tail -n 1 "$root/tmp/sim.trace")
[ "$got" = "$expected" ] || fail "the packaged corvanta-sim's last line is '$got', the build tree's '$expected'"

version=$(dpkg-deb -f "${debs[0]}" Version)
[ "$(in_root corvanta-sim --version)" = "corvanta-sim ${version%-*}" ] ||
  fail "the packaged corvanta-sim says '$(in_root corvanta-sim --version)', the packages are $version"

# The manual pages.
for page in corvanta-sim corvanta-play; do
  in_root man -w "$page" >/dev/null 2>&1 || fail "man -w $page finds no page"
done

# A program on the installed library, built the way its users build it: the version
# it reports is the packages', and it steps corvanta-sim's world.
cat >"$root/tmp/host.c" <<'C'
#include <corvanta/corvanta.h>
#include <stdio.h>

int main(void) {
  static const uint8_t silence[CORVANTA_SPECTRUM_BYTES];
  char message[256], line[CORVANTA_TRACE_LINE_BYTES];
  corvanta_config config;
  corvanta_config_init(&config);
  config.seed = 26, config.seed_from_clock = 0, config.input = CORVANTA_INPUT_SPECTRUM;
  corvanta *world = NULL;
  if (corvanta_create(&config, &world, message, sizeof message) != CORVANTA_OK) { fprintf(stderr, "%s\n", message); return 1; }
  for (int i = 0; i < 300; i++)
    if (corvanta_step_spectrum(world, silence, NULL) != CORVANTA_OK) return 1;
  corvanta_trace_line(world, line, sizeof line);
  printf("%s\n%s\n", corvanta_version(), line);
  corvanta_destroy(world);
  return 0;
}
C
quiet_in_root sh -c 'cc -std=c99 -Wall -Werror /tmp/host.c -o /tmp/host $(pkg-config --cflags --libs corvanta)' ||
  fail "the C program does not build with pkg-config"
in_root /tmp/host >"$work/host.out" 2>>"$log" || fail "the C program failed: $(tail -n 2 "$log")"
"$sim" --frames 300 --seed 26 --spectrum silence --trace "$work/silence.trace" >/dev/null
[ "$(sed -n 1p "$work/host.out")" = "${version%-*}" ] ||
  fail "the installed library says it is version $(sed -n 1p "$work/host.out"), the packages are $version"
[ "$(sed -n 2p "$work/host.out")" = "$(tail -n 1 "$work/silence.trace")" ] ||
  fail "the C program's world differs from corvanta-sim's: '$(sed -n 2p "$work/host.out")'"

if [ -n "$gst_deb" ]; then
  quiet_in_root gst-inspect-1.0 corvanta || fail "gst-inspect-1.0 does not find the element corvanta"
fi
phase "checked the installed programs, pages and library"

# Purging leaves none of their files, nor any other new file.
in_root dpkg -L "${names[@]}" 2>/dev/null | sort -u >"$work/package.files"
quiet_in_root apt-get purge -y --autoremove "${names[@]}" || fail "apt-get purge failed"
leftover=$(while IFS= read -r path; do  # folders may be shared with other packages
  if [ ! -d "$root$path" ] && { [ -e "$root$path" ] || [ -L "$root$path" ]; }; then echo "$path"; fi
done <"$work/package.files")
[ -z "$leftover" ] || fail "after the purge these files of the packages remain: $(echo "$leftover" | head -n 5 | tr '\n' ' ')"
# New files that some package still installed owns are that package's: apt keeps a
# dependency that came with ours when a package already there recommends it.
snapshot >"$work/after.files"
comm -13 "$work/before.files" "$work/after.files" | sed 's/^\.//' >"$work/new.files"
owned() {  # the paths of the list FILE that dpkg knows, with /usr or (merged /usr) without
  { xargs -r -d '\n' chroot "$root" dpkg-query -S <"$1" 2>/dev/null || true; } | sed -n 's#^.*: /#/#p'
  { sed 's#^/usr/#/#' "$1" | xargs -r -d '\n' chroot "$root" dpkg-query -S 2>/dev/null || true; } |
    sed -n 's#^.*: /#/usr/#p'
}
new=$(owned "$work/new.files" | sort -u | comm -23 "$work/new.files" -)
[ -z "$new" ] || fail "after the purge these files, of no package, are new in the root: $(echo "$new" | head -n 5 | tr '\n' ' ')"
phase "purged"
cleanup
rm -rf --one-file-system "$work/upper" "$work/overlay-work" "$root"

echo "fresh_debian: ${names[*]} install on a fresh Debian 12, work there and purge cleanly ($(( $(date +%s) - started )) s)"
