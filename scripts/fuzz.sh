#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and UB sanitizers) in build/fuzz and runs
# each for a bounded time (KESTROVA_FUZZ_SECONDS, default 30). Exits non-zero when a target
# finds a crash, a sanitizer report or a broken invariant; the reproducer is left in build/fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${KESTROVA_FUZZ_SECONDS:-30}
build=build/fuzz
targets=(fuzz_episode_page fuzz_ranking_section fuzz_plist fuzz_handoff fuzz_content_range)

cmake -S . -B "$build" -G Ninja \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKESTROVA_FUZZ=ON -DKESTROVA_WITH_QT=OFF -DKESTROVA_BUILD_TESTS=OFF \
    -DKESTROVA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target "${targets[@]}" -j 2

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for target in "${targets[@]}"; do
    seeds=(tests/fuzz/seeds/${target#fuzz_})
    # The property lists the tests read (plistlib's XML and binary) seed the list reader too.
    [[ $target == fuzz_plist ]] && seeds+=(tests/data)
    # A target may bring its own dictionary of tokens; the page targets share the markup one.
    dict=tests/fuzz/${target#fuzz_}.dict
    [[ -f $dict ]] || dict=tests/fuzz/markup.dict
    corpus=$build/corpus/$target
    mkdir -p "$corpus" "$build/crashes"
    echo "== $target for ${seconds}s =="
    if ! "$build/tests/fuzz/$target" "$corpus" "${seeds[@]}" -dict="$dict" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
        -artifact_prefix="$build/crashes/$target-" -print_final_stats=1 2>"$build/$target.log"; then
        tail -n 40 "$build/$target.log"
        echo "$target: FAILED (see $build/$target.log and $build/crashes/)"
        status=1
    else
        grep -E "^(stat::number_of_executed_units|Done)" "$build/$target.log" || true
        echo "$target: clean"
    fi
done
exit $status
