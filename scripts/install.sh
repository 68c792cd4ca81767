#!/usr/bin/env bash
# Installs what Dral needs and builds it into every interpreter we support here: the system
# packages (xxHash headers, pkg-config), the build tools, then the package itself.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
[ -f /usr/include/xxhash.h ] || missing+=(libxxhash-dev)
command -v pkg-config >/dev/null || missing+=(pkg-config)
command -v g++ >/dev/null || missing+=(g++)
for package in "$@"; do missing+=("$package"); done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

for python in $(scripts/pythons.sh); do
    echo "== installing dral for $($python --version)"
    $python -m pip install -q --disable-pip-version-check --root-user-action=ignore \
        "scikit-build-core>=0.9" ninja "cmake>=3.26" pytest hypothesis xxhash
    # No build isolation: the build directory under build/ is reused between installs.
    $python -m pip install -q --disable-pip-version-check --root-user-action=ignore --no-build-isolation .
done
