// Fuzzes lgets's list parser: arbitrary bytes are read list by list from a
// file until end of file or the first error.  Each list read from text
// without backslashes must equal Tcl's own reading of that text, and the
// count must be the text's length minus one.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_script.h"
#include "orx_lgets.h"

namespace {

const char kCheck[] = R"(
proc lgetsCheck {path} {
    set ch [open $path]
    fconfigure $ch -translation lf -encoding iso8859-1
    set data [read $ch]
    seek $ch 0
    while {![eof $ch]} {
        set start [tell $ch]
        if {[catch {lgets $ch v} n]} break
        set text [string range $data $start [tell $ch]-1]
        if {$n < 0 || [string first \\ $text] >= 0} continue
        if {$n != [string length $text] - 1} {
            close $ch
            error "FUZZ count $n for [string length $text] characters"
        }
        if {[catch {list {*}$text} tclList] || $tclList ne [list {*}$v]} {
            close $ch
            error "FUZZ list differs from Tcl's"
        }
    }
    close $ch
}
)";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Tcl_Interp *interp = FuzzInterp(OrxXLgetsInit, kCheck);
    std::string path = FuzzFile("lgets_fuzz", data, size);
    if (path.empty()) {
        return 0;
    }
    Tcl_Obj *command = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(nullptr, command, Tcl_NewStringObj("lgetsCheck", -1));
    Tcl_ListObjAppendElement(nullptr, command, Tcl_NewStringObj(path.c_str(), -1));
    FuzzCheck(interp, command, "lgets");
    return 0;
}
