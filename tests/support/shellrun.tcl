# Helpers for the tests that run orxsh (or another program) as a child process.
# The shell under test: the build's, or a staged installation's.
if {[info exists ::env(ORX_TEST_SHELL)]} {
    set ::orxsh $::env(ORX_TEST_SHELL)
} else {set ::orxsh [file join $::env(ORX_BUILD_DIR) host orxsh]}
# Windows: every program of the build is in bin/; no input is NUL there.
set ::nullInput /dev/null
if {[tcltest::testConstraint win]} {
    if {![info exists ::env(ORX_TEST_SHELL)]} {set ::orxsh [file join $::env(ORX_BUILD_DIR) bin orxsh.exe]}
    set ::nullInput NUL
}
# The shell's argv0 as the system hands it over: native on Windows.
set ::orxshArgv0 [expr {[tcltest::testConstraint win] ? [file nativename [file normalize $::orxsh]] : $::orxsh}]
# PATH lists are ";"-separated on Windows.
set ::pathSep [expr {[tcltest::testConstraint win] ? ";" : ":"}]
tcltest::testConstraint orxsh [file executable $::orxsh]
tcltest::testConstraint expect [expr {[tcltest::testConstraint unix] && [auto_execok expect] ne ""}]
# What expect tests/support/driver orxsh arg ... prints: OK, or what went wrong.
proc ptyDrive {driver args} {catch {exec expect [file join $::env(ORX_SOURCE_DIR) tests support $driver] $::orxsh {*}$args} out; set out}
# runShell ?-stdin text? ?-env {name value|-unset ...}? ?-exe program? ?--? arg ...:
# runs orxsh (or program), stdin from text or the null device: {status stdout stderr}.
proc runShell {args} {
    set o [dict create -env {} -exe $::orxsh]
    while {[lindex $args 0] in {-stdin -env -exe}} {
        dict set o {*}[lrange $args 0 1]
        set args [lrange $args 2 end]
    }
    if {[lindex $args 0] eq "--"} {set args [lrange $args 1 end]}
    set out [tcltest::makeFile {} shellrun-[pid].out]
    set err [tcltest::makeFile {} shellrun-[pid].err]
    set in $::nullInput
    if {[dict exists $o -stdin]} {
        set in [tcltest::makeFile {} shellrun-[pid].in]
        set f [open $in w]
        puts -nonewline $f [dict get $o -stdin]
        close $f
    }
    set saved {}
    foreach {name value} [dict get $o -env] {
        lappend saved $name [array get ::env $name]
        if {$value eq "-unset"} {unset -nocomplain ::env($name)} else {set ::env($name) $value}
    }
    set code [catch {exec [dict get $o -exe] {*}$args <$in >$out 2>$err} msg opts]
    foreach {old name} [lreverse $saved] {
        unset -nocomplain ::env($name)
        array set ::env $old
    }
    set status 0
    if {$code} {
        if {[lindex [dict get $opts -errorcode] 0] ne "CHILDSTATUS"} {return -code error $msg}
        set status [lindex [dict get $opts -errorcode] 2]
    }
    return [list $status [tcltest::viewFile $out] [tcltest::viewFile $err]]
}
# One orxsh test prefix.case per row {case description runShell-arguments expected}.
proc shellRows {prefix rows} {
    set table {}
    foreach {case desc arguments expected} $rows {
        lappend table [list $case $desc [list runShell {*}$arguments] $expected -constraints orxsh]
    }
    uplevel 1 [list rows $prefix orxsh $table]
}
# A script file in the temporary directory; returns its full path.
proc shellScript {name body} {return [file normalize [tcltest::makeFile $body $name]]}
