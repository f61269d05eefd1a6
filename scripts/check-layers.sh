#!/bin/bash
# Checks the include lines of the source tree against its layers (see
# docs/platform.md, "The OS seam and the layers"):
#   (a) no OS header outside the OS folders platform/os_posix/ and
#       platform/os_win32/ (<windows.h>, <winsock2.h>, <io.h> ... count as
#       OS headers like <unistd.h>): only the C++17 standard
#       headers, ISO C's own headers (in C headers, by their C name; C++
#       files use the <cname> form) and Tcl's public headers are included
#       elsewhere;
#   (b) no include that runs back up the layers: include/ < base/ <
#       platform/ < extended/ < library/ < commands/ < shell/; the seam is
#       platform/orxplat.h, never a file of an OS folder; host/ and
#       packages/ see only the exported headers and the stand-ins' own;
#   (c) Tcl's private headers (tclInt.h, tclCompile.h, tclPort.h, ...) only
#       in platform/tclint/.
# Every finding is printed as "file:line: what"; the status is 1 when there
# is one.  tests/, bench/ and fuzz/ are not checked.
# usage: scripts/check-layers.sh ?source-tree?
set -u
top=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$top" || exit 2

cxx_std=" algorithm any array atomic bitset cassert ccomplex cctype cerrno cfenv cfloat
 charconv chrono cinttypes ciso646 climits clocale cmath codecvt complex
 condition_variable csetjmp csignal cstdalign cstdarg cstdbool cstddef cstdint cstdio
 cstdlib cstring ctgmath ctime cuchar cwchar cwctype deque exception execution
 filesystem forward_list fstream functional future initializer_list iomanip ios iosfwd
 iostream istream iterator limits list locale map memory memory_resource mutex new
 numeric optional ostream queue random ratio regex scoped_allocator set shared_mutex
 sstream stack stdexcept streambuf string string_view strstream system_error thread
 tuple type_traits typeindex typeinfo unordered_map unordered_set utility valarray
 variant vector "
iso_c=" assert.h complex.h ctype.h errno.h fenv.h float.h inttypes.h iso646.h limits.h
 locale.h math.h setjmp.h signal.h stdalign.h stdarg.h stdatomic.h stdbool.h stddef.h
 stdint.h stdio.h stdlib.h stdnoreturn.h string.h tgmath.h threads.h time.h uchar.h
 wchar.h wctype.h "
tcl_public=" tcl.h tclDecls.h tclPlatDecls.h tclOO.h tclOODecls.h tclTomMath.h tclTomMathDecls.h "
standins="platform/cc platform/tessary platform/tclbuild platform/tclint"

tcl_private=" tclInt.h tclIntDecls.h tclIntPlatDecls.h tclCompile.h tclPort.h tclUnixPort.h
 tclWinPort.h tclOOInt.h tclOOIntDecls.h tclRegexp.h tclFileSystem.h tclIO.h
 tclStringRep.h tclArithSeries.h "
# One blank between words, one at each end, for the look-ups below.
cxx_std=" $(echo $cxx_std) " iso_c=" $(echo $iso_c) " tcl_public=" $(echo $tcl_public) "
tcl_private=" $(echo $tcl_private) "

findings=0
report() {
    echo "$1:$2: $3"
    findings=$((findings + 1))
}

# Whether a file is in one of the OS folders, the only ones that include
# system headers.
is_os_folder() {
    [[ $1 == platform/os_posix/* || $1 == platform/os_win32/* ]]
}

has() { # has list word
    [[ $1 == *" $2 "* ]]
}

# Rank of a file's layer in $rank; host and packages stand outside (8).
layer_rank() {
    case $1 in
    include/*) rank=0 ;;
    base/*) rank=1 ;;
    platform/*) rank=2 ;;
    extended/*) rank=3 ;;
    library/*) rank=4 ;;
    commands/*) rank=5 ;;
    shell/*) rank=6 ;;
    *) rank=8 ;;
    esac
}

# The file a quoted include names, in $target, as the build's include paths
# find it: beside the includer, from the top of the tree, in include/, or
# among the stand-ins' public headers.  Empty when none holds it.
resolve() {
    local from=$1 name=$2 candidate
    target=
    for candidate in "${from%/*}/$name" "$name" "include/$name" \
        "platform/cc/$name" "platform/tessary/$name" "platform/tclbuild/$name" \
        "platform/tclint/$name"; do
        if [ -f "$candidate" ]; then
            target=$candidate
            [[ $target == */../* || $target == */./* ]] && target=$(realpath --relative-to=. -- "$target")
            return
        fi
    done
}

check_angle() {
    local file=$1 line=$2 name=$3
    if has "$tcl_private" "$name"; then
        [[ $file == platform/tclint/* ]] ||
            report "$file" "$line" "Tcl's private header <$name> outside platform/tclint/"
        return
    fi
    has "$tcl_public" "$name" && return
    has "$cxx_std" "$name" && return
    is_os_folder "$file" && return
    if has "$iso_c" "$name"; then
        [[ $file == *.h ]] ||
            report "$file" "$line" "C header <$name> in C++ code: include <c${name%.h}>"
        return
    fi
    report "$file" "$line" "OS header <$name> outside platform/os_posix/ and platform/os_win32/"
}

check_quoted() {
    local file=$1 line=$2 name=$3 from
    resolve "$file" "$name"
    if [ -z "$target" ]; then
        if has "$tcl_private" "${name##*/}"; then
            [[ $file == platform/tclint/* ]] ||
                report "$file" "$line" "Tcl's private header \"$name\" outside platform/tclint/"
        else
            report "$file" "$line" "\"$name\" is no file of the tree"
        fi
        return
    fi
    layer_rank "$file"
    from=$rank
    layer_rank "$target"
    if [ "$from" -eq 8 ]; then
        case $target in
        include/* | platform/cc/* | platform/tessary/* | platform/tclbuild/* | "${file%/*}"/*) ;;
        *) report "$file" "$line" "\"$name\" ($target): outside code sees only the exported headers" ;;
        esac
    elif is_os_folder "$target" && [[ ${target%/*} != "${file%/*}" ]]; then
        report "$file" "$line" "\"$name\": the OS layer is reached through platform/orxplat.h"
    elif [ "$rank" -gt "$from" ]; then
        report "$file" "$line" "\"$name\" ($target) runs up the layers from ${file%/*}/"
    fi
}

while IFS= read -r -d '' file; do
    file=${file#./}
    while IFS= read -r hit; do
        line=${hit%%:*}
        text=${hit#*:}
        if [[ $text =~ include[[:space:]]*\<([^\>]+)\> ]]; then
            check_angle "$file" "$line" "${BASH_REMATCH[1]}"
        elif [[ $text =~ include[[:space:]]*\"([^\"]+)\" ]]; then
            check_quoted "$file" "$line" "${BASH_REMATCH[1]}"
        fi
    done < <(grep -n -E '^[[:space:]]*#[[:space:]]*include' "$file")
done < <(find include base platform extended library commands shell host packages \
    -type f \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.h' -o -name '*.hpp' \) \
    -print0 2>/dev/null | sort -z)

if [ "$findings" -gt 0 ]; then
    echo "check-layers: $findings include(s) against the layers" >&2
    exit 1
fi
echo "check-layers: every include keeps to its layer"
