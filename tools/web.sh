#!/usr/bin/env bash
# Builds the web page (the world in WebAssembly, with Emscripten) and serves it on this
# machine only: open the address it prints, drop a song on the page, or listen.
#   tools/web.sh [PORT]          (default 8040)
# ?seed=S repeats a world; ?seed=S&spectrum=URL&frames=N runs a recorded spectrum as
# fast as it can (the trace line of its last frame is in window.corvanta.trace).
# The build also packs the page's world as the npm package any player can embed,
# build/web/corvanta-web-VERSION.tgz (docs/web-package.md).
# Files under ../shared/traces are served at /traces/, e.g.
#   http://127.0.0.1:8040/?seed=26&spectrum=/traces/music.spec&frames=1000
set -euo pipefail
cd "$(dirname "$0")/.."
port=${1:-8040}
if ! command -v emcc >/dev/null 2>&1 || ! command -v node >/dev/null 2>&1; then
  echo "web: Emscripten and Node.js are needed; installing them" >&2
  tools/install-deps.sh native web
fi
export NODE_PATH=/usr/share/nodejs  # where Debian's Emscripten finds acorn
cmake --preset web >/dev/null
cmake --build --preset web -j2
mounts=()
[ -d ../shared/traces ] && mounts=(--mount "/traces/=$(cd ../shared/traces && pwd)")
exec node web/serve.mjs build/web/site --port "$port" "${mounts[@]}"
