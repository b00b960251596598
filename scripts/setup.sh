#!/usr/bin/env bash
# Makes a Debian bookworm machine ready to build and test the assistant. Run as root; safe to run
# again: every step checks first and a ready machine finishes in seconds.
#
# Expensive artefacts (libcrypto and GoogleTest built for both MinGW targets, cpp-httplib's header)
# are cached outside the source tree under $VELMORA_DEPS (default /opt/velmora-deps), keyed by
# version and target.
set -euo pipefail

DEPS=${VELMORA_DEPS:-/opt/velmora-deps}
OPENSSL_SRC_VERSION=${OPENSSL_SRC_VERSION:-3.0.17-1~deb12u2}
GTEST_SRC=/usr/src/googletest
DEPS_LOG=${TMPDIR:-/tmp}/velmora-setup-apt.log
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

log() { printf '[setup] %s\n' "$*"; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Wine's preloaders are only suggested by Debian, but needed: without one, Wine starts a program
# without first reserving the addresses Windows keeps fixed, and now and then (about once in a few
# thousand starts) the loader's randomly placed heap covers the shared user data page; the process
# then ends at once with status 1, saying why only on Wine's error channel.
apt_packages=(
    build-essential cmake ninja-build pkg-config git ca-certificates dpkg-dev python3 openssl curl
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
    wine wine64 wine64-preloader wine32:i386 wine32-preloader:i386 xvfb xauth
    libssl-dev googletest libgtest-dev libgmock-dev libbenchmark-dev libpugixml-dev nlohmann-json3-dev
    clang libclang-rt-14-dev clang-format
    chromium fonts-wqy-microhei nodejs npm
    nsis
)

# A mirror caught mid-sync answers an index of the wrong size for a while; a later try usually
# gets a consistent set. If every try fails, the lists that did arrive are used, and the install
# step below says which package could not be had.
update_package_lists() {
    local try
    for try in 1 2 3; do
        as_root apt-get update -qq && return 0
        log "package lists incomplete (try $try of 3)"
        sleep $((try * 10))
    done
    log "going on with the package lists that could be fetched"
}

missing_packages() {
    local p
    for p in "${apt_packages[@]}"; do
        # Node.js from another source brings its own npm.
        if [ "$p" = npm ] && command -v npm >/dev/null; then continue; fi
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
    done
}

enable_source_packages() {
    local f=/etc/apt/sources.list.d/debian.sources
    if [ -f "$f" ] && grep -q '^Types: deb$' "$f"; then
        as_root sed -i 's/^Types: deb$/Types: deb deb-src/' "$f"
        return 0
    fi
    if [ -f /etc/apt/sources.list ] && ! grep -q '^deb-src' /etc/apt/sources.list &&
        grep -q '^deb ' /etc/apt/sources.list; then
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | as_root tee -a /etc/apt/sources.list >/dev/null
        return 0
    fi
    return 1
}

install_packages() {
    local need_update=0
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        log "adding the i386 architecture"
        as_root dpkg --add-architecture i386
        need_update=1
    fi
    if enable_source_packages; then need_update=1; fi
    local missing
    missing=$(missing_packages)
    if [ -z "$missing" ] && [ $need_update -eq 0 ]; then
        log "packages: all present"
        return
    fi
    log "installing: $(echo $missing)"
    update_package_lists
    [ -z "$missing" ] && return
    # The 32-bit Wine loader goes on its own: while a mirror's i386 lists lag behind its amd64 ones,
    # its libraries cannot match the installed 64-bit ones, and everything else must still install.
    local others i386
    others=$(echo "$missing" | grep -v ':i386$' || true)
    i386=$(echo "$missing" | grep ':i386$' || true)
    # shellcheck disable=SC2086
    [ -z "$others" ] || apt_install $others
    # shellcheck disable=SC2086
    if [ -n "$i386" ] && ! apt_install_or_warn $i386; then
        log "WARNING: $(echo $i386) could not be installed (the mirror's i386 package lists are incomplete);"
        log "WARNING: the win32 tier will build, and report its Wine tests as skipped"
    fi
}

apt_install() {
    apt_install_or_warn "$@" || exit 1
}

apt_install_or_warn() {
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" \
        >"$DEPS_LOG" 2>&1 && return 0
    tail -n 40 "$DEPS_LOG"
    return 1
}

# libcrypto for one MinGW target, from Debian's openssl source package.
build_openssl() {
    local arch=$1 target=$2
    local upstream=${OPENSSL_SRC_VERSION%%-*}
    local prefix=$DEPS/openssl-$OPENSSL_SRC_VERSION-$arch
    if [ -f "$prefix/.complete" ]; then
        log "libcrypto $upstream for $arch: cached"
        return
    fi
    local src=$DEPS/src/openssl-$OPENSSL_SRC_VERSION
    if [ ! -d "$src/orig" ]; then
        log "fetching openssl source $OPENSSL_SRC_VERSION"
        rm -rf "$src"
        mkdir -p "$src"
        # The pinned version keeps builds repeatable; should the archive have dropped it, the
        # newest source of the same line builds the same way.
        (cd "$src" && { apt-get source --download-only "openssl=$OPENSSL_SRC_VERSION" >/dev/null 2>&1 ||
            apt-get source --download-only openssl >/dev/null; })
        mkdir -p "$src/orig"
        tar -xzf "$(ls "$src"/openssl_*.orig.tar.gz | head -n 1)" -C "$src/orig" --strip-components=1
    fi
    local work=$DEPS/work/openssl-$arch
    rm -rf "$work" "$prefix"
    mkdir -p "$(dirname "$work")"
    cp -a "$src/orig" "$work"
    log "building libcrypto $upstream for $arch"
    (
        cd "$work"
        ./Configure "$target" no-shared no-tests no-engine no-module \
            --cross-compile-prefix="$arch-w64-mingw32-" --prefix="$prefix" --libdir=lib >/dev/null
        # Only libcrypto: TLS is the platform's (WinHTTP), so libssl is never linked.
        make -j"$(nproc)" build_generated >/dev/null
        make -j"$(nproc)" libcrypto.a >/dev/null 2>"$work.log" || { tail -n 40 "$work.log"; exit 1; }
        mkdir -p "$prefix/lib" "$prefix/include"
        cp libcrypto.a "$prefix/lib/"
        cp -R include/openssl "$prefix/include/"
    )
    rm -f "$work.log"
    rm -rf "$work"
    touch "$prefix/.complete"
}

# cpp-httplib's single header, from Debian's source package with Debian's patches applied: the
# binary package splits it for Linux (its implementation sits in a Linux shared library), while the
# header alone builds with both MinGW compilers. Only the developer host serves HTTP with it.
fetch_httplib() {
    local version
    version=$(apt-cache showsrc cpp-httplib 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n 1)
    [ -n "$version" ] || { log "no cpp-httplib source package in the package lists"; exit 1; }
    local prefix=$DEPS/cpp-httplib-$version
    if [ -f "$prefix/.complete" ]; then
        log "cpp-httplib $version: cached"
        return
    fi
    local work=$DEPS/work/cpp-httplib
    rm -rf "$work" "$prefix"
    mkdir -p "$work"
    log "fetching cpp-httplib source $version"
    (cd "$work" && apt-get source --download-only "cpp-httplib=$version" >"$DEPS_LOG" 2>&1 &&
        dpkg-source -x "$(ls cpp-httplib_*.dsc | head -n 1)" tree >>"$DEPS_LOG" 2>&1) ||
        { tail -n 20 "$DEPS_LOG"; exit 1; }
    mkdir -p "$prefix/include"
    cp "$work/tree/httplib.h" "$work/tree/LICENSE" "$prefix/include/"
    rm -rf "$work"
    touch "$prefix/.complete"
}

# qemu's user-mode emulator for i386, for machines whose kernel cannot execute 32-bit code: Wine's
# 32-bit side then runs under it (scripts/wine-common.sh). Bookworm's qemu 7.2 leaves the trap
# number of a signal's context at -1, so Wine cannot tell which fault it is handling and every
# fault it would handle becomes a crash; the static qemu-i386 of the next Debian release does not.
# It is taken out of that release's qemu-user package through an apt configuration of its own, so
# the machine's package sources and installed packages stay exactly as they are.
QEMU_SUITE=${QEMU_SUITE:-trixie}

# Only machines that cannot execute 32-bit code need it, so its absence stops nothing.
qemu_missing() {
    log "WARNING: $1: without qemu-i386 a machine that cannot execute 32-bit code"
    log "WARNING: builds the win32 tier and reports its Wine tests as skipped"
}

fetch_qemu_i386() {
    local dest=$DEPS/qemu-user
    if [ -f "$dest/.complete" ]; then
        log "qemu-i386 $(cat "$dest/VERSION"): cached"
        return
    fi
    local work=$DEPS/work/qemu-apt uri
    # The machine's own Debian archive, with the newer suite.
    uri=$(cat /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null |
        awk '/^URIs:/ {print $2} /^deb / {print $2}' | grep -v security | head -n 1 || true)
    [ -n "$uri" ] || { qemu_missing "no Debian archive in the package sources"; return 0; }
    rm -rf "$work" "$dest"
    mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/sources" "$work/deb"
    printf 'Types: deb\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: %s\n' "$uri" "$QEMU_SUITE" \
        /usr/share/keyrings/debian-archive-keyring.gpg >"$work/sources/qemu.sources"
    local apt_options=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$work/sources"
        -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache" -o APT::Architectures::=amd64
        -o APT::Sandbox::User=root)
    log "fetching qemu-i386 from $QEMU_SUITE's qemu-user"
    local deb
    if ! { apt-get "${apt_options[@]}" update -qq >"$DEPS_LOG" 2>&1 &&
        (cd "$work/deb" && apt-get "${apt_options[@]}" download qemu-user >>"$DEPS_LOG" 2>&1) &&
        deb=$(ls "$work"/deb/qemu-user_*.deb) && dpkg-deb -x "$deb" "$work/root" && mkdir -p "$dest" &&
        cp "$work/root/usr/bin/qemu-i386" "$work/root/usr/share/qemu/binfmt.d/qemu-i386.conf" "$dest/" &&
        dpkg-deb -f "$deb" Version >"$dest/VERSION" && "$dest/qemu-i386" --version >/dev/null; }; then
        tail -n 20 "$DEPS_LOG"
        rm -rf "$work" "$dest"
        qemu_missing "$QEMU_SUITE's qemu-user could not be had"
        return 0
    fi
    rm -rf "$work"
    touch "$dest/.complete"
    log "qemu-i386 $(cat "$dest/VERSION") in $dest"
}

# GoogleTest built by MinGW from Debian's sources, installed as a CMake package.
build_gtest() {
    local arch=$1
    local version
    version=$(dpkg-query -W -f='${Version}' googletest)
    local prefix=$DEPS/googletest-$version-$arch
    if [ -f "$prefix/.complete" ]; then
        log "GoogleTest $version for $arch: cached"
        return
    fi
    local work=$DEPS/work/googletest-$arch
    rm -rf "$work" "$prefix"
    mkdir -p "$(dirname "$work")"
    log "building GoogleTest $version for $arch"
    cmake -S "$GTEST_SRC" -B "$work" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
        -Dgtest_disable_pthreads=OFF >/dev/null
    cmake --build "$work" >/dev/null
    cmake --install "$work" >/dev/null
    rm -rf "$work"
    touch "$prefix/.complete"
}

main() {
    install_packages
    as_root mkdir -p "$DEPS"
    build_openssl i686 mingw
    build_openssl x86_64 mingw64
    build_gtest i686
    build_gtest x86_64
    fetch_httplib
    fetch_qemu_i386
    log "ready (dependencies in $DEPS)"
}

main "$@"
