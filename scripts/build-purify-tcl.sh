#!/bin/bash
# Builds Tcl 8.6 from Debian's source package with -DPURIFY, so that every Tcl
# object and block is an allocation of its own and AddressSanitizer sees
# use-after-free and overruns inside Tcl values.  Tcl itself gets ASan only:
# its own sources trip UBSan in places.  Usage: build-purify-tcl.sh PREFIX
# The result is cached: a second run with the same PREFIX does nothing.
set -euo pipefail
prefix=$(realpath -m "$1")
if [ -f "$prefix/.complete" ]; then
    exit 0
fi
work="$prefix.src"
rm -rf "$work" "$prefix"
. "$(dirname "$0")/debsource.sh"
debsource_setup "$work"
debsource_fetch tcl8.6 tcl
cd "$work/tcl/unix"
CC=${CC:-clang} CFLAGS="-g -O1 -DPURIFY -fsanitize=address -fno-omit-frame-pointer" \
    LDFLAGS="-fsanitize=address" \
    ./configure --prefix="$prefix" --enable-shared --disable-rpath >/dev/null
make -j"$(nproc)" >/dev/null
make install install-private-headers >/dev/null
# Private headers where our build looks for them.
mkdir -p "$prefix/include/tcl-private"
cp -r "$work/tcl/generic" "$work/tcl/unix" "$work/tcl/compat" "$prefix/include/tcl-private/"
touch "$prefix/.complete"
rm -rf "$work"
echo "PURIFY Tcl installed in $prefix"
