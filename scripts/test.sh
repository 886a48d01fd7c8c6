#!/usr/bin/env bash
# Builds and runs the whole test suite: every test plain (dev preset, -Werror), every test under
# AddressSanitizer + UndefinedBehaviorSanitizer, the concurrency tests under ThreadSanitizer,
# and the fuzz targets for a short, bounded time. Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test || exit 1

jobs=$(nproc)
passed=0
failed=0
status=0

run_ctest() {  # preset, extra ctest arguments...
    local preset=$1
    shift
    local log="build/ctest-${preset}.log"
    ctest --preset "$preset" -j "$jobs" "$@" 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    local total fails
    total=$(grep -Eo 'out of [0-9]+' "$log" | tail -n1 | grep -Eo '[0-9]+' || echo 0)
    fails=$(grep -Eo 'tests passed, [0-9]+ tests failed' "$log" | tail -n1 | grep -Eo '[0-9]+ tests failed' | grep -Eo '[0-9]+' || echo 0)
    if [ "$rc" -ne 0 ] && [ "${fails:-0}" -eq 0 ]; then fails=1; fi
    passed=$((passed + ${total:-0} - ${fails:-0}))
    failed=$((failed + ${fails:-0}))
    [ "$rc" -eq 0 ] || status=1
}

build() {  # preset, targets...
    local preset=$1
    shift
    cmake --preset "$preset" >/dev/null || return 1
    cmake --build --preset "$preset" -j "$jobs" "$@"
}

mkdir -p build
echo "== plain (dev) =="
if build dev; then run_ctest dev; else status=1; failed=$((failed + 1)); fi

echo "== AddressSanitizer + UndefinedBehaviorSanitizer =="
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
if build asan; then run_ctest asan; else status=1; failed=$((failed + 1)); fi

echo "== ThreadSanitizer (concurrency tests) =="
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
if build tsan --target kestrova_concurrency_tests; then run_ctest tsan; else status=1; failed=$((failed + 1)); fi

echo "== fuzzing =="
if bash scripts/fuzz.sh; then passed=$((passed + 1)); else status=1; failed=$((failed + 1)); fi

echo "== package =="
if bash scripts/package.sh; then passed=$((passed + 1)); else status=1; failed=$((failed + 1)); fi

echo
echo "Summary: ${passed} passed, ${failed} failed"
exit $status
