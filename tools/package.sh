#!/usr/bin/env bash
# Makes every download and checks it: the plug-in DLL (windows preset), then the Debian
# packages and the plug-in's zip (package preset: corvanta, libcorvanta1, libcorvanta-dev,
# and the player plug-ins' packages where they are built), and lintian over the packages.
# They land in build/package/packages/. Exits non-zero if a build fails or lintian finds
# an error; lintian's warnings are printed. docs/packaging.md tells what is in each.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh native windows packaging

log=build/package.log
out=build/package/packages
mkdir -p build
: >"$log"
# The folder holds this build's downloads alone, not those of an earlier one.
rm -rf "$out"
for preset in windows package; do
  echo "package: building the $preset preset" >&2
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset" -j2; } >>"$log" 2>&1; then
    tail -n 30 "$log" >&2
    echo "package: the $preset preset failed (log: $log)" >&2
    exit 1
  fi
done

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package/CMakeCache.txt)
shopt -s nullglob
debs=("$out"/*_"$version"-*.deb)
[ ${#debs[@]} -gt 0 ] || { echo "package: no packages of version $version in $out" >&2; exit 1; }

status=0
if command -v lintian >/dev/null; then
  # lintian warns when run as root; its findings are what matters here.
  findings=$(lintian "${debs[@]}" 2>/dev/null || true)
  [ -z "$findings" ] || echo "$findings" >&2
  if grep -q '^E:' <<<"$findings"; then
    echo "package: lintian found errors" >&2
    status=1
  fi
else
  echo "package: lintian is not installed: the packages are not checked" >&2
  status=1
fi
ls -l "${debs[@]}" "$out/corvanta-$version-windows.zip"
exit $status
