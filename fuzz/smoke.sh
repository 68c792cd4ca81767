#!/usr/bin/env bash
# The fuzzing part of every test run: builds the targets (build.sh), replays the committed
# corpora (replay.sh), then fuzzes each target for FUZZ_RUNS runs (default a million, at most
# FUZZ_SECONDS each, default 60) starting from its corpus. New inputs go to a scratch folder,
# never into the corpus. A finding fails the run and is kept under <build>/findings, with the
# log's last lines shown.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FUZZ_BUILD_DIR:-build/fuzz}
# A fixed seed makes the run the same every time, so that a test run fails only for a change, not
# by luck; a slow machine stops earlier in the same sequence. The campaigns explore.
runs=${FUZZ_RUNS:-1000000}
seconds=${FUZZ_SECONDS:-60}
source fuzz/targets.sh

bash fuzz/build.sh "$build"
bash fuzz/replay.sh "$build"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/findings"
status=0
for entry in "${FUZZ_TARGETS[@]}"; do
    read -r target corpus dict <<<"$entry"
    options=(-seed=1 -runs="$runs" -max_total_time="$seconds" -print_final_stats=1
             -artifact_prefix="$build/findings/$target-")
    [ "$dict" = - ] || options+=(-dict="fuzz/dicts/$dict")
    mkdir -p "$scratch/$target"
    log="$scratch/$target.log"
    if "$build/fuzz_$target" "${options[@]}" "$scratch/$target" "fuzz/corpus/$corpus" >"$log" 2>&1; then
        rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
        done_runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz_$target: $done_runs runs ($rate/s), no finding"
    else
        status=1
        tail -n 40 "$log"
        echo "fuzz_$target: FINDING, input kept in $build/findings/"
    fi
done
exit $status
