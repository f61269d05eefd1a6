# orx:StrSplit and orx:StrJoin against split and string map on text without
# quotes (the stock commands know nothing of quoted sections).

set strBenchText [string repeat "alpha,beta,gamma,delta," 45590]
bench::compare "orx:StrSplit vs split, 1 MB" {
    global strBenchText
} {
    set pieces [orx:StrSplit $strBenchText ,]
    llength $pieces
} {
    set pieces [split $strBenchText ,]
    llength $pieces
} 10 1.5
bench::compare "orx:StrJoin vs string map, 1 MB" {
    global strBenchText
} {
    set joined [orx:StrJoin $strBenchText ";" ,]
} {
    set joined [string map {, ;} $strBenchText]
} 10
bench::compare "orx:pathsplit vs split, short path" {
    set p /usr/local/lib/orx/packages/zub
} {
    orx:pathsplit $p
} {
    lrange [split $p /] 1 end
}
