#!/usr/bin/env bash
# A long campaign for one target: `fuzz/campaign.sh TARGET [RUNS]` (default 10 million runs) in
# one job on one core at the lowest priority, from the committed corpus and a work folder that
# keeps what it finds between campaigns (<build>/work/TARGET, where libFuzzer also writes its log,
# fuzz-0.log, whose final statistics end it). Build first with build.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
target=$1
runs=${2:-10000000}
build=$(realpath "${FUZZ_BUILD_DIR:-build/fuzz}")
source fuzz/targets.sh

found=""
for entry in "${FUZZ_TARGETS[@]}"; do
    read -r name corpus dict <<<"$entry"
    if [ "$name" = "$target" ]; then found=$entry; break; fi
done
[ -n "$found" ] || { echo "unknown target $target" >&2; exit 2; }
options=(-runs="$runs" -jobs=1 -workers=1 -print_final_stats=1
         -artifact_prefix="$build/findings/$target-")
[ "$dict" = - ] || options+=(-dict="$PWD/fuzz/dicts/$dict")
mkdir -p "$build/work/$target" "$build/findings"
corpus=$PWD/fuzz/corpus/$corpus
cd "$build/work/$target"
nice -n 19 "$build/fuzz_$target" "${options[@]}" "$build/work/$target" "$corpus"
