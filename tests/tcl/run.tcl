# Runs one tcltest file and turns its outcome into the exit status, so that
# CTest sees failures: run.tcl file.test ?tcltest options?
package require tcltest 2
set file [lindex $argv 0]
tcltest::configure -verbose {body error skip} -testdir [file dirname $file] {*}[lrange $argv 1 end]
set ::orxFailed 0
proc tcltest::cleanupTestsHook {} {
    variable numTests
    incr ::orxFailed $numTests(Failed)
}
if {[catch {uplevel #0 [list source $file]} msg opts]} {
    puts stderr "error sourcing $file: $msg\n[dict get $opts -errorinfo]"
    exit 2
}
exit [expr {$::orxFailed ? 1 : 0}]
