# A short tour of keyed lists: a small parts catalogue built, queried,
# changed and printed.  Run it with the Orx shell (or the test host).

proc show {title value} {
    puts [format "%-34s %s" $title $value]
}

keylset part(R1) type resistor value 10k package.name 0603 package.pins 2
keylset part(C7) type capacitor value 100n package.name 0402 package.pins 2
keylset part(U3) type opamp value TL072 package.name SOIC-8 package.pins 8

puts "Parts catalogue"
puts "---------------"
foreach ref [lsort [array names part]] {
    puts [format "  %-4s %-10s %-7s %s, %s pins" $ref [keylget part($ref) type] \
        [keylget part($ref) value] [keylget part($ref) package.name] \
        [keylget part($ref) package.pins]]
}
puts ""

show "keys of R1:" [keylkeys part(R1)]
show "keys of R1's package:" [keylkeys part(R1) package]
show "R1 as text:" $part(R1)

# Values are values: a copy does not see later changes.
set original $part(R1)
keylset part(R1) value 4k7 package.name 0805
show "R1 after the change:" [keylget part(R1) value]
show "the copy taken before:" [keylget original value]

# Missing keys: an error, or a flag with a result variable.
show "tolerance given for R1?" [keylget part(R1) tolerance tol]
show "error for a missing key:" [catch {keylget part(R1) tolerance} msg]:$msg

# Deleting the last key of a nested list removes the nested list too.
keyldel part(U3) package.name package.pins
show "U3 without its package:" $part(U3)

# The generic twins treat dots as part of the key.
gkeylset netlist top.vdd {U3 R1} top.gnd {U3 C7}
show "nets (generic keys):" [gkeylkeys netlist]
show "on top.vdd:" [gkeylget netlist top.vdd]
