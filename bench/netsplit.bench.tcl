# orx:MorvaListSplit against a stock Tcl line splitter (split on newlines and
# one regexp per statement) on a 100,000-line netlist.

proc netBenchText {n} {
    set lines {}
    for {set i 0} {$i < $n} {incr i} {
        lappend lines "x.top/sub$i/r$i n$i n[expr {$i + 1}] = rnom=1k tc1=0"
    }
    return [join $lines \n]
}
set netBench [netBenchText 100000]
set ratio [bench::compare "orx:MorvaListSplit -netlist, 100,000 lines" {
    global netBench
} {
    set out [orx:MorvaListSplit -netlist $netBench]
} {
    set out {}
    foreach line [split $netBench \n] {
        if {[regexp {^(\S+)\s+([^=]*?)\s*=\s*(.*)$} $line -> ref nodes args]} {
            lappend out [list /$ref $nodes $args]
        }
    }
} 1]

proc netBenchRate {} {
    global netBench
    set start [clock microseconds]
    set out [orx:MorvaListSplit -netlist $netBench]
    set us [expr {[clock microseconds] - $start}]
    puts [format "%-48s %10.0f lines/s" "orx:MorvaListSplit throughput" [expr {100000e6 / $us}]]
}
netBenchRate
