#!/usr/bin/env bash
# Builds the native libraries the extension links (xxHash, zstd, lz4, snappy) as static archives
# with the wheel toolchain, from Debian's own source packages, into PREFIX (headers, lib/*.a and
# lib/pkgconfig). Linking them in is what lets a wheel run where none of them is installed.
#   usage: native_deps.sh PREFIX WORKDIR   (CC, CXX, AR, RANLIB and CMAKE name the toolchain)
set -euo pipefail
prefix=$1
work=$2
: "${CC:?}" "${CXX:?}" "${AR:?}" "${RANLIB:?}" "${CMAKE:?}"
command -v dpkg-source >/dev/null ||
    { echo "dpkg-source not found: install it with apt-get install dpkg-dev" >&2; exit 1; }

# The source packages come from the machine's own Debian release through a private apt
# configuration, so nothing of the system's apt setup changes. apt checks each source against
# the release's signed index.
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial"
. /etc/os-release
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
cat >"$work/apt/sources.list" <<EOF
deb-src [signed-by=$keyring] http://deb.debian.org/debian $VERSION_CODENAME main
deb-src [signed-by=$keyring] http://deb.debian.org/debian $VERSION_CODENAME-updates main
deb-src [signed-by=$keyring] http://deb.debian.org/debian-security $VERSION_CODENAME-security main
EOF
apt_options=(
    -o "Dir::Etc::SourceList=$work/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache=$work/apt/cache"
    -o APT::Sandbox::User=root -qq
)
apt-get "${apt_options[@]}" update
rm -rf "$work/src" "$work/warnings" && mkdir -p "$work/src"
# The newest source, security updates included. Some mirrors index the security sources without
# serving them: then the release's own source is the best there is, and the build says so.
fetch() {
    local package=$1 newest
    (cd "$work/src" && apt-get "${apt_options[@]}" source "$package" >/dev/null 2>&1) && return
    newest=$(apt-cache "${apt_options[@]}" showsrc "$package" | sed -n 's/^Version: //p' |
        sort -V | tail -n 1)
    echo "WARNING: the source of $package $newest cannot be fetched; building the" \
        "$VERSION_CODENAME release's own source instead" | tee -a "$work/warnings"
    rm -rf "$work/src/$package"[-_]*
    (cd "$work/src" && apt-get "${apt_options[@]}" source "$package/$VERSION_CODENAME" >/dev/null)
}
for package in xxhash libzstd lz4 snappy; do fetch "$package"; done

source_of() { find "$work/src" -maxdepth 1 -type d -name "$1-*" | head -n 1; }

# Each library's own CMake build, static and position-independent, with only the library itself.
# CMAKE_POLICY_VERSION_MINIMUM: these releases still declare CMake 2.8 compatibility, which newer
# CMake refuses without it.
launcher=()
! command -v ccache >/dev/null ||
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
build() {
    local name=$1 source_dir=$2
    shift 2
    echo "== building $name from $(basename "$(dirname "$source_dir")")/$(basename "$source_dir")"
    "$CMAKE" -S "$source_dir" -B "$work/build/$name" -G Ninja \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib \
        -DCMAKE_C_COMPILER="$CC" -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_AR="$AR" \
        -DCMAKE_RANLIB="$RANLIB" -DCMAKE_POSITION_INDEPENDENT_CODE=ON \
        -DCMAKE_POLICY_VERSION_MINIMUM=3.5 -DBUILD_SHARED_LIBS=OFF "${launcher[@]}" "$@" \
        >"$work/$name.log" 2>&1 ||
        { cat "$work/$name.log"; return 1; }
    "$CMAKE" --build "$work/build/$name" >>"$work/$name.log" 2>&1 &&
        "$CMAKE" --install "$work/build/$name" >>"$work/$name.log" 2>&1 ||
        { cat "$work/$name.log"; return 1; }
}

build xxhash "$(source_of xxhash)/cmake_unofficial" -DXXHASH_BUILD_XXHSUM=OFF
# No worker threads: the extension compresses on the calling thread.
build zstd "$(source_of libzstd)/build/cmake" -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_PROGRAMS=OFF \
    -DZSTD_BUILD_TESTS=OFF -DZSTD_LEGACY_SUPPORT=OFF -DZSTD_MULTITHREAD_SUPPORT=OFF
build lz4 "$(source_of lz4)/build/cmake" -DLZ4_BUILD_CLI=OFF -DLZ4_BUILD_LEGACY_LZ4C=OFF
# Debian's patches add a second archive target beside the upstream one; with shared libraries
# on, the upstream one is the shared library, which is then dropped below.
build snappy "$(source_of snappy)" -DBUILD_SHARED_LIBS=ON -DSNAPPY_BUILD_TESTS=OFF \
    -DSNAPPY_BUILD_BENCHMARKS=OFF
# Archives only, so that nothing can link one of these dynamically.
find "$prefix/lib" -name '*.so*' -delete
# Their pkg-config files point into PREFIX whatever they say (xxHash's names /usr, snappy's a
# relative libdir): the system's headers must never mix with the toolchain's.
sed -i -e "s|^prefix=.*|prefix=$prefix|" -e 's|^libdir=.*|libdir=${prefix}/lib|' \
    -e 's|^includedir=.*|includedir=${prefix}/include|' "$prefix"/lib/pkgconfig/*.pc
