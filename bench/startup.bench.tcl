# Start-up time of the Orx shell ("orxsh -c exit": full interpreter
# initialisation, start-up packages, signal thread) against a stock tclsh on
# an empty script.  Prints the min ratio through bench::compare, then the
# median ratio of separate runs.
set orxBench(orxsh) [file join $env(ORX_BUILD_DIR) install bin orxsh]
set orxBench(tclsh) [auto_execok tclsh8.6]
if {![file executable $orxBench(orxsh)] || $orxBench(tclsh) eq ""} {
    puts "startup: orxsh or tclsh8.6 missing, skipped"
    return
}
# Every start appends a pid-file line under HOME: keep it out of the user's.
set orxBench(home) [file join [pwd] bench-home]
file mkdir $orxBench(home)
set orxBench(empty) [file join $orxBench(home) empty.tcl]
close [open $orxBench(empty) w]
set orxBench(env) [list env HOME=$orxBench(home)]

bench::compare "startup: orxsh -c exit vs tclsh empty.tcl" {global orxBench} {
    exec {*}$orxBench(env) $orxBench(orxsh) -c exit
} {
    exec {*}$orxBench(env) {*}$orxBench(tclsh) $orxBench(empty)
} 10

proc orxBenchMedian {script runs} {
    set times {}
    for {set i 0} {$i < $runs} {incr i} {
        lappend times [lindex [uplevel #0 [list time $script 1]] 0]
    }
    lindex [lsort -real $times] [expr {$runs / 2}]
}
set ours [orxBenchMedian {exec {*}$orxBench(env) $orxBench(orxsh) -c exit} 31]
set stock [orxBenchMedian {exec {*}$orxBench(env) {*}$orxBench(tclsh) $orxBench(empty)} 31]
bench::row "startup (median of 31 runs)" $ours $stock us 1.3
file delete -force $orxBench(home)
unset ours stock
