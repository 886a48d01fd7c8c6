#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and UB sanitizers) in build/fuzz and runs
# each for a bounded time (KESTROVA_FUZZ_SECONDS, default 30). Exits non-zero when a target
# finds a crash, a sanitizer report or a broken invariant; the reproducer is left in build/fuzz.
# One line per phase; the build's output is in build/fuzz/build.log, each target's in
# build/fuzz/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/quiet.sh

seconds=${KESTROVA_FUZZ_SECONDS:-30}
build=build/fuzz
targets=(fuzz_episode_page fuzz_ranking_section fuzz_plist fuzz_handoff fuzz_journal
         fuzz_content_range)

build_targets() {
    cmake -S . -B "$build" -G Ninja \
        -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKESTROVA_FUZZ=ON -DKESTROVA_WITH_QT=OFF -DKESTROVA_BUILD_TESTS=OFF \
        -DKESTROVA_BUILD_BENCH=OFF && cmake --build "$build" --target "${targets[@]}" -j 2
}
phase "Building the fuzz targets" "$build/build.log" build_targets || exit 1

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
    # The journal is a property list too.
    [[ $target == fuzz_journal ]] && dict=tests/fuzz/plist.dict
    corpus=$build/corpus/$target
    log=$build/$target.log
    mkdir -p "$corpus" "$build/crashes"
    printf '%s for %s s (log: %s)… ' "$target" "$seconds" "$log"
    if "$build/tests/fuzz/$target" "$corpus" "${seeds[@]}" -dict="$dict" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
        -artifact_prefix="$build/crashes/$target-" -print_final_stats=1 2>"$log"; then
        runs=$(grep -Eo '^stat::number_of_executed_units: *[0-9]+' "$log" | grep -Eo '[0-9]+$' || true)
        echo "clean (${runs:-?} runs)"
    else
        echo "FAILED (reproducer in $build/crashes/)"
        show_tail "$log"
        status=1
    fi
done
exit $status
