# decrypt of a 1 MB plain text (its 2 MB encrypted form) against copying the
# encrypted text with string range, the least any reader of it costs.

proc encryptBenchSetup {} {
    upvar 1 e e
    set e [encrypt 4711 [string repeat "proc p {} {return 1}\n" 49933]]
}

set ratio [bench::compare "decrypt 1 MB plain text" encryptBenchSetup \
    {decrypt $e} {string range $e 1 end} 10]
encryptBenchSetup
set plainBytes [expr {21 * 49933}]
set us [lindex [time {decrypt $e} 10] 0]
puts [format "%-48s %10.1f MB/s (plain text), %.1f MB/s (encrypted text)" "decrypt throughput" \
    [expr {$plainBytes / $us}] [expr {[string length $e] / $us}]]
unset e plainBytes us ratio
