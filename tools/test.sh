#!/usr/bin/env bash
# Builds every preset and runs every test, in three groups that each run even when
# another fails:
#   dev      the unit tests, the first frames of the golden worlds and a soak run under
#            AddressSanitizer and UndefinedBehaviorSanitizer
#   release  the whole golden and reference runs, the tools, and the plug-in DLL under
#            Wine (here, or in an emulated machine where this one cannot run it)
#   fuzz     a short run of each fuzz target
#   web      the web page (Emscripten) in headless Chromium against the release
#            build's corvanta-sim
# Ends with a line per group (passed, failed, or what was skipped and why) and exits
# non-zero if any group failed.
set -uo pipefail
cd "$(dirname "$0")/.."
if ! tools/install-deps.sh; then
  echo "test: the packages the build needs could not be installed" >&2
  exit 1
fi

logs=build/test-logs
mkdir -p "$logs"
summary=()
failed=0

# The tests CTest reported skipped in LOG, and why (from the outputs CTest keeps in the
# build tree BUILD), as one phrase.
skipped_of() {
  local log=$1 outputs=$2/Testing/Temporary/LastTest.log names reason
  names=$(grep -E '^\s+[0-9]+ - .* \(Skipped\)$' "$log" | sed -E 's/^\s+[0-9]+ - (.*) \(Skipped\)$/\1/')
  [ -n "$names" ] || return 0
  printf '%s skipped' "$(echo "$names" | wc -l)"
  [ -f "$outputs" ] || return 0
  reason=$(grep -m1 -oE 'corvanta-wine: skipped: .*' "$outputs" | sed 's/^corvanta-wine: skipped: //')
  [ -z "$reason" ] || printf '; Wine tests: %s' "$reason"
  reason=$(grep -m1 -oE 'sim_checks: skipped: [^ ]+' "$outputs" | sed 's/^sim_checks: skipped: //; s/,$//')
  [ -z "$reason" ] || printf '; reference traces: %s not found (no ../shared beside the repository)' "$reason"
  # GoogleTest's skips: the line after "file:line: Skipped" gives the reason.
  grep -A1 -E ': Skipped$' "$outputs" | grep -vE ': Skipped$|^--$' | sort -u | while IFS= read -r reason; do
    printf '; %s' "$reason"
  done
  reason=$(grep -m1 -oE 'web_tests: skipped: .*' "$outputs" | sed 's/^web_tests: skipped: //')
  [ -z "$reason" ] || printf '; web tests: %s' "$reason"
}

# run_group NAME BUILD-TREE PRESET-TO-BUILD... -- CTEST-ARGUMENTS...
run_group() {
  local name=$1 tree=$2 started status=0 preset log=$logs/$1.log result
  shift 2
  started=$(date +%s)
  : > "$log"
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    preset=$1
    shift
    echo "== $name: building $preset" | tee -a "$log"
    if ! { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j2; } >>"$log" 2>&1; then
      tail -n 40 "$log"
      status=1
      break
    fi
  done
  shift
  if [ $status -eq 0 ]; then
    echo "== $name: testing" | tee -a "$log"
    ctest "$@" 2>&1 | tee -a "$log"
    status=${PIPESTATUS[0]}
  fi
  local seconds=$(( $(date +%s) - started ))
  if [ $status -eq 0 ]; then
    result="passed"
  else
    result="FAILED"
    failed=1
  fi
  local tests
  tests=$(grep -oE '[0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  local skipped
  skipped=$(skipped_of "$log" "$tree")
  summary+=("$name: $result in ${seconds} s${tests:+ ($tests)}${skipped:+; $skipped} (log: $log)")
}

run_group dev build/dev dev -- --preset dev -j2
run_group release build/release windows release -- --preset release -j2
run_group fuzz build/fuzz fuzz -- --preset fuzz
# Without Emscripten the page is not built and its tests report themselves skipped.
web_presets=(release)
if command -v emcc >/dev/null 2>&1; then
  web_presets=(web release)
else
  echo "== web: no Emscripten (emcc), so the page is not built" | tee "$logs/web-build.log"
fi
run_group web build/release "${web_presets[@]}" -- --preset web

echo
printf '%s\n' "${summary[@]}"
exit $failed
