# Benchmark runner: sources every bench/*.bench.tcl file; each calls
# [bench::compare] on pairs of scripts, ours against stock Tcl 8.6 doing the
# same job. Rounds alternate between the two so machine noise hits both alike.
namespace eval bench {
    variable rounds 5
}

# compare name setup ours stock ?iterations?
proc bench::compare {name setup ours stock {iterations 20000}} {
    variable rounds
    uplevel #0 $setup
    set best(ours) Inf
    set best(stock) Inf
    for {set r 0} {$r < $rounds} {incr r} {
        foreach which {ours stock} {
            set us [lindex [uplevel #0 [list time [set $which] $iterations]] 0]
            if {$us < $best($which)} {set best($which) $us}
        }
    }
    set ratio [expr {$best(stock) > 0 ? $best(ours) / $best(stock) : 0}]
    puts [format "%-44s %10.3f us %10.3f us %7.2f" $name $best(ours) $best(stock) $ratio]
}

puts [format "%-44s %13s %13s %7s" benchmark ours stock ratio]
foreach f [lsort [glob -nocomplain -directory [file dirname [info script]] *.bench.tcl]] {
    uplevel #0 [list source $f]
}
