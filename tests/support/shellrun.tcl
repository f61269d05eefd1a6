# Helpers for the tests that run orxsh as a child process.
set ::orxsh [file join $::env(ORX_BUILD_DIR) host orxsh]
tcltest::testConstraint orxsh [file executable $::orxsh]

# runShell ?-stdin text? ?-env {name value ...}? ?--? arg ...
# Runs orxsh with the arguments; returns {status stdout stderr}.  Without
# -stdin, standard input is /dev/null.
proc runShell {args} {
    set stdin {}
    set hasStdin 0
    set envPairs {}
    while {[llength $args]} {
        switch -- [lindex $args 0] {
            -stdin { set stdin [lindex $args 1]; set hasStdin 1; set args [lrange $args 2 end] }
            -env { set envPairs [lindex $args 1]; set args [lrange $args 2 end] }
            -- { set args [lrange $args 1 end]; break }
            default break
        }
    }
    set out [tcltest::makeFile {} shellrun-[pid].out]
    set err [tcltest::makeFile {} shellrun-[pid].err]
    set cmd [list $::orxsh {*}$args >$out 2>$err]
    if {$hasStdin} {
        set in [tcltest::makeFile {} shellrun-[pid].in]
        set f [open $in w]
        puts -nonewline $f $stdin
        close $f
        lappend cmd <$in
    } else {
        lappend cmd </dev/null
    }
    set saved {}
    foreach {name value} $envPairs {
        if {[info exists ::env($name)]} {
            dict set saved $name [list 1 $::env($name)]
        } else {
            dict set saved $name [list 0 {}]
        }
        if {$value eq "-unset"} {
            unset -nocomplain ::env($name)
        } else {
            set ::env($name) $value
        }
    }
    set status 0
    set code [catch {exec {*}$cmd} msg opts]
    dict for {name old} $saved {
        if {[lindex $old 0]} {
            set ::env($name) [lindex $old 1]
        } else {
            unset -nocomplain ::env($name)
        }
    }
    if {$code} {
        set ec [dict get $opts -errorcode]
        if {[lindex $ec 0] ne "CHILDSTATUS"} {
            return -code error $msg
        }
        set status [lindex $ec 2]
    }
    set result [list $status [tcltest::viewFile $out] [tcltest::viewFile $err]]
    return $result
}

# A script file in the temporary directory; returns its full path.
proc shellScript {name body} {
    return [file normalize [tcltest::makeFile $body $name]]
}
