# Named constants in groups, for scripts and for the start-up of every shell
# (which defines the group "math").  Built into lib/orx/orx.tlib at build
# time; each "#@package:" section is loaded on the first call of one of its
# procedures.

#@package: Orx:constant constant Orx:ConstantGroup

namespace eval ::Orx::constant {
    # group -> dict of name -> value
    variable groups [dict create]
}

# Orx:ConstantGroup group: make the group exist (nothing when it does).
proc Orx:ConstantGroup {group} {
    variable ::Orx::constant::groups
    if {![dict exists $groups $group]} {
        dict set groups $group [dict create]
    }
    return
}

# constant                      the group names, sorted
# constant group                the constant names of the group, sorted
# constant group name           the value of a constant
# constant group name value     define a constant; defining it again with
#                               another value is an error
proc constant {args} {
    variable ::Orx::constant::groups
    switch -- [llength $args] {
        0 {
            return [lsort [dict keys $groups]]
        }
        1 {
            set group [lindex $args 0]
            if {![dict exists $groups $group]} {
                return -code error -errorcode [list ORX LOOKUP GROUP $group] \
                    "unknown constant group \"$group\""
            }
            return [lsort [dict keys [dict get $groups $group]]]
        }
        2 {
            lassign $args group name
            if {![dict exists $groups $group]} {
                return -code error -errorcode [list ORX LOOKUP GROUP $group] \
                    "unknown constant group \"$group\""
            }
            if {![dict exists $groups $group $name]} {
                return -code error -errorcode [list ORX LOOKUP CONSTANT $name] \
                    "no constant \"$name\" in group \"$group\""
            }
            return [dict get $groups $group $name]
        }
        3 {
            lassign $args group name value
            if {![dict exists $groups $group]} {
                return -code error -errorcode [list ORX LOOKUP GROUP $group] \
                    "unknown constant group \"$group\""
            }
            if {[dict exists $groups $group $name]
                    && [dict get $groups $group $name] ne $value} {
                return -code error -errorcode [list ORX VALUE CONSTANT $name] "constant \"$name\" of group \"$group\" is already defined as \"[dict get $groups $group $name]\""
            }
            dict set groups $group $name $value
            return
        }
        default {
            return -code error -errorcode {TCL WRONGARGS} "wrong # args: should be \"constant ?group? ?name? ?value?\""
        }
    }
}
#@packend:

#@package: Orx:math Orx:MathInit

# Orx:MathInit: prepare the group "math", which the start-up fills with
# long_max, long_min, dbl_max, flt_max and flt_min.
proc Orx:MathInit {} {
    Orx:ConstantGroup math
}
#@packend:
