#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz_<target>) and their replay programs (replay_<target>) with
# clang, AddressSanitizer and UndefinedBehaviorSanitizer into the folder given (default
# build/fuzz), installing clang 16 and its runtimes first where they are missing. Clang 14, the
# Debian default, cannot compile the core's std::expected.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/fuzz}

missing=()
command -v clang++-16 >/dev/null || missing+=(clang-16)
[ -f /usr/lib/llvm-16/lib/clang/16/lib/linux/libclang_rt.fuzzer-x86_64.a ] || missing+=(libclang-rt-16-dev)
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
command -v pkg-config >/dev/null || missing+=(pkg-config)
[ -f /usr/include/xxhash.h ] || missing+=(libxxhash-dev)
[ -f /usr/include/zstd.h ] || missing+=(libzstd-dev)
[ -f /usr/include/lz4.h ] || missing+=(liblz4-dev)
[ -f /usr/include/snappy-c.h ] || missing+=(libsnappy-dev)
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi

cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++-16 >/dev/null
ninja -C "$build"
