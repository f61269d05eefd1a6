# Shared set-up for the tcltest files: loads the inspection helpers.
package require tcltest 2
namespace import -force ::tcltest::*
if {[info commands testobj] eq ""} {
    load $::env(ORX_TESTLIB) Orxtest
}
