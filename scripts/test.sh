#!/usr/bin/env bash
# Installs everything (as scripts/install.sh), checks the formatting, and runs the whole test
# suite on every supported interpreter, as many at once as there are cores, then against the
# wheel of the default one. Warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."

extra=()
command -v clang-format >/dev/null || extra+=(clang-format)
# dpkg-source unpacks the libraries' sources for the wheel (scripts/build_wheels.sh).
command -v dpkg-source >/dev/null || extra+=(dpkg-dev)
DRAL_WERROR=ON bash scripts/install.sh "${extra[@]}"

echo "== formatting"
git ls-files -- '*.cpp' '*.hpp' | xargs clang-format --dry-run --Werror

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# The core's own tests first: they build in a minute and name a fault in the core directly.
core_status=0
bash scripts/core_tests.sh || core_status=1
default=$(python3 -c 'import sys; print(sys.executable)')
count=0
for python in $(scripts/pythons.sh); do
    count=$((count + 1))
    # Hypothesis draws its full number of examples on the default python3, fewer on the others.
    profile=dral-quick
    [ "$python" != "$default" ] || profile=dral
    while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
    (
        echo "== tests on $($python --version) (hypothesis profile $profile)"
        # Run from the tests folder so that the installed package, not the source tree, is imported.
        cd tests && DRAL_HYPOTHESIS_PROFILE=$profile "$python" -m pytest -q -p no:cacheprovider .
    ) >"$logs/$count" 2>&1 || touch "$logs/$count.failed" &
done
wait
status=$core_status
for run in $(seq "$count"); do
    cat "$logs/$run"
    [ ! -e "$logs/$run.failed" ] || status=1
done
# The wheel users install, for the default interpreter: built, repaired, and tested in a fresh
# environment with nothing of this machine's toolchain (the other interpreters' wheels build the
# same way: scripts/build_wheels.sh with no arguments).
echo "== the manylinux wheel for $(python3 --version), tested in a fresh environment"
if DRAL_WHEEL_DIR=$logs/wheels bash scripts/build_wheels.sh "$default"; then
    DRAL_HYPOTHESIS_PROFILE=dral-quick bash scripts/test_wheels.sh "$logs"/wheels/*.whl || status=1
else
    status=1
fi
bash scripts/sanitizer_tests.sh || status=1
bash fuzz/smoke.sh || status=1
exit $status
