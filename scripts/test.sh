#!/usr/bin/env bash
# Runs every test: installs what is missing, then configures, builds and tests the three presets
#   native   portable parts and build tools, with AddressSanitizer and UndefinedBehaviorSanitizer
#   windows  Quillmart-Setup.exe and its Windows tests, run under Wine (Xvfb for the message boxes)
#   fuzz     libFuzzer targets of the portable parts, each run for a bounded time
# Every preset is tried even when an earlier one fails, so one run shows everything; the exit status is non-zero
# when any configure, build or test step failed.
#
#   bash scripts/test.sh [PRESET...]      (default: native windows fuzz)
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

if [ "$(id -u)" -eq 0 ]; then
  sh scripts/install-deps.sh || exit 1
elif command -v sudo >/dev/null; then
  sudo sh scripts/install-deps.sh || exit 1
else
  sh scripts/install-deps.sh || exit 1
fi

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(native windows fuzz)

declare -A outcome summary
failed=0
for preset in "${presets[@]}"; do
  echo "=== $preset: configure"
  if ! cmake --preset "$preset"; then
    outcome[$preset]="configure failed"; failed=1; continue
  fi
  echo "=== $preset: build"
  if ! cmake --build --preset "$preset"; then
    outcome[$preset]="build failed"; failed=1; continue
  fi
  echo "=== $preset: test"
  log=build/$preset/ctest.log
  # The fuzzers are independent of one another and each uses one core; the other tests run one at a time.
  jobs=1
  [ "$preset" = fuzz ] && jobs=2
  ctest --preset "$preset" -j "$jobs" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  summary[$preset]=$(grep -E '^[0-9]+% tests passed|^No tests were found' "$log" | tail -n 1)
  if [ "$rc" -eq 0 ]; then
    outcome[$preset]="passed"
  else
    outcome[$preset]="tests failed"; failed=1
  fi
done

echo
echo "=== Summary"
passed_total=0; failed_total=0
for preset in "${presets[@]}"; do
  printf '%-8s %-16s %s\n' "$preset" "${outcome[$preset]}" "${summary[$preset]:-}"
  # ctest's line reads "N% tests passed, F tests failed out of T".
  if [[ "${summary[$preset]:-}" =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    failed_total=$((failed_total + BASH_REMATCH[1]))
    passed_total=$((passed_total + BASH_REMATCH[2] - BASH_REMATCH[1]))
  fi
done
# A preset that did not get as far as its tests counts as one failure.
for preset in "${presets[@]}"; do
  case "${outcome[$preset]}" in "configure failed"|"build failed") failed_total=$((failed_total + 1)) ;; esac
done
echo "Total: $passed_total passed, $failed_total failed"
exit $failed
