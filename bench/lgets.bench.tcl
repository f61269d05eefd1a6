# lgets against the stock way of reading lists that span lines: gets, then
# info complete until the text holds a whole list.  Both read the same file
# of 100,000 three-line lists and count the elements.

set lgetsBenchFile [file join [pwd] lgets.bench.txt]
set ch [open $lgetsBenchFile w]
for {set i 0} {$i < 100000} {incr i} {
    puts $ch "item$i {first part $i\n  second part} \"quoted $i\nend\" tail"
}
close $ch

bench::compare "lgets, 100000 three-line lists" [list set path $lgetsBenchFile] {
    set f [open $path]
    set n 0
    while {[lgets $f l] >= 0} {
        incr n [llength $l]
    }
    close $f
} {
    set f [open $path]
    set n 0
    set buf ""
    while {[gets $f line] >= 0} {
        append buf $line \n
        if {[info complete $buf]} {
            incr n [llength $buf]
            set buf ""
        }
    }
    close $f
} 1
file delete $lgetsBenchFile
