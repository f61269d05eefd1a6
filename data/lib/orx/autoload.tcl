# Script-level auto-loading of the Orx installation, sourced at start-up by
# the library initialisation.  Commands are found through auto_index: entries
# that the library indexes put there, then the tclIndex files along auto_path.
# A host that skipped Tcl_Init has no auto-loader yet; Tcl's own is used.
if {[info procs ::auto_load] eq "" && [info exists ::tcl_library]} {
    set orx_init [file join $::tcl_library init.tcl]
    if {[file readable $orx_init]} {
        uplevel #0 [list source $orx_init]
    }
    unset orx_init
}
if {![info exists ::auto_index]} {
    array set ::auto_index {}
}
