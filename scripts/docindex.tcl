# Writes the index of the reference (docs/README.md) from the pages in
# docs/reference: every page, and every command and function with a link to
# its entry.  Usage: tclsh scripts/docindex.tcl ?output?  (default: stdout)
set top [file dirname [file dirname [file normalize [info script]]]]

# GitHub's anchor of a heading: lower case, punctuation dropped, blanks to "-".
proc anchor {heading} {
    set text [string tolower [string trim $heading]]
    regsub -all {[^[:alnum:] _-]} $text {} text
    string map {" " -} $text
}

set pages {}
foreach file [lsort [glob -directory [file join $top docs reference] *.md]] {
    set f [open $file]
    fconfigure $f -encoding utf-8
    set title [file rootname [file tail $file]]
    set names {}
    set inCode 0
    foreach line [split [read $f] \n] {
        if {[string match "```*" $line]} {set inCode [expr {!$inCode}]; continue}
        if {$inCode} continue
        if {[regexp {^# (.*)} $line -> t] && $names eq {}} {set title [string trim $t]}
        if {[regexp {^## (.*)} $line -> heading]} {
            foreach name [regexp -all -inline {`[^`]+`} $heading] {
                lappend names [string trim $name `] [anchor $heading]
            }
        }
    }
    close $f
    lappend pages [file tail $file] $title $names
}

set out "# Reference index\n\n"
append out "Every page of the reference, then every command and exported function\n"
append out "in alphabetical order with a link to its entry. In the shell, `help NAME`\n"
append out "prints the same entry. Written by `scripts/docindex.tcl`; `tests/tcl/docs.test`\n"
append out "fails when it is out of date.\n\n"
append out "## Pages\n\n"
foreach {file title names} $pages {
    append out "- \[$title\](reference/$file)\n"
}
append out "- \[Platform choices on Linux\](platform.md)\n"
append out "\n## Commands and functions\n\n"
set all {}
foreach {file title names} $pages {
    foreach {name a} $names {
        lappend all [list $name $file $a]
    }
}
foreach entry [lsort -dictionary -index 0 $all] {
    lassign $entry name file a
    append out "- \[`$name`\](reference/$file#$a)\n"
}
if {[llength $argv]} {
    set f [open [lindex $argv 0] w]
    fconfigure $f -encoding utf-8
    puts -nonewline $f $out
    close $f
} else {
    puts -nonewline $out
}
