# List commands against the stock Tcl 8.6 way of doing the same job inside a
# procedure: lindex/lrange, linsert, the in operator and lsearch.

foreach n {10 1000} {
    set setup "set l {}; for {set i 0} {\$i < $n} {incr i} {lappend l k\$i}"
    # A rotating queue keeps the length steady: take the head, append it.
    bench::compare "lvarpop head, $n elements" $setup \
        {lappend l [lvarpop l]} \
        {set x [lindex $l 0]; set l [lrange $l 1 end]; lappend l $x}
    bench::compare "lcontain (last element), $n elements" $setup \
        "lcontain \$l k[expr {$n - 1}]" "expr {{k[expr {$n - 1}]} in \$l}"
    bench::compare "lmatch -glob, $n elements" $setup \
        {lmatch $l *5*} {lsearch -all -inline $l *5*} [expr {$n > 100 ? 2000 : 20000}]
    bench::compare "lmatch -regexp, $n elements" $setup \
        {lmatch -regexp $l 5} {lsearch -all -inline -regexp $l 5} [expr {$n > 100 ? 2000 : 20000}]
    bench::compare "lmatch -exact, $n elements" $setup \
        {lmatch -exact $l k5} {lsearch -all -inline -exact $l k5} [expr {$n > 100 ? 2000 : 20000}]
}
bench::compare "lvarpush at 1, growing from 100" \
    {set l {}; for {set i 0} {$i < 100} {incr i} {lappend l k$i}} \
    {lvarpush l X 1} {set l [linsert $l 1 X]} 5000
bench::compare "lvarpush end, growing from 100" \
    {set l {}; for {set i 0} {$i < 100} {incr i} {lappend l k$i}} \
    {lvarpush l X len} {set l [linsert $l end X]} 5000
# Tcl's own lassign is replaced by ours in an Orx interpreter.
bench::compare "lassign 3 of 5" {set l {a b c d e}} \
    {set r [lassign $l x y z]} {foreach {x y z} $l break; set r [lrange $l 3 end]}
bench::compare "lempty" {set l {a b c}} {lempty $l} {expr {[llength $l] == 0}}
