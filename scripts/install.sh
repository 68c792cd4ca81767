#!/usr/bin/env bash
# Installs what Dral needs and builds it into every interpreter we support here (scripts/pythons.sh):
# the system packages (xxHash headers, the zstd, lz4 and snappy libraries, pkg-config, compilers,
# ccache), the build and test tools, then the package itself with its `dral` command. Extra
# arguments are more Debian packages.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
[ -f /usr/include/xxhash.h ] || missing+=(libxxhash-dev)
[ -f /usr/include/zstd.h ] || missing+=(libzstd-dev)
[ -f /usr/include/lz4.h ] || missing+=(liblz4-dev)
[ -f /usr/include/snappy-c.h ] || missing+=(libsnappy-dev)
# GoogleTest, for the core's own tests (dral-core/tests).
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
command -v pkg-config >/dev/null || missing+=(pkg-config)
command -v g++ >/dev/null || missing+=(g++)
# clang compiles the AVX-512 XXH64 (see CMakeLists.txt).
command -v clang++-16 >/dev/null || command -v clang++ >/dev/null || missing+=(clang)
command -v ccache >/dev/null || missing+=(ccache)
for package in "$@"; do missing+=("$package"); done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The core library compiles to the same objects for every interpreter: ccache builds it once.
export CMAKE_CXX_COMPILER_LAUNCHER=ccache
pip_install() { "$python" -m pip install -q --disable-pip-version-check --root-user-action=ignore "$@"; }
for python in $(scripts/pythons.sh); do
    echo "== installing dral for $($python --version)"
    # cramjam: the tests check compressed blocks against compressors other than the ones we link;
    # orjson: they compare dates and times with its text.
    pip_install "scikit-build-core>=0.9" ninja "cmake>=3.26" pytest hypothesis xxhash mypy cramjam orjson
    # No build isolation: the build directory under build/ is reused between installs.
    pip_install --no-build-isolation .
done
# pyenv finds new commands (`dral`) only after a rehash.
if command -v pyenv >/dev/null; then pyenv rehash; fi
