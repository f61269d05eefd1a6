# orx:tree against the stock Tcl 8.6 way of keeping a tree: nested dicts,
# built with dict set and listed by a recursive walk.

# Paths of a three-level tree with n leaves (n/2000 tops, 50 mids, 40 leaves).
proc treeBenchPaths {n} {
    set paths {}
    set tops [expr {max(1, $n / 2000)}]
    for {set t 0} {$t < $tops} {incr t} {
        for {set m 0} {$m < 50} {incr m} {
            for {set l 0} {$l < 40} {incr l} {
                lappend paths [list top$t mid$m leaf$l]
            }
        }
    }
    return $paths
}
# Every path of a nested dict, in pre-order.
proc treeBenchWalk {d prefix} {
    set out {}
    dict for {k v} $d {
        set p [linsert $prefix end $k]
        lappend out $p
        if {[dict size $v]} {lappend out {*}[treeBenchWalk $v $p]}
    }
    return $out
}
# The inner nodes of the paths, to open them all.
proc treeBenchInner {paths} {
    set inner {}
    foreach p $paths {
        dict set inner [lrange $p 0 0] 1
        dict set inner [lrange $p 0 1] 1
    }
    return [dict keys $inner]
}

set paths100k [treeBenchPaths 100000]
bench::compare "tree insert of 100,000 paths" {
    global paths100k
} {
    orx:tree BT
    foreach p $paths100k {BT insert $p}
    rename BT {}
} {
    set d {}
    foreach p $paths100k {dict set d {*}$p {}}
} 1

bench::compare "tree listopen of 100,000 leaves, all open" {
    global paths100k
    catch {rename BT {}}
    orx:tree BT
    foreach p $paths100k {BT insert $p}
    BT open [treeBenchInner $paths100k]
    set d {}
    foreach p $paths100k {dict set d {*}$p {}}
} {
    set rows [BT listopen]
} {
    set rows [treeBenchWalk $d {}]
} 1
catch {rename BT {}}

# Time per operation as the tree grows: 10,000 against 100,000 nodes, best
# of three.  A linear-time tree keeps the ratio of totals near 10; listing a
# 2 MB result also pays for the memory it touches.
proc treeBenchGrowth {} {
    foreach n {10000 100000} {
        set paths [treeBenchPaths $n]
        set ins($n) Inf
        set lst($n) Inf
        for {set r 0} {$r < 3} {incr r} {
            orx:tree GT
            set start [clock microseconds]
            foreach p $paths {GT insert $p}
            set ins($n) [expr {min($ins($n), [clock microseconds] - $start)}]
            GT open [treeBenchInner $paths]
            # Steady state: the result's memory is reused from call to call.
            set rows [GT listopen]
            set start [clock microseconds]
            for {set k 0} {$k < 5} {incr k} {
                set rows [GT listopen]
            }
            set lst($n) [expr {min($lst($n), ([clock microseconds] - $start) / 5.0)}]
            unset rows
            rename GT {}
        }
    }
    foreach {what var} {insert ins listopen lst} {
        upvar 0 $var t
        puts [format "%-48s %10.3f us %10.3f us %7.2f" "tree $what per node, 10k vs 100k (total ratio)" \
            [expr {double($t(10000)) / 10000}] [expr {double($t(100000)) / 100000}] \
            [expr {double($t(100000)) / $t(10000)}]]
    }
}
treeBenchGrowth
