# General commands against the stock Tcl 8.6 way: loop against a compiled
# for, try_eval against catch and try, echo against puts.

foreach n {10 1000} {
    bench::compare "loop, $n empty iterations" {} \
        "loop i 0 $n {}" "for {set i 0} {\$i < $n} {incr i} {}" [expr {$n > 100 ? 500 : 20000}] \
        [expr {$n > 100 ? 3.0 : ""}]
    bench::compare "loop, $n iterations summing" {set s 0} \
        "loop i 0 $n {incr s \$i}" "for {set i 0} {\$i < $n} {incr i} {incr s \$i}" \
        [expr {$n > 100 ? 500 : 20000}] [expr {$n > 100 ? 2.0 : ""}]
}
bench::compare "loop counting down by 3, 1000 iterations" {} \
    {loop i 3000 0 -3 {}} {for {set i 3000} {$i > 0} {incr i -3} {}} 500

bench::compare "try_eval without error" {} \
    {try_eval {set x 1} {set r $errorResult}} {if {[catch {set x 1} r]} {set r $r}}
bench::compare "try_eval with error" {} \
    {try_eval {error boom} {set r $errorResult}} {if {[catch {error boom} r]} {set r $r}}
bench::compare "try_eval with finally" {} \
    {try_eval {set x 1} {} {set y 2}} {try {set x 1} finally {set y 2}}
bench::compare "try_eval with error and finally" {} \
    {try_eval {error boom} {set r $errorResult} {set y 2}} \
    {try {error boom} on error r {set r $r} finally {set y 2}}

# Both write into one large buffer; a transform drops the written lines on
# the final flush and lets the result lines through.
proc benchDropDots {cmd handle args} {
    switch -- $cmd {
        initialize {return {initialize finalize write}}
        finalize {}
        write {return [string map {".\n" ""} [lindex $args 0]]}
    }
}
flush stdout
set benchStdout [list -buffering [fconfigure stdout -buffering] -buffersize [fconfigure stdout -buffersize]]
fconfigure stdout -buffering full -buffersize 1048576
chan push stdout benchDropDots
bench::compare "echo against puts" {} {echo .} {puts .} 20000
chan pop stdout
fconfigure stdout {*}$benchStdout
