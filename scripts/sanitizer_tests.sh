#!/usr/bin/env bash
# The whole Python test suite against the extension built with AddressSanitizer and
# UndefinedBehaviorSanitizer (any finding stops the process, so the test that caused it fails).
# The build goes to the sanitized tree (sanitized_tree.sh), shared with the core's tests, and the
# package to a folder of its own inside it: the installed package is never touched. One
# interpreter is enough: the default python3 (or PYTHON).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/sanitized_tree.sh
build=$sanitized_tree
python=${PYTHON:-python3}

echo "== tests with AddressSanitizer and UndefinedBehaviorSanitizer on $($python --version)"
configure_sanitized_tree "$python"
ninja -C "$build" _dral_native >/dev/null

package=$build/package
mkdir -p "$package/dral"
ln -sf "$PWD"/dral-python/dral/* "$package/dral/"
ln -sf "$(realpath "$build"/_dral_native*.so)" "$package/dral/"

# The interpreter is not built with the sanitizer, so its runtime must come first; Python's
# own allocator would hide overruns of the buffers it hands out, and the interpreter's leaks at
# exit are not ours to report.
export LD_PRELOAD
LD_PRELOAD=$(g++ -print-file-name=libasan.so)
export PYTHONMALLOC=malloc
export ASAN_OPTIONS=detect_leaks=0
export UBSAN_OPTIONS=print_stacktrace=1
export PYTHONPATH
PYTHONPATH=$(realpath "$package")
cd tests
# The README's shell examples also start system tools, which the preloaded runtime does not
# suit (dd asks for an alignment it refuses); the ordinary runs check them. A sanitizer report
# ends the process at once, so pytest must not hold the descriptors it writes to: --capture=sys
# lets the report, with its stack, reach the log.
$python -m pytest -q -p no:cacheprovider --capture=sys --ignore=test_readme.py .
