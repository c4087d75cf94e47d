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
#   packages the package preset's Debian packages and Windows zip: their contents,
#            lintian, and a fresh Debian 12 root that installs, uses and purges them
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

# What CTest's JUnit file (ctest --output-junit) says of a run, in three lines: the
# number failed and the number run; the names of those that failed; how many were
# skipped and why, as one phrase. A test that could not start (CTest's "Not Run") is a
# failure; one skipped by its skip expression or skip status is not, unless its output
# shows a GoogleTest failure: CTest takes "[  SKIPPED ]" for a skip even when the
# fixture's set-up failed and skipped every test after it. The reasons come from each
# skipped test's output, which the file keeps.
junit_results() {
  python3 - "$1" <<'EOF'
import re, sys
import xml.etree.ElementTree as ET

# The words each kind of test prints when it skips, and how the summary names them.
KINDS = [("corvanta-wine", "Wine tests"), ("sim_checks", None), ("web_tests", "web tests"),
         ("serve_tests", "the page's server test"), ("built_packages", "packages"),
         ("fresh_debian", "fresh Debian root")]

def reason(name, out, message):
    for tool, label in KINDS:
        m = re.search(rf"^{tool}: skipped: (.*)$", out, re.M)
        if not m:
            continue
        text = m.group(1).strip()
        if tool != "sim_checks":
            return label, f"{label}: {text}"
        if "(the cross builds" in text:
            return "cross", "cross tests: " + text.split(" (the cross builds")[0]
        return "traces", f"reference traces: {text.split(' ')[0].rstrip(',')} not found (no ../shared beside the repository)"
    # GoogleTest: the line after "file:line: Skipped" gives the reason.
    m = re.search(r": Skipped\n(.+)", out)
    if m and m.group(1).strip():
        return "gtest:" + m.group(1).strip(), m.group(1).strip()
    return "other:" + name, f"{name}: no reason given ({message})"

run, failed, skipped = 0, [], {}
for case in ET.parse(sys.argv[1]).getroot().iter("testcase"):
    status, name = case.get("status"), case.get("name")
    if status == "disabled":
        continue
    run += 1
    skip = case.find("skipped")
    message = skip.get("message", "") if skip is not None else ""
    out = case.findtext("system-out") or ""
    skipped_by_test = status == "notrun" and message.startswith("SKIP_")
    if (status == "fail" or (status == "notrun" and not skipped_by_test) or
            (skipped_by_test and re.search(r"^.*:\d+: Failure$|^ *[1-9]\d* FAILED TEST", out, re.M))):
        failed.append(name)
    elif skipped_by_test:
        kind, phrase = reason(name, out, message)
        # One reason per kind of test (the traces skip for the same missing folder),
        # every distinct one of GoogleTest's.
        skipped.setdefault(kind, [phrase, 0])[1] += 1
print(len(failed), run)
print(", ".join(failed[:5]) + (f" and {len(failed) - 5} more" if len(failed) > 5 else ""))
count = sum(n for _, n in skipped.values())
print("; ".join([f"{count} skipped"] + [phrase for phrase, _ in skipped.values()]) if count else "")
EOF
}

# run_ctest LOG JUNIT CTEST-ARGUMENTS...: runs ctest, its output on the screen and at
# the end of LOG, its results in JUNIT (no file if it ran nothing).
run_ctest() {
  local log=$1 junit=$2
  shift 2
  rm -f "$junit"
  ctest "$@" --output-junit "$junit" 2>&1 | tee -a "$log"
  return "${PIPESTATUS[0]}"
}

# run_group NAME PRESET-TO-BUILD... -- CTEST-ARGUMENTS...
run_group() {
  local name=$1 started status=0 preset log=$logs/$1.log result
  shift
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
  local junit=$PWD/$logs/$name.junit.xml
  rm -f "$junit"
  if [ $status -eq 0 ]; then
    echo "== $name: testing" | tee -a "$log"
    run_ctest "$log" "$junit" "$@"
    status=$?
  fi
  local seconds=$(( $(date +%s) - started ))
  local tests='' skipped='' counts names
  if [ -s "$junit" ] && { read -r counts; read -r names; read -r skipped; } < <(junit_results "$junit"); then
    tests="${counts% *} tests failed out of ${counts#* }${names:+: $names}"
    [ "${counts% *}" -eq 0 ] || status=1
  fi
  if [ $status -eq 0 ]; then
    result="passed"
  else
    result="FAILED"
    failed=1
  fi
  summary+=("$name: $result in ${seconds} s${tests:+ ($tests)}${skipped:+; $skipped} (log: $log)")
}

# The cross presets, each built and tested where its compiler and emulator are here.
run_cross() {
  local started status=0 log=$logs/cross.log preset tools tool missing result tests=0 failures=0 line
  local junit counts names skipped=() failed_names=()
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
    junit=$PWD/$logs/cross-$preset.junit.xml
    : > "$logs/cross-$preset.log"
    run_ctest "$logs/cross-$preset.log" "$junit" --preset "$preset" -j2 || status=1
    cat "$logs/cross-$preset.log" >>"$log"
    if [ -s "$junit" ] && { read -r counts; read -r names; read -r line; } < <(junit_results "$junit"); then
      failures=$((failures + ${counts% *}))
      [ "${counts% *}" -eq 0 ] || status=1
      tests=$((tests + ${counts#* }))
      [ -z "$names" ] || failed_names+=("$preset: $names")
      [ -z "$line" ] || skipped+=("$preset: $line")
    fi
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
  names=$(printf '; %s' "${failed_names[@]}")
  [ ${#failed_names[@]} -gt 0 ] || names=
  names=${names#; }
  summary+=("cross: $result in $(( $(date +%s) - started )) s ($failures tests failed out of $tests${names:+: $names})$joined (log: $log)")
}

run_group dev dev -- --preset dev -j2
run_group release windows release -- --preset release -j2
# The packages need the DLL of the windows preset, built in the release group.
run_group packages package -- --preset packages
run_group fuzz fuzz -- --preset fuzz
# Without Emscripten the page is not built and its tests report themselves skipped.
web_presets=(release)
if command -v emcc >/dev/null 2>&1; then
  web_presets=(web release)
else
  echo "== web: no Emscripten (emcc), so the page is not built" | tee "$logs/web-build.log"
fi
run_group web "${web_presets[@]}" -- --preset web
run_group portable portable -- --preset portable -j2
run_cross

echo
printf '%s\n' "${summary[@]}"
exit $failed
