#!/usr/bin/env bash
# The core's own tests (dral-core/tests) and every committed fuzz corpus replayed through its
# harness, with the sanitizers, by ctest. Builds only the core and the test programs, not the
# extension module; the tree is the sanitizer suite's (sanitized_tree.sh). The whole log only
# when something fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/sanitized_tree.sh

echo "== core tests with AddressSanitizer and UndefinedBehaviorSanitizer"
configure_sanitized_tree "${PYTHON:-python3}"
# Compiler messages only, not the progress lines.
cmake --build "$sanitized_tree" -j "$(nproc)" --target dral-core-bench -- --quiet
log=$(mktemp)
trap 'rm -f "$log"' EXIT
export UBSAN_OPTIONS=print_stacktrace=1
if ctest --test-dir "$sanitized_tree" -j "$(nproc)" --output-on-failure >"$log" 2>&1; then
    tail -n 3 "$log"
else
    cat "$log"
    exit 1
fi
