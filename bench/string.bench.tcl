# Character-string commands against Tcl 8.6's string commands, which Tcl
# compiles to bytecode inside procedures (string index/range/length), and
# against string map and string repeat, which are command calls.

set benchText(ASCII) [string repeat abcdefghij 10]
set benchText(multi-byte) [string repeat "aé中bc" 20]

foreach kind {ASCII multi-byte} {
    set setup [list set s $benchText($kind)]
    bench::compare "cindex 50, $kind" $setup {cindex $s 50} {string index $s 50}
    bench::compare "cindex end-1, $kind" $setup {cindex $s end-1} {string index $s end-1}
    bench::compare "crange 10 end-10, $kind" $setup \
        {crange $s 10 end-10} {string range $s 10 end-10}
    bench::compare "csubstr 10 20, $kind" $setup \
        {csubstr $s 10 20} {string range $s 10 29}
    bench::compare "clength, $kind" $setup {clength $s} {string length $s} 20000 2.0
}

# About 1 MB of text.
set benchSetup1mb {set t [string repeat "The quick brown fox jumps over the lazy dog.\n" 23832]}
set benchMap {}
foreach lower {a b c d e f g h i j k l m n o p q r s t u v w x y z} {
    lappend benchMap $lower [string toupper $lower]
}
bench::compare "translit a-z A-Z, 1 MB" $benchSetup1mb \
    {translit a-z A-Z $t} "string map [list $benchMap] \$t" 20
bench::compare "translit 3 letters, 1 MB" $benchSetup1mb \
    {translit abc xyz $t} {string map {a x b y c z} $t} 20

bench::compare "replicate 1000" {set s abc} {replicate $s 1000} {string repeat $s 1000}
bench::compare "cequal" {set a abcdef; set b abcdeg} {cequal $a $b} {string equal $a $b}

# The floor for any command that is called rather than compiled: Tcl's own
# string commands invoked through a variable, against the compiled form.
bench::compare "floor: Tcl's string length, invoked" \
    {set s abcdefghij; set c ::tcl::string::length} {$c $s} {string length $s}
bench::compare "floor: Tcl's string index, invoked" \
    {set s abcdefghij; set c ::tcl::string::index} {$c $s 5} {string index $s 5}
