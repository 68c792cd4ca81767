#!/usr/bin/env bash
# Installs everything (as scripts/install.sh), checks the formatting, and runs the whole test
# suite on every supported interpreter. Warnings are errors here.
set -euo pipefail
cd "$(dirname "$0")/.."

extra=()
command -v clang-format >/dev/null || extra+=(clang-format)
DRAL_WERROR=ON bash scripts/install.sh "${extra[@]}"

echo "== formatting"
git ls-files -- '*.cpp' '*.hpp' | xargs clang-format --dry-run --Werror

status=0
for python in $(scripts/pythons.sh); do
    echo "== tests on $($python --version)"
    # Run from the tests folder so that the installed package, not the source tree, is imported.
    (cd tests && $python -m pytest -q -p no:cacheprovider .) || status=1
done
bash scripts/sanitizer_tests.sh || status=1
bash fuzz/smoke.sh || status=1
exit $status
