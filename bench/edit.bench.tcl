# The line editor: start-up to the first prompt on a terminal with editing,
# without it (ORX_NO_EDIT) and of a stock tclsh8.6; and the answer to Tab with
# 5000 procedures and 10000 auto_index names against the stock way of listing
# such candidates (info commands and array names in a procedure).
set editBench(orxsh) [file join $env(ORX_BUILD_DIR) install bin orxsh]
set editBench(tclsh) [auto_execok tclsh8.6]
if {[auto_execok expect] eq "" || $editBench(tclsh) eq "" || ![file executable $editBench(orxsh)]} {
    puts "edit: expect, tclsh8.6 or orxsh missing, skipped"
    return
}
set editBench(home) [file join [pwd] bench-home]
file mkdir $editBench(home)
set saveHome $env(HOME)
set env(HOME) $editBench(home)
set out [exec expect [file join [file dirname [info script]] edit.exp] \
             $editBench(orxsh) $editBench(tclsh) 25]
set env(HOME) $saveHome
array set t [concat {*}[split $out \n]]

puts [format "%-48s %10.3f ms %10.3f ms %7.2f" "startup to prompt: editing vs ORX_NO_EDIT" \
          [expr {$t(startup-edit) / 1000.0}] [expr {$t(startup-plain) / 1000.0}] \
          [expr {double($t(startup-edit)) / $t(startup-plain)}]]
puts [format "%-48s %10.3f ms %10.3f ms %7.2f" "startup to prompt: orxsh vs tclsh8.6" \
          [expr {$t(startup-edit) / 1000.0}] [expr {$t(startup-tclsh) / 1000.0}] \
          [expr {double($t(startup-edit)) / $t(startup-tclsh)}]]
puts [format "%-48s %10.3f ms" "  editing adds (median difference)" \
          [expr {($t(startup-edit) - $t(startup-plain)) / 1000.0}]]

# The stock way of finding the same candidates, in a procedure.
proc editBenchStock {} {
    for {set i 0} {$i < 5000} {incr i} {proc ::benchProc$i {} {}}
    for {set i 0} {$i < 10000} {incr i} {set ::auto_index(autoName$i) x}
    proc ::zzUniqueTarget {} {}
    set us [lindex [time {
        concat [info commands zzUniq*] [array names ::auto_index zzUniq*]
    } 30] 0]
    for {set i 0} {$i < 5000} {incr i} {rename ::benchProc$i {}}
    rename ::zzUniqueTarget {}
    array unset ::auto_index autoName*
    return $us
}
set stockUs [editBenchStock]
puts [format "%-48s %10.3f ms %10.3f ms %7.2f" "Tab to completed word (terminal round trip)" \
          [expr {$t(complete) / 1000.0}] [expr {$stockUs / 1000.0}] \
          [expr {$t(complete) / $stockUs}]]
