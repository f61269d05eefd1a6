# Keyed lists against Tcl 8.6 dicts doing the same unit of work.  Both sides
# keep their value unshared (one variable holds it), so sets change in place.

# Fills the caller's kl and d; both start converted, as after first use.
proc keylBenchSetup {n} {
    upvar 1 kl kl d d
    for {set i 0} {$i < $n} {incr i} {
        keylset kl k$i v$i
        dict set d k$i v$i
    }
    keylget kl k0
    dict get $d k0
}

# The floor: any C command without a bytecode compiler, against dict get.
bench::compare "floor: ::tcl::mathfunc::abs 1 (any C command)" {
    set d [dict create k0 v0]
} {::tcl::mathfunc::abs 1} {dict get $d k0}

foreach n {10 1000} {
    set mid k[expr {$n / 2}]
    bench::compare "keylget, $n keys" [list keylBenchSetup $n] \
        "keylget kl $mid" "dict get \$d $mid"
    bench::compare "keylget with retvar, $n keys" [list keylBenchSetup $n] \
        "keylget kl $mid v" "dict exists \$d $mid; set v \[dict get \$d $mid\]"
    bench::compare "keylset existing key, $n keys" [list keylBenchSetup $n] \
        "keylset kl $mid x" "dict set d $mid x"
    bench::compare "keyldel + re-add, $n keys" [list keylBenchSetup $n] \
        "keyldel kl $mid; keylset kl $mid x" "dict unset d $mid; dict set d $mid x"
    bench::compare "keylkeys, $n keys" [list keylBenchSetup $n] \
        "keylkeys kl" "dict keys \$d" [expr {$n > 100 ? 2000 : 20000}]
}

bench::compare "keylget three-level path" {
    keylset kp a.b.c 1 a.b.d 2 a.e 3 f 4
    dict set dp a b c 1; dict set dp a b d 2; dict set dp a e 3; dict set dp f 4
    keylget kp a.b.c; dict get $dp a b c
} {keylget kp a.b.c} {dict get $dp a b c}
bench::compare "keylset three-level path" {
    keylset kp a.b.c 1 a.b.d 2 a.e 3 f 4
    dict set dp a b c 1; dict set dp a b d 2; dict set dp a e 3; dict set dp f 4
} {keylset kp a.b.c x} {dict set dp a b c x}
bench::compare "parse 100-entry text and get" {
    set text {}
    for {set i 0} {$i < 100} {incr i} {lappend text [list k$i v$i]}
    set dtext [concat {*}$text]
} {set t [string range $text 0 end]; keylget t k50} \
  {set t [string range $dtext 0 end]; dict get $t k50} 2000
bench::compare "parse 1000-entry text and get" {
    set text {}
    for {set i 0} {$i < 1000} {incr i} {lappend text [list k$i v$i]}
    set dtext [concat {*}$text]
} {set t [string range $text 0 end]; keylget t k500} \
  {set t [string range $dtext 0 end]; dict get $t k500} 200 2.0
