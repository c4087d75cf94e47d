#!/usr/bin/env bash
# Builds every preset and runs every test: the unit tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the whole-run trace checks and the plug-in under
# Wine from the optimised builds.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j2
cmake --preset release >/dev/null
cmake --build --preset release -j2
cmake --preset dev >/dev/null
cmake --build --preset dev -j2
ctest --preset dev -j2
ctest --preset release -j2
