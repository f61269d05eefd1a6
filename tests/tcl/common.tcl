# Shared set-up of the tcltest files: inspection helpers and the row helper.
package require tcltest 2
namespace import -force ::tcltest::*
if {[info commands testobj] eq ""} {load $::env(ORX_TESTLIB) Orxtest}
# A C long has 64 bits (Linux), not 32 (Windows).
testConstraint longIs64 [expr {$tcl_platform(wordSize) == 8}]
# rows prefix command table ?option value ...?: a test prefix.case "command: description"
# per row {case description script result ?option value ...?}; a row's options win.
proc rows {prefix command table args} {
    foreach row $table {
        lassign $row case desc body result
        if {$command ne ""} {set desc "$command: $desc"}
        uplevel 1 [list test $prefix.$case $desc -body $body -result $result {*}$args \
                       {*}[lrange $row 4 end]]
    }
}
# Writes text to path as UTF-8, nothing added or translated; returns path.
proc writeText {path text} {
    set f [open $path wb]
    puts -nonewline $f [encoding convertto utf-8 $text]
    close $f
    return $path
}
# The UTF-8 text of the file at path, line ends as Tcl reads them.
proc readText {path} {
    set f [open $path]
    fconfigure $f -encoding utf-8
    set text [read $f]
    close $f
    return $text
}
# Unsets the scratch globals of the tests.
proc cleanVars {} {
    foreach name {a b c g i j k l m n r v w x y z new big copy seen} {unset -nocomplain ::$name}
}
# Makes a global variable read-only: a write is undone and refused.
proc readOnly {name} {
    set ::readOnlyValue($name) [set ::$name]
    trace add variable ::$name write {apply {{n1 n2 op} {
        upvar #0 $n1 v
        set v $::readOnlyValue($n1)
        error "read-only"
    }}}
}
# Busy-waits (signals processed) up to ms or until cond holds: "done" or "timeout".
proc spin {ms {cond 0}} {
    set end [expr {[clock milliseconds] + $ms}]
    while {[clock milliseconds] < $end} {if {[uplevel 1 [list expr $cond]]} {return done}}
    return timeout
}
