# max and min against Tcl 8.6's own tcl::mathfunc::max and ::min, called as
# commands the same way.

bench::compare "max of 4 integers" {set a 1; set b 5; set c 3; set d 2} \
    {max $a $b $c $d} {tcl::mathfunc::max $a $b $c $d}
bench::compare "min of 4 mixed numbers" {set a 1.5; set b 5; set c 0x3; set d 2e0} \
    {min $a $b $c $d} {tcl::mathfunc::min $a $b $c $d}
bench::compare "max of 2 wide integers" {set a 9007199254740993; set b 4294967296} \
    {max $a $b} {tcl::mathfunc::max $a $b}
