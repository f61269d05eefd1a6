# A procedure-heavy script with profiling on against the same script without
# it.  Both sides run the same calls; the profiled side turns profiling on
# for them and writes its array at the end (within the timing).

proc profBenchLeaf {a b} {
    set s 0
    for {set i 0} {$i < 5} {incr i} {
        incr s [expr {$a * $i + $b}]
    }
    return $s
}
proc profBenchMid {n} {
    set t 0
    for {set j 0} {$j < $n} {incr j} {
        incr t [profBenchLeaf $j 3]
    }
    return $t
}
proc profBenchTop {} {
    set u 0
    for {set k 0} {$k < 200} {incr k} {
        incr u [profBenchMid 10]
    }
    return $u
}

bench::compare "profile on, 2200 procedure calls" {} {
    profile on
    profBenchTop
    profile off profData
} {
    profBenchTop
} 20 2.0
