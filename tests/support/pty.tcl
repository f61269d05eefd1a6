# Shared by the expect drivers (*.exp), which print OK or what went wrong (exit 1).
set timeout 10
log_user [info exists env(EDIT_LOG)]
proc fail {msg} {
    global expect_out
    puts "FAIL: $msg"
    if {[info exists expect_out(buffer)]} {
        puts "seen: [string map {\r \\r \n \\n \033 \\e \007 \\a} $expect_out(buffer)]"
    }
    exit 1
}
# Waits for pattern; with expected, the first group (CRs dropped: a terminal makes
# Tcl's CRLF CRCRLF) must equal it.
proc want {pattern what {expected -}} {
    global expect_out
    expect {
        -re $pattern {}
        timeout { fail "timeout waiting for $what" }
        eof { fail "end of output waiting for $what" }
    }
    if {$expected ne "-" && [string map {\r {}} $expect_out(1,string)] ne $expected} {
        fail "$what: expected \"$expected\""
    }
}
# Something that must not show before pattern does.
proc wantNot {bad pattern what} {
    expect {
        -re $bad { fail "$what: unwanted output" }
        -re $pattern {}
        timeout { fail "timeout waiting for $what" }
        eof { fail "end of output waiting for $what" }
    }
}
# Keys reach the editor a little after its prompt, as a person's would.
proc type {text} {after 60; send -- $text}
proc step {text args} {type $text; want {*}$args}
proc start {} {
    global shell spawn_id spawn_out
    spawn -noecho $shell
    fconfigure $spawn_id -encoding utf-8
    want {orx: $} "the first prompt"
}
# Sends keys (end of input by default); the shell must end with status 0.
proc finish {{keys "\004"}} {
    if {$keys ne ""} {type $keys}
    expect {
        eof {}
        timeout { fail "the shell did not end" }
    }
    lassign [wait] pid spawnId osError status
    if {$osError != 0 || $status != 0} {fail "exit status $status (os error $osError)"}
}
