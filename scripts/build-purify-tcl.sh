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
mkdir -p "$work/sources.list.d" "$work/lists/partial" "$work/archives/partial"
# A private apt set-up that adds deb-src entries without touching the system's.
sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
    > "$work/sources.list.d/src.sources"
aptopts=(-o Dir::Etc::sourceparts="$work/sources.list.d" -o Dir::Etc::sourcelist=/dev/null
         -o Dir::State::Lists="$work/lists" -o Dir::Cache::Archives="$work/archives"
         -o Debug::NoLocking=1)
apt-get "${aptopts[@]}" update -qq
(cd "$work" && apt-get "${aptopts[@]}" source -qq --download-only tcl8.6 && \
    dpkg-source --no-check -x tcl8.6_*.dsc tcl >/dev/null)
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
