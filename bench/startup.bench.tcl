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

# Separate runs, the three kinds interleaved so machine noise hits them
# alike; the middle row is the floor any start-up work sits on: a tclsh that
# only loads the shell's libraries (and libstdc++ with them) before its empty
# script.
set orxBench(preload) [list env HOME=$orxBench(home) \
    LD_PRELOAD=[file join $env(ORX_BUILD_DIR) libtq_orxtcl.so.1]]
foreach kind {ours floor stock} {
    set times($kind) {}
}
for {set i 0} {$i < 31} {incr i} {
    foreach {kind command} [list \
            ours [list {*}$orxBench(env) $orxBench(orxsh) -c exit] \
            floor [list {*}$orxBench(preload) {*}$orxBench(tclsh) $orxBench(empty)] \
            stock [list {*}$orxBench(env) {*}$orxBench(tclsh) $orxBench(empty)]] {
        lappend times($kind) [lindex [time {exec {*}$command} 1] 0]
    }
}
foreach kind {ours floor stock} {
    set median($kind) [lindex [lsort -real $times($kind)] 15]
}
bench::row "startup (median of 31 runs)" $median(ours) $median(stock) us 1.3
bench::row "startup floor: tclsh with the libraries loaded" $median(floor) $median(stock) us
file delete -force $orxBench(home)
unset times median kind command i
