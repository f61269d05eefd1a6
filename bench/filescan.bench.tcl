# scanfile against the stock loop doing the same job: gets each line and
# test it against two regular expressions, running a command for each match.
# The file has 200,000 lines; one line in ten matches one of the patterns.

set scanBenchFile [file join [pwd] filescan.bench.txt]
set ch [open $scanBenchFile w]
for {set i 0} {$i < 200000} {incr i} {
    switch [expr {$i % 20}] {
        0 {puts $ch "ERROR $i: device R$i failed to converge"}
        10 {puts $ch "WARNING $i: node n$i floating"}
        default {puts $ch "info $i: step $i time [expr {$i * 0.5}] ok"}
    }
}
close $ch

set scanBenchContext [scancontext create]
scanmatch $scanBenchContext {^ERROR} {incr errors}
scanmatch $scanBenchContext {^WARNING} {incr warnings}

bench::compare "scanfile, 2 patterns, 200000 lines" \
    "[list set path $scanBenchFile]; [list set context $scanBenchContext]" {
    set f [open $path]
    set errors 0
    set warnings 0
    scanfile $context $f
    close $f
} {
    set f [open $path]
    set errors 0
    set warnings 0
    while {[gets $f line] >= 0} {
        if {[regexp {^ERROR} $line]} {incr errors}
        if {[regexp {^WARNING} $line]} {incr warnings}
    }
    close $f
} 1 1.0
scancontext delete $scanBenchContext

# The same with submatches: each match reads the device or node name.
set scanBenchContext [scancontext create]
scanmatch $scanBenchContext {^ERROR [0-9]+: device (R[0-9]+)} {set last $matchInfo(submatch0); incr errors}
scanmatch $scanBenchContext {^WARNING [0-9]+: node (n[0-9]+)} {set last $matchInfo(submatch0); incr warnings}
bench::compare "scanfile, 2 patterns with submatches, 200000 lines" \
    "[list set path $scanBenchFile]; [list set context $scanBenchContext]" {
    set f [open $path]
    set errors 0
    set warnings 0
    scanfile $context $f
    close $f
} {
    set f [open $path]
    set errors 0
    set warnings 0
    while {[gets $f line] >= 0} {
        if {[regexp {^ERROR [0-9]+: device (R[0-9]+)} $line -> last]} {incr errors}
        if {[regexp {^WARNING [0-9]+: node (n[0-9]+)} $line -> last]} {incr warnings}
    }
    close $f
} 1 1.0
scancontext delete $scanBenchContext
file delete $scanBenchFile
