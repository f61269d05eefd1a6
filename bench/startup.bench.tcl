# Start-up time of the Orx shell ("orxsh -c exit": full interpreter
# initialisation, start-up packages, signal thread) against a stock tclsh on
# an empty script.
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

# Each sample is a batch of starts from a small sh: exec from this shell
# forks a process grown by the other benchmarks, which would add milliseconds
# to both sides and flatten the ratio.  The three kinds are interleaved so
# machine noise hits them alike; the floor is what any start-up work sits on:
# a tclsh that only loads the shell's libraries (and libstdc++ with them)
# before its empty script.
set orxBench(batch) 10
set orxBench(loop) {n=$1; pre=$2; shift 2; i=0
    while [ $i -lt $n ]; do LD_PRELOAD=$pre "$@" >/dev/null || exit 1; i=$((i + 1)); done}
set orxBench(kinds) [list \
    ours [list {} $orxBench(orxsh) -c exit] \
    floor [list [file join $env(ORX_BUILD_DIR) libtq_orxtcl.so.1] {*}$orxBench(tclsh) $orxBench(empty)] \
    stock [list {} {*}$orxBench(tclsh) $orxBench(empty)]]
foreach {kind command} $orxBench(kinds) {
    set times($kind) {}
}
for {set i 0} {$i < 31} {incr i} {
    foreach {kind command} $orxBench(kinds) {
        set us [lindex [time {
            exec env HOME=$orxBench(home) sh -c $orxBench(loop) sh $orxBench(batch) {*}$command
        } 1] 0]
        lappend times($kind) [expr {double($us) / $orxBench(batch)}]
    }
}
foreach {kind command} $orxBench(kinds) {
    set median($kind) [lindex [lsort -real $times($kind)] 15]
}
bench::row "startup (median of 31 batches of 10)" $median(ours) $median(stock) us 1.3
bench::row "startup floor: tclsh with the libraries loaded" $median(floor) $median(stock) us
bench::row "startup above the floor: orxsh vs floor" $median(ours) $median(floor) us
file delete -force $orxBench(home)
unset times median kind command i us
