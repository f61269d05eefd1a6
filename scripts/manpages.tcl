# Writes the manual pages from the reference: orxsh(1) from shell.md and
# installation.md, and one page in section 3orx (man3/<name>.3orx, as Debian
# files Tcl's own commands under 3tcl) for every Tcl command with an entry
# ("## `name`") in docs/reference/*.md.
# Usage: tclsh manpages.tcl referencedir outdir version
lassign $argv refdir outdir version
if {$outdir eq ""} {
    puts stderr "usage: manpages.tcl referencedir outdir version"
    exit 2
}

proc readPage {file} {
    set f [open $file]
    fconfigure $f -encoding utf-8
    set lines [split [read $f] \n]
    close $f
    return $lines
}

# A page as a title, its introduction and its sections, each section a list
# {heading names lines}; names are those of an entry, empty for prose.
proc parsePage {file} {
    set title [file rootname [file tail $file]]
    set intro {}
    set sections {}
    set current {}
    set inCode 0
    set seenTitle 0
    foreach line [readPage $file] {
        if {!$inCode && !$seenTitle && [regexp {^# (.*)} $line -> t]} {
            set title [string trim $t]
            set seenTitle 1
            continue
        }
        if {!$inCode && [regexp {^## (.*)} $line -> heading]} {
            if {$current ne ""} {lappend sections $current}
            set current [list $heading [headingNames $heading] {}]
            continue
        }
        if {[string match "```*" $line]} {set inCode [expr {!$inCode}]}
        if {$current eq ""} {
            lappend intro $line
        } else {
            lset current 2 [concat [lindex $current 2] [list $line]]
        }
    }
    if {$current ne ""} {lappend sections $current}
    return [list $title $intro $sections]
}

# The names of an entry heading: backticked words outside parentheses.
proc headingNames {heading} {
    regsub -all {\([^)]*\)} $heading {} outside
    set names {}
    foreach n [regexp -all -inline {`[^`]+`} $outside] {
        lappend names [string trim $n `]
    }
    return $names
}

# Whether an entry documents Tcl commands: its first code block is plain or
# Tcl (not C or C++), and its names are not environment variables.
proc isCommandEntry {names lines} {
    if {$names eq ""} {return 0}
    foreach name $names {
        if {[regexp {^[A-Z0-9_]+$} $name]} {return 0}
    }
    foreach line $lines {
        if {[string match "```*" $line]} {
            return [expr {[string trim $line] in {``` ```tcl}}]
        }
    }
    return 1
}

# ---- markdown to roff ------------------------------------------------------

proc roffEscape {text} {
    string map {\\ \\e} $text
}

# Leading dots and quotes would be taken for requests.
proc roffLine {text} {
    if {[string match {[.']*} $text]} {
        return "\\&$text"
    }
    return $text
}

proc inline {text} {
    set out ""
    # Code spans first: nothing inside them is markup.
    while {[regexp -indices {`([^`]+)`} $text whole inner]} {
        set before [string range $text 0 [expr {[lindex $whole 0] - 1}]]
        set code [string range $text {*}$inner]
        append out [plainInline $before] "\\fB" [string map {- \\-} [roffEscape $code]] "\\fR"
        set text [string range $text [expr {[lindex $whole 1] + 1}] end]
    }
    append out [plainInline $text]
}

proc plainInline {text} {
    set text [roffEscape $text]
    regsub -all {\[([^\]]+)\]\([^)]+\)} $text {\1} text
    regsub -all {\*\*([^*]+)\*\*} $text {\\fB\1\\fR} text
    regsub -all {(^|[\s(])\*([^*\s]([^*]*[^*\s])?)\*} $text {\1\\fI\2\\fR} text
    return $text
}

proc tableCells {line} {
    set line [string trim $line]
    set line [string range $line 1 end-1]
    set cells {}
    foreach c [split [string map {\\| \x01} $line] |] {
        lappend cells [string map {\x01 |} [string trim $c]]
    }
    return $cells
}

# Body text: paragraphs, code blocks, lists, tables and subheadings.
proc body {lines} {
    set out {}
    set para {}
    set inCode 0
    set header {}
    set inTable 0
    set flush {
        if {[llength $para]} {
            lappend out .PP {*}[lmap l $para {roffLine [inline $l]}]
            set para {}
        }
    }
    foreach line $lines {
        if {$inCode} {
            if {[string match "```*" $line]} {
                lappend out .fi .RE
                set inCode 0
            } else {
                lappend out [roffLine [string map {- \\-} [roffEscape $line]]]
            }
            continue
        }
        if {[string match "```*" $line]} {
            eval $flush
            lappend out .PP ".RS 4" .nf
            set inCode 1
            continue
        }
        if {[string match "|*" [string trim $line]]} {
            eval $flush
            set cells [tableCells $line]
            if {!$inTable} {
                set header $cells
                set inTable 1
                lappend out .PP [roffLine [join [lmap c $cells {inline $c}] " \\(em "]]
                continue
            }
            if {[regexp {^[-:| ]+$} [string trim $line]]} continue
            lappend out .TP [roffLine [inline [lindex $cells 0]]]
            set rest {}
            foreach h [lrange $header 1 end] c [lrange $cells 1 end] {
                if {[llength $header] > 2} {
                    lappend rest "[inline $h]: [inline $c]"
                } else {
                    lappend rest [inline $c]
                }
            }
            lappend out [roffLine [join $rest "; "]]
            continue
        }
        set inTable 0
        if {[string trim $line] eq ""} {
            eval $flush
            continue
        }
        if {[regexp {^#+ (.*)} $line -> heading]} {
            eval $flush
            lappend out ".SS \"[string map {\" '} [inline $heading]]\""
            continue
        }
        if {[regexp {^\s*[-*] (.*)} $line -> item]} {
            eval $flush
            lappend out {.IP \(bu 2}
            set para [list $item]
            set out [concat $out [lmap l $para {roffLine [inline $l]}]]
            set para {}
            continue
        }
        if {[regexp {^\s*[0-9]+\. (.*)} $line -> item]} {
            eval $flush
            lappend out {.IP \(bu 2} [roffLine [inline $item]]
            continue
        }
        lappend para $line
    }
    eval $flush
    if {$inCode} {lappend out .fi .RE}
    return $out
}

# The synopsis (first code block of an entry, when nothing precedes it) and
# the remaining lines.
proc splitSynopsis {lines} {
    set i 0
    while {$i < [llength $lines] && [string trim [lindex $lines $i]] eq ""} {incr i}
    if {![string match "```*" [lindex $lines $i]]} {
        return [list {} $lines]
    }
    set synopsis {}
    for {incr i} {$i < [llength $lines] && ![string match "```*" [lindex $lines $i]]} {incr i} {
        lappend synopsis [lindex $lines $i]
    }
    return [list $synopsis [lrange $lines [expr {$i + 1}] end]]
}

# The first sentence of an entry's text, without markup, for NAME.
proc summary {lines} {
    set text ""
    set inCode 0
    foreach line $lines {
        if {[string match "```*" $line]} {
            if {$text ne ""} break
            set inCode [expr {!$inCode}]
            continue
        }
        if {$inCode || [string match "|*" $line]} continue
        if {[string trim $line] eq ""} {
            if {$text ne ""} break
            continue
        }
        append text " " [string trim $line]
    }
    regsub -all {`([^`]*)`} $text {\1} text
    regsub -all {\[([^\]]+)\]\([^)]+\)} $text {\1} text
    regsub -all {\*} $text {} text
    set text [string trim $text]
    if {[regexp {^(.*?[.:;])(\s|$)} $text -> first]} {set text $first}
    set text [string trimright $text ".:;"]
    return [string map {\\ \\e} $text]
}

proc writeFile {path lines} {
    file mkdir [file dirname $path]
    set f [open $path w]
    fconfigure $f -encoding utf-8 -translation lf
    puts $f [join $lines \n]
    close $f
}

proc header {name section manual} {
    global version
    list ".TH \"[string toupper $name]\" $section \"\" \"Orx $version\" \"$manual\""
}

# ---- the pages ---------------------------------------------------------------

set commandPages {}  ;# name -> {names synopsis body family-title family-lines file}
set families {}      ;# file -> {command names}
foreach file [lsort [glob -directory $refdir *.md]] {
    lassign [parsePage $file] title intro sections
    set prose $intro
    set entries {}
    foreach section $sections {
        lassign $section heading names lines
        if {[isCommandEntry $names $lines]} {
            lappend entries $names $lines
        } elseif {[lsearch -regexp $lines {^```(c|cpp)$}] < 0} {
            # Prose about the family goes with each of its commands.
            lappend prose "" "### $heading" {*}$lines
        }
    }
    foreach {names lines} $entries {
        foreach name $names {
            dict set commandPages $name [list $names $lines $title $prose]
            dict lappend families $file $name
        }
    }
}

set count 0
dict for {name page} $commandPages {
    lassign $page names lines title prose
    lassign [splitSynopsis $lines] synopsis rest
    set out [header $name 3orx "Orx commands"]
    lappend out .SH NAME "[join $names {, }] \\- [summary $rest]" .SH SYNOPSIS
    if {[llength $synopsis]} {
        lappend out .nf {*}[lmap l $synopsis {roffLine [string map {- \\-} [roffEscape $l]]}] .fi
    } else {
        lappend out "\\fB$name\\fR ..."
    }
    lappend out .SH DESCRIPTION {*}[body $rest]
    if {[string trim [join $prose ""]] ne ""} {
        lappend out ".SH \"[string map {\" ' ` {}} [string toupper $title]]\"" {*}[body $prose]
    }
    set related {}
    dict for {file members} $families {
        if {$name in $members} {
            foreach m $members {
                if {$m ni $names && $m ni $related} {lappend related $m}
            }
        }
    }
    lappend out .SH "SEE ALSO"
    lappend out [join [concat [lmap m $related {string cat "\\fB$m\\fR(3orx)"}] {\\fBorxsh\\fR(1)}] ", "]
    writeFile [file join $outdir man3 $name.3orx] $out
    incr count
}

# orxsh(1): the shell's page and where its installation lies.
lassign [parsePage [file join $refdir shell.md]] title intro sections
set usage {}
foreach section $sections {
    if {[string match "orxsh usage*" [lindex $section 0]]} {set usage [lindex $section 2]}
}
lassign [splitSynopsis $usage] synopsis rest
set out [header orxsh 1 "Orx manual"]
lappend out .SH NAME "orxsh \\- the Orx shell" .SH SYNOPSIS .nf
lappend out {*}[lmap l $synopsis {roffLine [string map {- \\-} [roffEscape $l]]}] .fi
lappend out .SH DESCRIPTION {*}[body $intro] {*}[body $rest]
lassign [parsePage [file join $refdir installation.md]] ititle iintro isections
set ilines $iintro
foreach section $isections {
    lappend ilines "" "### [lindex $section 0]" {*}[lindex $section 2]
}
lappend out .SH "INSTALLATION" {*}[body $ilines]
lappend out .SH "SEE ALSO"
lappend out "\\fBhelp\\fR(3orx), \\fBcommandloop\\fR(3orx); the reference in the installation's doc/README.md"
writeFile [file join $outdir man1 orxsh.1] $out
puts "[incr count] manual pages in $outdir"
