#!/bin/sh
# Every symbol the library exports must be documented in docs/ (a heading that
# names it in backticks); anything else leaking out of the library is a fault.
# C++ names are checked demangled, without their parameter list.
lib=$1 docs=$2
status=0
case $lib in
*.dll) # the export table of a Windows DLL
    syms=$(x86_64-w64-mingw32-objdump -p "$lib" |
           sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^[[:space:]]*\[ *[0-9]+\]/ {print $NF}' |
           c++filt | sed 's/(.*//') ;;
*)
    syms=$(nm -DC --defined-only "$lib" | awk '$2 ~ /^[TDBRVW]$/ {$1=""; $2=""; sub(/^  /, ""); print}' \
           | sed 's/(.*//' | grep -vE '^(_init|_fini|_edata|_end|__bss_start)$') ;;
esac
[ -n "$syms" ] || { echo "no exported symbols in $lib"; exit 1; }
for s in $syms; do
    if ! grep -rqF "\`$s\`" "$docs" || ! grep -rE '^#+ ' "$docs" | grep -qF "\`$s\`"; then
        echo "exported but undocumented: $s"
        status=1
    fi
done
echo "$(echo "$syms" | wc -l) exported symbols checked"
exit $status
