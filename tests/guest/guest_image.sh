#!/usr/bin/env bash
# Builds, once, the emulated machine in which the plug-in's Wine tests run where this
# machine cannot run 32-bit programs itself: a Debian 12 root with Wine and Xvfb made
# by debootstrap from the main suite alone (so that its amd64 and i386 libraries come
# at the same versions), the stock kernel, a small initramfs that only mounts the root
# disk, a raw ext4 image made without mounting anything, and a Wine prefix baked into
# it by one boot. Every later run boots the image through a fresh overlay.
#   guest_image.sh CACHE_DIR      prints the image's folder on stdout
# The image is keyed by the contents of the scripts that make it; building a new one
# removes the others. Needs root (debootstrap, chroot) and the Debian mirror.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=$1
key=$(cat "$here/guest_image.sh" "$here/initramfs_init" "$here/guest_init" | sha256sum | cut -c1-16)
dir=$cache/image-$key
if [ -f "$dir/ready" ]; then echo "$dir"; exit 0; fi

mkdir -p "$cache"
exec 9>"$cache/lock"
flock 9
if [ -f "$dir/ready" ]; then echo "$dir"; exit 0; fi

work=$dir.partial
root=$work/root
log=$work/build.log
cleanup() {
  mountpoint -q "$root/proc" 2>/dev/null && umount "$root/proc"
  return 0
}
trap cleanup EXIT
fail() {
  echo "guest_image: $1 (log: $log)" >&2
  tail -n 20 "$log" >&2 || true
  exit 1
}
if [ -d "$work" ]; then
  cleanup
  rm -rf "$work"
fi
mkdir -p "$work"
: > "$log"
started=$(date +%s)

mirror=${CORVANTA_GUEST_MIRROR:-http://deb.debian.org/debian}
echo "guest_image: debootstrap bookworm from $mirror into $root" >&2
debootstrap --variant=minbase --include=kmod,iproute2,busybox-static bookworm "$root" "$mirror" >>"$log" 2>&1 ||
  fail "debootstrap failed"

# The main suite only: the security and update suites are where one architecture's
# list can lag behind the other's.
echo "deb $mirror bookworm main" > "$root/etc/apt/sources.list"
mount -t proc proc "$root/proc"
in_root() { DEBIAN_FRONTEND=noninteractive chroot "$root" "$@" >>"$log" 2>&1; }
in_root dpkg --add-architecture i386 || fail "dpkg --add-architecture failed"
in_root apt-get update || fail "apt-get update in the root failed"
# Wine's X11 driver loads these when present; without them some window calls differ.
x_libs=(libxrender1:i386 libxrandr2:i386 libxcursor1:i386 libxi6:i386 libxinerama1:i386
        libxcomposite1:i386 libxfixes3:i386 libxxf86vm1:i386)
in_root apt-get install -y --no-install-recommends linux-image-amd64 wine wine32:i386 xvfb xauth "${x_libs[@]}" ||
  fail "installing Wine and the kernel in the root failed"
in_root apt-get clean
rm -rf "$root"/var/lib/apt/lists/* "$root"/boot/initrd.img*
umount "$root/proc"

kernel=$(ls "$root"/boot/vmlinuz-* | head -n 1)
version=${kernel##*/vmlinuz-}
cp "$kernel" "$work/vmlinuz"

# The initramfs: busybox and the drivers of a virtio disk holding ext4, each after the
# modules it needs.
initramfs=$work/initramfs
mkdir -p "$initramfs"/{bin,dev,proc,newroot,lib/modules}
cp "$root/bin/busybox" "$initramfs/bin/busybox"
cp "$here/initramfs_init" "$initramfs/init"
chmod 755 "$initramfs/init"
moddir=$root/lib/modules/$version
declare -A added=()
order=()
add_module() {
  local name=$1 line path dep
  line=$(grep -E "(^|/)${name//[-_]/[-_]}\.ko(\.[a-z]+)?:" "$moddir/modules.dep" | head -n 1) || true
  [ -n "$line" ] || return 0   # built into the kernel
  path=${line%%:*}
  [ -z "${added[$path]:-}" ] || return 0
  added[$path]=1
  for dep in ${line#*:}; do
    dep=${dep##*/}
    add_module "${dep%%.ko*}"
  done
  order+=("$path")
}
# ext4 asks for crc32c at mount time, which modules.dep does not show.
for m in virtio_pci virtio_blk crc32c_generic ext4; do add_module "$m"; done
for path in "${order[@]}"; do
  mkdir -p "$initramfs/lib/modules/$(dirname "$path")"
  case $path in
    *.ko.xz) xz -dc "$moddir/$path" > "$initramfs/lib/modules/${path%.xz}"; path=${path%.xz} ;;
    *.ko.zst) zstd -qdc "$moddir/$path" > "$initramfs/lib/modules/${path%.zst}"; path=${path%.zst} ;;
    *) cp "$moddir/$path" "$initramfs/lib/modules/$path" ;;
  esac
  echo "$path" >> "$initramfs/modules"
done
touch "$initramfs/modules"
(cd "$initramfs" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initrd"

install -m 755 "$here/guest_init" "$root/sbin/corvanta-guest-init"
mkdir -p "$root/var/lib/corvanta"
size_mb=$(( $(du -sm "$root" | cut -f1) + 1024 ))
mkfs.ext4 -q -F -L corvanta -d "$root" "$work/root.img" "${size_mb}M" >>"$log" 2>&1 || fail "mkfs.ext4 -d failed"
rm -rf "$root"

# One boot makes the Wine prefix inside the image: every run then starts from it.
echo "guest_image: baking the Wine prefix" >&2
prefix_script='wine wineboot --init && wine reg add "HKCU\Software\Wine\X11 Driver" /v Managed /t REG_SZ /d N /f && wine cmd /c exit 0 && wineserver -w'
(cd / && WINEPREFIX=/var/lib/corvanta/wine WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= \
  CORVANTA_GUEST_SHARES= "$here/guest_run.sh" --writable "$work" -- \
  xvfb-run -a sh -c "$prefix_script") >>"$log" 2>&1 || fail "making the Wine prefix in the image failed"

touch "$work/ready"
for old in "$cache"/image-*; do
  [ "$old" = "$work" ] || rm -rf "$old"
done
mv "$work" "$dir"
echo "guest_image: built in $(( $(date +%s) - started )) s" >&2
echo "$dir"
