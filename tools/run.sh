#!/usr/bin/env bash
# The main job: installs what the two builds need (install-deps' native and windows
# groups, not the test tools), builds corvanta-sim and the plug-in DLL, and runs the
# world on the built-in music-like input, writing pictures.
# Extra arguments go to corvanta-sim (see corvanta-sim --help).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh native windows
cmake --preset release >/dev/null
cmake --build --preset release -j2 >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 >/dev/null
echo "plug-in: $(pwd)/build/windows/vis_corvanta.dll (copy it into the player's Plugins folder)" >&2
if [ $# -eq 0 ]; then
  set -- --frames 3000 --png-every 500 --out corvanta-out
fi
exec build/release/corvanta-sim "$@"
