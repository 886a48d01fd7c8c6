#!/usr/bin/env bash
# Builds and runs the whole test suite: every test plain (dev preset, -Werror), every test under
# AddressSanitizer + UndefinedBehaviorSanitizer, the concurrency tests under ThreadSanitizer,
# the fuzz targets for a short, bounded time and the package's checks. One line per phase, whose
# full output is kept in build/test-<phase>.log; a failing phase shows the end of it (for tests:
# the failing tests' output). Ends with "Summary: N passed, N failed"; exits non-zero on any
# failure.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/quiet.sh
bash scripts/install-deps.sh test || exit 1

jobs=$(nproc)
passed=0
failed=0
status=0

# The output of each failed test in a ctest log (ctest --output-on-failure prints it right after
# the test's result line), and ctest's list of them.
failed_tests_output() {
    awk '/^ *[0-9]+\/[0-9]+ Test +#/ { show = /\*\*\*|Not Run/ }
         /^ *Start +[0-9]+:/ { show = 0 }
         /^The following tests FAILED:/ { show = 1 }
         show' "$1" | tail -n 300
}

# Builds a preset and runs its tests, both into one log: preset, what it is, build targets...
test_preset() {
    local preset=$1 what=$2 start=$SECONDS
    shift 2
    local log=build/test-$preset.log
    printf '%s (log: %s)… ' "$what" "$log"
    if ! { cmake --preset "$preset" && cmake --build --preset "$preset" -j "$jobs" "$@"; } \
        >"$log" 2>&1; then
        echo "the build failed"
        show_tail "$log"
        status=1
        failed=$((failed + 1))
        return
    fi
    ctest --preset "$preset" -j "$jobs" >>"$log" 2>&1
    local rc=$? counts total fails
    counts=$(grep -Eo '[0-9]+ tests failed out of [0-9]+' "$log" | tail -n1)
    fails=$(grep -Eo '^[0-9]+' <<<"$counts")
    fails=${fails:-0}
    total=${counts##* }
    total=${total:-0}
    if [ "$rc" -ne 0 ] && [ "$fails" -eq 0 ]; then fails=1; fi
    if [ "$total" -lt "$fails" ]; then total=$fails; fi
    passed=$((passed + total - fails))
    failed=$((failed + fails))
    if [ "$rc" -eq 0 ]; then
        echo "$total passed ($((SECONDS - start)) s)"
        return
    fi
    status=1
    echo "$fails of $total FAILED"
    echo "---- the failing tests' output in $log ----"
    failed_tests_output "$log"
    echo "---- end of $log ----"
}

# A phase that is one script: what it is, log, script and its arguments.
test_script() {
    local what=$1 log=$2
    shift 2
    if phase "$what" "$log" bash "$@"; then
        passed=$((passed + 1))
    else
        status=1
        failed=$((failed + 1))
    fi
}

mkdir -p build
test_preset dev "Plain tests, dev preset with warnings as errors"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
test_preset asan "Tests under AddressSanitizer + UndefinedBehaviorSanitizer"

export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
test_preset tsan "Concurrency tests under ThreadSanitizer" --target kestrova_concurrency_tests

test_script "Fuzzing, ${KESTROVA_FUZZ_SECONDS:-30} s per target" build/test-fuzz.log scripts/fuzz.sh
test_script "Building and checking the Debian package" build/test-package.log scripts/package.sh

echo "Summary: ${passed} passed, ${failed} failed"
exit $status
