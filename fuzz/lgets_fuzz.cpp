// Fuzzes lgets's list parser: arbitrary bytes are read list by list from a
// file until end of file or the first error.  Each list read from text
// without backslashes must equal Tcl's own reading of that text, and the
// count must be the text's length minus one.
#include <tcl.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

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

Tcl_Interp *TheInterp()
{
    static Tcl_Interp *interp = [] {
        Tcl_FindExecutable(nullptr);
        Tcl_Interp *i = Tcl_CreateInterp();
        OrxXLgetsInit(i);
        if (Tcl_Eval(i, kCheck) != TCL_OK) {
            std::abort();
        }
        return i;
    }();
    return interp;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Tcl_Interp *interp = TheInterp();
    static const std::string path = "/tmp/lgets_fuzz_" + std::to_string(getpid()) + ".txt";
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    Tcl_Obj *script = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(nullptr, script, Tcl_NewStringObj("lgetsCheck", -1));
    Tcl_ListObjAppendElement(nullptr, script, Tcl_NewStringObj(path.c_str(), -1));
    Tcl_IncrRefCount(script);
    if (Tcl_EvalObjEx(interp, script, 0) != TCL_OK) {
        std::fprintf(stderr, "lgets fuzz: %s\n", Tcl_GetStringResult(interp));
        std::abort();
    }
    Tcl_DecrRefCount(script);
    Tcl_ResetResult(interp);
    return 0;
}
