# Library indexes against Tcl's tclIndex (auto_mkindex) for the same 10,000
# procedures: ours in one library of 1,000 packages, Tcl's in 1,000 files of
# ten procedures each.  Loading the index, and the first call of a procedure
# that is not yet defined (the package or file is evaluated).

namespace eval libbench {
    variable dir [file join [pwd] libindex-bench]
    file delete -force $dir
    file mkdir $dir/ours $dir/stock
    set src ""
    for {set p 0} {$p < 1000} {incr p} {
        set names {}
        set body ""
        for {set i 0} {$i < 10} {incr i} {
            lappend names o${p}_$i
            append body "proc o${p}_$i {a} {\n    return \[expr {\$a + $i}\]\n}\n"
        }
        append src "#@package: pkg$p $names\n$body#@packend\n"
        set f [open $dir/stock/file$p.tcl w]
        puts -nonewline $f [string map {"proc o" "proc s"} $body]
        close $f
    }
    set f [open $dir/src.tcl w]
    puts -nonewline $f $src
    close $f
    OrxPackage:MakeLibrary $dir/ours/bench.tlib $dir/src.tcl
    auto_mkindex $dir/stock *.tcl
}

bench::compare "index load, 10000 procs in 1000 packages" {
    global auto_index
    set dir $::libbench::dir/stock
} {orxx_load_tndxs $::libbench::dir/ours} {source $dir/tclIndex} 10

# Both indexes loaded; each iteration calls one procedure of a package that is
# not loaded and removes the package's ten procedures again.
orxx_load_tndxs $libbench::dir/ours
set dir $libbench::dir/stock
source $dir/tclIndex
unset dir
bench::compare "first call of an auto-loaded procedure" {set k 0} {
    o[set p [expr {[incr k] % 1000}]]_5 1
    foreach i {0 1 2 3 4 5 6 7 8 9} {rename o${p}_$i {}}
} {
    s[set p [expr {[incr k] % 1000}]]_5 1
    foreach i {0 1 2 3 4 5 6 7 8 9} {rename s${p}_$i {}}
} 2000

file delete -force $libbench::dir
namespace delete libbench
