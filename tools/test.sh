#!/usr/bin/env bash
# Builds every preset and runs every test, in groups that each run even when
# another fails:
#   dev      the unit tests, the first frames of the golden worlds and a soak run under
#            AddressSanitizer and UndefinedBehaviorSanitizer
#   release  the whole golden and reference runs, the tools, and the plug-in DLL under
#            Wine (here, or in an emulated machine where this one cannot run it)
#   fuzz     a short run of each fuzz target
#   web      the web page (Emscripten) in headless Chromium against the release
#            build's corvanta-sim
#   portable the world's tests and traces with the portable twins of its SSE2 tricks
#   cross    the goldens and reference traces of the aarch64 and s390x builds under
#            qemu-user and of the WebAssembly build under Node.js (CTest label cross);
#            a preset whose compiler or emulator is missing is reported skipped
# Ends with a line per group (passed, failed, or what was skipped and why) and exits
# non-zero if any group failed.
set -uo pipefail
cd "$(dirname "$0")/.."
# Every group: each test group uses some of them.
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
  reason=$(grep -oE 'sim_checks: skipped: .*' "$outputs" | grep -v 'the cross builds' | head -n 1 |
    grep -oE 'sim_checks: skipped: [^ ]+' | sed 's/^sim_checks: skipped: //; s/,$//')
  [ -z "$reason" ] || printf '; reference traces: %s not found (no ../shared beside the repository)' "$reason"
  reason=$(grep -m1 -oE 'sim_checks: skipped: [^ ]+ not found \(the cross builds' "$outputs" |
    sed 's/^sim_checks: skipped: //; s/ (the cross builds$//')
  [ -z "$reason" ] || printf '; cross tests: %s' "$reason"
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

# The cross presets, each built and tested where its compiler and emulator are here.
run_cross() {
  local started status=0 log=$logs/cross.log preset tools tool missing result tests=0 failures=0 line
  local skipped=()
  started=$(date +%s)
  : > "$log"
  for preset in aarch64 s390x wasm; do
    case $preset in
      aarch64) tools="aarch64-linux-gnu-g++ qemu-aarch64" ;;
      s390x) tools="s390x-linux-gnu-g++ qemu-s390x" ;;
      wasm) tools="emcc node" ;;
    esac
    missing=
    for tool in $tools; do
      command -v "$tool" >/dev/null || missing="$missing${missing:+, }$tool"
    done
    if [ -n "$missing" ]; then
      echo "== cross: $preset skipped: $missing not found" | tee -a "$log"
      skipped+=("$preset skipped: $missing not found (tools/install-deps.sh, group cross)")
      continue
    fi
    echo "== cross: building $preset" | tee -a "$log"
    if ! { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j2; } >>"$log" 2>&1; then
      tail -n 40 "$log"
      status=1
      continue
    fi
    echo "== cross: testing $preset" | tee -a "$log"
    ctest --preset "$preset" -j2 2>&1 | tee "$logs/cross-$preset.log"
    [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
    cat "$logs/cross-$preset.log" >>"$log"
    line=$(grep -oE '[0-9]+ tests? failed out of [0-9]+' "$logs/cross-$preset.log" | tail -n 1)
    if [ -n "$line" ]; then
      failures=$((failures + $(echo "$line" | cut -d' ' -f1)))
      tests=$((tests + ${line##* }))
    fi
    line=$(skipped_of "$logs/cross-$preset.log" "build/$preset")
    [ -z "$line" ] || skipped+=("$preset: $line")
  done
  if [ $status -eq 0 ]; then
    result="passed"
  else
    result="FAILED"
    failed=1
  fi
  local joined
  joined=$(printf '; %s' "${skipped[@]}")
  [ ${#skipped[@]} -gt 0 ] || joined=
  summary+=("cross: $result in $(( $(date +%s) - started )) s ($failures tests failed out of $tests)$joined (log: $log)")
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
run_group portable build/portable portable -- --preset portable -j2
run_cross

echo
printf '%s\n' "${summary[@]}"
exit $failed
