#!/usr/bin/env bash
# Runs every committed corpus through its harness without libFuzzer, as a regression test: the
# seeds and the inputs of every finding fixed so far. Takes the build folder of build.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/fuzz}
source fuzz/targets.sh

for entry in "${FUZZ_TARGETS[@]}"; do
    read -r target corpus _ <<<"$entry"
    "$build/replay_$target" "fuzz/corpus/$corpus"
done
