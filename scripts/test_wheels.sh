#!/usr/bin/env bash
# Tests built wheels as users get them: each goes into a fresh virtual environment of the
# interpreter it was built for, with only binary packages from PyPI beside it (pip may build
# nothing), and the whole test suite runs against it with PATH holding that environment and the
# shell tools the README's examples call, nothing else: no compiler, no pkg-config, no headers or
# -dev libraries take part. Each wheel must also load no shared library but glibc's
# (scripts/wheels/check_self_contained.py).
#   usage: test_wheels.sh [WHEEL...]   (default: every wheel in dist/)
# DRAL_HYPOTHESIS_PROFILE chooses the property tests' profile (tests/conftest.py).
set -euo pipefail
cd "$(dirname "$0")/.."

wheels=("$@")
[ ${#wheels[@]} -gt 0 ] || wheels=(dist/*.whl)
[ -e "${wheels[0]}" ] || { echo "no wheels to test: run scripts/build_wheels.sh" >&2; exit 1; }

interpreter_for() {
    local tag=$1 python
    for python in $(scripts/pythons.sh); do
        [ "$("$python" -c 'import sys; print("cp%d%d" % sys.version_info[:2])')" != "$tag" ] ||
            { echo "$python"; return; }
    done
    return 1
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/tools"
for tool in bash sh dd; do ln -s "$(command -v "$tool")" "$scratch/tools/$tool"; done
status=0
for wheel in "${wheels[@]}"; do
    tag=$(basename "$wheel" | cut -d- -f3)
    python=$(interpreter_for "$tag") || { echo "no $tag interpreter for $wheel" >&2; exit 1; }
    venv=$scratch/$tag
    echo "== testing $(basename "$wheel") in a fresh environment of $($python --version)"
    "$python" -m venv "$venv"
    "$venv/bin/python" -m pip install -q --disable-pip-version-check --root-user-action=ignore \
        --only-binary :all: "$(realpath "$wheel")[test]"
    # The environment alone: nothing of the build machine's toolchain can be found from here.
    isolated=(env -u LD_LIBRARY_PATH -u LD_PRELOAD -u PYTHONPATH -u PYTHONHOME -u CPATH
        -u LIBRARY_PATH -u PKG_CONFIG_PATH PATH="$venv/bin:$scratch/tools")
    "${isolated[@]}" python scripts/wheels/check_self_contained.py || { status=1; continue; }
    (cd tests && "${isolated[@]}" python -m pytest -q -p no:cacheprovider .) || status=1
done
exit $status
