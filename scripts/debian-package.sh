#!/bin/bash
# Makes the Debian package orx_<version>_<arch>.deb from a build configured
# for /usr (scripts/orx.sh package does that), and checks it with lintian.
# Usage: debian-package.sh BUILDDIR      (the .deb is written into BUILDDIR)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "$1")
root="$build/pkgroot"
meta="$top/packaging/debian"

version=$(sed -nE 's/^CMAKE_PROJECT_VERSION:STATIC=(.*)/\1/p' "$build/CMakeCache.txt")
libdir=$(sed -nE 's/^CMAKE_INSTALL_LIBDIR:PATH=(.*)/\1/p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
soversion=${version%%.*}

rm -rf "$root"
DESTDIR="$root" cmake --install "$build" --prefix /usr --strip >/dev/null

# Debian's places for the package's own documents; manual pages compressed.
doc="$root/usr/share/doc/orx"
install -d -m 755 "$doc"
install -m 644 "$meta/copyright" "$doc/copyright"
gzip -9n -c "$meta/changelog" >"$doc/changelog.gz"
find "$root/usr/share/man" -type f ! -name '*.gz' -exec gzip -9n {} +
chmod -R u=rwX,go=rX "$root"

# Our libraries with their SONAMEs, for packages built against them.
install -d -m 755 "$root/DEBIAN"
for lib in tq_orxtcl tq_tessary tq_tclbuild tq_cc; do
    echo "lib$lib $soversion orx (>= $version)"
done >"$root/DEBIAN/shlibs"
echo "activate-noawait ldconfig" >"$root/DEBIAN/triggers"

# Depends: what the binaries link (dpkg-shlibdeps), libedit2, which the shell
# opens on a terminal, and tclsh8.6, which package require Orx is for.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/debian"
printf 'Source: orx\n\nPackage: orx\nArchitecture: any\n' >"$work/debian/control"
mapfile -t elves < <(find "$root/usr" -type f \( -name '*.so*' -o -path '*/bin/*' \) )
shlibs=$(cd "$work" && dpkg-shlibdeps -O -xorx -l"$root/usr/$libdir" "${elves[@]}" 2>/dev/null |
         sed -n 's/^shlibs:Depends=//p')
depends="tcl8.6, libedit2, $shlibs"

size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@SIZE@/$size/" \
    -e "s/@DEPENDS@/$depends/" "$meta/control.in" >"$root/DEBIAN/control"
(cd "$root" && find usr -type f -exec md5sum {} + | sort -k2) >"$root/DEBIAN/md5sums"
chmod 644 "$root/DEBIAN"/*

deb="$build/orx_${version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
dpkg-deb --field "$deb" Depends
if command -v lintian >/dev/null; then
    # Errors fail the package step; warnings are shown.
    lintian --fail-on error "$deb"
fi
