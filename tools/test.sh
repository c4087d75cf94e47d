#!/usr/bin/env bash
# Builds every preset and runs every test: the unit tests and a soak run under
# AddressSanitizer and UndefinedBehaviorSanitizer, the whole-run trace checks and the
# plug-in under Wine from the optimised builds, then a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j2
cmake --preset release >/dev/null
cmake --build --preset release -j2
cmake --preset dev >/dev/null
cmake --build --preset dev -j2
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2
ctest --preset dev -j2
ctest --preset release -j2
ctest --preset fuzz
