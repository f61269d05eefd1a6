#!/bin/bash
# Builds what the Windows cross-build links against, from Debian's source
# packages, with mingw-w64: Tcl 8.6 (its own win/ build, zlib compiled in)
# and GoogleTest.  Usage: build-win-deps.sh tcl|gtest PREFIX
# Each result is cached: a second run with the same PREFIX does nothing.
set -euo pipefail
what=$1
prefix=$(realpath -m "$2")
top=$(cd "$(dirname "$0")/.." && pwd)
if [ -f "$prefix/.complete" ]; then
    exit 0
fi
host=x86_64-w64-mingw32
work="$prefix.src"
rm -rf "$work" "$prefix"
. "$top/scripts/debsource.sh"
debsource_setup "$work"

fetch() { # fetch source-package directory
    debsource_fetch "$1" "$2" 2>/dev/null
}

case $what in
tcl)
    fetch tcl8.6 tcl
    cd "$work/tcl/win"
    ./configure --host=$host --build=x86_64-linux-gnu --enable-64bit --enable-threads \
        --prefix="$prefix" >/dev/null
    # Debian's source drops the prebuilt zlib1.dll: compile zlib into
    # tcl86.dll instead, and install with the host's tclsh.
    sed -i -e 's|^SHARED_LIBRARIES.*|SHARED_LIBRARIES = $(TCL_DLL_FILE)|' \
        -e 's|^\(LIBS[[:space:]]*=.*-lws2_32\).*|\1|' \
        -e 's|^TCL_OBJS = .*|TCL_OBJS = ${GENERIC_OBJS} ${WIN_OBJS} ${ZLIB_OBJS} $(TOMMATH_OBJS)|' \
        -e 's|^TCL_EXE[[:space:]]*=.*|TCL_EXE = tclsh8.6|' Makefile
    make -j"$(nproc)" ZLIB_DLL_FILE= >/dev/null
    make install ZLIB_DLL_FILE= >/dev/null
    # Private headers where our build looks for them.
    mkdir -p "$prefix/include/tcl-private"
    cp -r "$work/tcl/generic" "$work/tcl/win" "$prefix/include/tcl-private/"
    ;;
gtest)
    fetch googletest gt
    cmake -S "$work/gt" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" -DBUILD_GMOCK=OFF \
        -DCMAKE_INSTALL_PREFIX="$prefix" -Dgtest_disable_pthreads=OFF >/dev/null
    ninja -C "$work/build" -j"$(nproc)" install >/dev/null
    ;;
*)
    echo "usage: build-win-deps.sh tcl|gtest PREFIX" >&2
    exit 2
    ;;
esac
touch "$prefix/.complete"
rm -rf "$work"
echo "$what for Windows installed in $prefix"
