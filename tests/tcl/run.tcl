# run.tcl file.test ?tcltest options?: failures become an error for CTest, by return,
# not [exit], which would strand evaluation objects the leak checker reports.
package require tcltest 2
set file [lindex $argv 0]
tcltest::configure -verbose {body error skip} -testdir [file dirname $file] {*}[lrange $argv 1 end]
set ::orxFailed 0
proc tcltest::cleanupTestsHook {} {
    variable numTests
    incr ::orxFailed $numTests(Failed)
}
# Shells started by the tests end through [exit]: only this process is checked.
if {[info exists ::env(ASAN_OPTIONS)]} {set ::env(ASAN_OPTIONS) "$::env(ASAN_OPTIONS):detect_leaks=0"}
# The test files are UTF-8 whatever the system encoding (cp1252 on Windows).
if {[catch {uplevel #0 [list source -encoding utf-8 $file]} msg opts]} {
    puts stderr "error sourcing $file: $msg\n[dict get $opts -errorinfo]"
    set ::orxFailed 1
}
if {$::orxFailed} {return -code error "$file: $::orxFailed test(s) failed"}
