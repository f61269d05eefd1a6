# Benchmark runner: sources every bench/*.bench.tcl file (or those named on
# the command line); each calls [bench::compare] on pairs of scripts, ours
# against stock Tcl 8.6 doing the same job.  Both run inside a procedure body,
# as scripts call commands, so Tcl compiles the stock side's built-ins to
# bytecode over local variables.  Rounds alternate between the two so machine
# noise hits both alike.
namespace eval bench {
    variable rounds 5
    variable serial 0
    variable within 0
    variable over 0
}

# The body of a timing procedure: setup, then the script inlined into a
# counted loop, answering microseconds per iteration.
proc bench::Body {setup script iterations} {
    string map [list @SETUP@ $setup @SCRIPT@ $script @N@ $iterations] {
        @SETUP@
        set __start [clock microseconds]
        for {set __i 0} {$__i < @N@} {incr __i} {
            @SCRIPT@
        }
        expr {double([clock microseconds] - $__start) / @N@}
    }
}

# row name ours stock unit ?goal?
# One line of the table; a row with a goal counts as within or over it.
proc bench::row {name ours stock unit {goal {}}} {
    variable within
    variable over
    set ratio [expr {$stock > 0 ? double($ours) / $stock : 0}]
    set mark -
    if {$goal ne {}} {
        set mark [format %.2f $goal]
        if {$ratio <= $goal} {incr within} else {incr over; append mark " over"}
    }
    puts [format "%-48s %10.3f %-2s %10.3f %-2s %7.2f %s" $name $ours $unit $stock $unit $ratio $mark]
    return $ratio
}

# compare name setup ours stock ?iterations? ?goal?
# setup runs at the start of both procedure bodies, outside the timing: its
# variables are the procedure's locals (use global or upvar for others).
proc bench::compare {name setup ours stock {iterations 20000} {goal {}}} {
    variable rounds
    variable serial
    set id [incr serial]
    foreach which {ours stock} {
        proc ::bench::run_${which}_$id {} [Body $setup [set $which] $iterations]
    }
    set best(ours) Inf
    set best(stock) Inf
    for {set r 0} {$r < $rounds} {incr r} {
        foreach which {ours stock} {
            set us [::bench::run_${which}_$id]
            if {$us < $best($which)} {set best($which) $us}
        }
    }
    rename ::bench::run_ours_$id {}
    rename ::bench::run_stock_$id {}
    return [row $name $best(ours) $best(stock) us $goal]
}

puts [format "%-48s %13s %13s %7s %s" operation ours stock ratio goal]
set bench::files [lmap f $argv {file normalize $f}]
if {![llength $bench::files]} {
    set bench::files [lsort [glob -nocomplain -directory [file dirname [info script]] *.bench.tcl]]
}
foreach f $bench::files {
    uplevel #0 [list source $f]
}
puts "$bench::within within goal, $bench::over over"
