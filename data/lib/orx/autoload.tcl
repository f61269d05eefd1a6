# Script-level auto-loading of the Orx installation, sourced at start-up by
# the library initialisation.  Commands are found through auto_index: the
# entries that the library indexes (.tndx, .ndi) of the auto_path directories
# put there, then the tclIndex files along auto_path.  Also the library
# builder, OrxPackage:MakeLibrary.
# A host that skipped Tcl_Init has no auto-loader yet: Tcl's own is sourced
# from Tcl's script library.
if {[info procs ::auto_load] eq ""} {
    # Before Tcl_Init, tcl_library may exist without a readable value.
    # init.tcl needs it, as Tcl_Init would have set it.
    if {[catch {set ::tcl_library} orx_init] || $orx_init eq ""} {
        set ::tcl_library [::tcl::pkgconfig get scriptdir,runtime]
    }
    set orx_init [file join $::tcl_library init.tcl]
    if {[file readable $orx_init]} {
        # Tcl's directories go first in auto_path, as after Tcl_Init.
        set orx_path [expr {[info exists ::auto_path] ? $::auto_path : {}}]
        uplevel #0 [list source $orx_init]
        set ::auto_path [concat [lmap d $::auto_path {
            if {$d in $orx_path} continue
            set d
        }] $orx_path]
        unset orx_path
    }
    unset orx_init
}
if {![info exists ::auto_index]} {
    array set ::auto_index {}
}

# The installation's own script library lies beside this file: hosts that did
# not extend auto_path (Orx_TclInit does) still find it.
apply {{dir} {
    if {![info exists ::auto_path] || $dir ni $::auto_path} {
        lappend ::auto_path $dir
    }
}} [file normalize [file dirname [info script]]]

namespace eval ::OrxPackage {
    # auto_path as it was when the library indexes were last loaded.
    variable indexedPath
}

# Tcl's auto_load calls auto_load_index when a command is not in auto_index:
# the library indexes of every auto_path directory are loaded first (again
# only when auto_path has changed or auto_reset has run), last directory first
# so that earlier directories win, then Tcl's own tclIndex files.
if {[info procs ::auto_load_index] ne "" && [info procs ::OrxPackage::TclLoadIndex] eq ""} {
    rename ::auto_load_index ::OrxPackage::TclLoadIndex
    proc ::auto_load_index {} {
        if {[catch {::OrxPackage::LoadLibraryIndexes} loaded options]} {
            # Tcl's pass still runs and sets its marker, which tells a later
            # auto_reset from this failure.
            catch {::OrxPackage::TclLoadIndex}
            return -options $options $loaded
        }
        expr {[::OrxPackage::TclLoadIndex] || $loaded}
    }
}

proc ::OrxPackage::LoadLibraryIndexes {} {
    variable indexedPath
    global auto_path
    # auto_reset unsets Tcl's own marker: the indexes are then read again,
    # as Tcl reads its tclIndex files again.
    if {![info exists ::tcl::auto_oldpath]} {
        unset -nocomplain indexedPath
    }
    if {![info exists auto_path] || [llength [info commands ::orxx_load_tndxs]] == 0
            || ([info exists indexedPath] && $indexedPath eq $auto_path)} {
        return 0
    }
    set indexedPath $auto_path
    for {set i [expr {[llength $auto_path] - 1}]} {$i >= 0} {incr i -1} {
        orxx_load_tndxs [lindex $auto_path $i]
    }
    return 1
}

# OrxPackage:MakeLibrary ?-encrypt seed? library sourceFile ?sourceFile ...?
# Cut the source files at their "#@package: name proc ?proc ...?" markers
# into the library file (name ending in .tlib or .tli) and write its index
# beside it; with -encrypt each package is stored encrypted under the seed.
# Source files are read as UTF-8.  Returns the package names in order.
proc OrxPackage:MakeLibrary {args} {
    set usage "wrong # args: should be \"OrxPackage:MakeLibrary ?-encrypt seed? library sourceFile ?sourceFile ...?\""
    set seed ""
    if {[lindex $args 0] eq "-encrypt"} {
        if {[llength $args] < 2} {
            return -code error -errorcode {TCL WRONGARGS} $usage
        }
        set seed [lindex $args 1]
        if {![string is entier -strict $seed] || $seed < 0 || $seed > 0xffffffff} {
            return -code error -errorcode [list ORX VALUE NUMBER $seed] "bad seed \"$seed\": must be an unsigned 32-bit integer"
        }
        set args [lrange $args 2 end]
    }
    if {[llength $args] < 2} {
        return -code error -errorcode {TCL WRONGARGS} $usage
    }
    set sources [lassign $args library]
    if {[string match *.tlib $library] && [string length [file tail $library]] >= 6} {
        set index [string range $library 0 end-3]ndx
    } elseif {[string match *.tli $library] && [string length [file tail $library]] >= 5} {
        set index [string range $library 0 end-3]ndi
    } else {
        return -code error -errorcode [list ORX VALUE NAME $library] "invalid library name, must have an extension of \".tlib\", \".tli\", got \"$library\""
    }
    set text ""
    foreach file $sources {
        set ch [open $file r]
        try {
            fconfigure $ch -encoding utf-8
            append text "#@filename: $file\n" [read $ch] \n
        } finally {
            close $ch
        }
    }
    set libraryText ""
    set indexLines {}
    set names {}
    set offset 0
    OrxPackage:GetPackageInit $text
    try {
        while {[llength [set package [OrxPackage:GetPackage]]]} {
            lassign $package name procs body
            if {$name in $names} {
                return -code error -errorcode {ORX VALUE FORMAT} "package \"$name\" is defined twice"
            }
            if {$seed ne ""} {
                set body [encrypt $seed $body]
            }
            # Offsets count the bytes OrxPackage:Puts writes: the string form.
            set length [string bytelength $body]
            lappend indexLines [list $name $offset $length {*}$procs]
            lappend names $name
            append libraryText $body
            incr offset $length
        }
    } finally {
        OrxPackage:GetPackageTerm
    }
    OrxPackage:Puts $library $libraryText
    set ch [open $index w]
    try {
        puts -nonewline $ch [join $indexLines \n][expr {[llength $indexLines] ? "\n" : ""}]
    } finally {
        close $ch
    }
    return $names
}
