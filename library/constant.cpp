// The math constants every shell has, defined at start-up through the script
// library's Orx:MathInit and constant (lib/orx/src/constant.tcl).
#include <cfloat>
#include <cstdio>

#include "library/library.h"
#include "orx_tclextra.h"

namespace {

// Orx:MathInit and what it calls come from the script libraries, whose
// indexes are all the auto-loader needs for them.  Loading only those spares
// start-up Tcl's tclIndex files; the indexes are forgotten again afterwards,
// so the first unknown command reads them all, in their usual precedence, as
// it does in a plain tclsh.  False when the auto-loader is not the one
// lib/orx/autoload.tcl set up fresh: everything then goes the usual way.
bool LoadLibraryIndexesOnly(Tcl_Interp *interp)
{
    const char *check =
        "expr {![llength [info commands ::Orx:MathInit]]"
        " && [llength [info procs ::OrxPackage::LoadLibraryIndexes]]"
        " && ![info exists ::tcl::auto_oldpath] && ![info exists ::OrxPackage::indexedPath]"
        " && [array exists ::auto_index] && ![array size ::auto_index]}";
    int fresh = 0;
    if (Tcl_EvalEx(interp, check, -1, TCL_EVAL_GLOBAL) != TCL_OK ||
        Tcl_GetBooleanFromObj(nullptr, Tcl_GetObjResult(interp), &fresh) != TCL_OK || !fresh) {
        Tcl_ResetResult(interp);
        return false;
    }
    if (Tcl_EvalEx(interp, "::OrxPackage::LoadLibraryIndexes", -1, TCL_EVAL_GLOBAL) != TCL_OK) {
        Tcl_ResetResult(interp);
        return false;
    }
    // What auto_load would do for the two commands start-up calls, without
    // compiling unknown and auto_load for it.  A failure is left for the
    // calls themselves to meet and report.
    Tcl_EvalEx(interp,
               "apply {{} {foreach name {Orx:MathInit constant} {"
               " if {![llength [info commands ::$name]] && [info exists ::auto_index($name)]} {"
               " namespace eval :: $::auto_index($name)}}}}",
               -1, TCL_EVAL_GLOBAL);
    Tcl_ResetResult(interp);
    return true;
}

// Puts the auto-loader back as LoadLibraryIndexesOnly found it, keeping the
// interpreter's result and error state.
void ForgetIndexes(Tcl_Interp *interp)
{
    Tcl_InterpState state = Tcl_SaveInterpState(interp, TCL_OK);
    Tcl_EvalEx(interp,
               "array unset ::auto_index;"
               " unset -nocomplain ::OrxPackage::indexedPath ::tcl::auto_oldpath",
               -1, TCL_EVAL_GLOBAL);
    Tcl_RestoreInterpState(interp, state);
}

int DefineMathConstants(Tcl_Interp *interp);

} // namespace

int ConstantInit(Tcl_Interp *interp)
{
    bool indexesOnly = LoadLibraryIndexesOnly(interp);
    int code = DefineMathConstants(interp);
    if (indexesOnly) {
        ForgetIndexes(interp);
    }
    return code;
}

namespace {

int DefineMathConstants(Tcl_Interp *interp)
{
    int code = Tcl_EvalEx(interp, "Orx:MathInit", -1, TCL_EVAL_GLOBAL);
    if (code != TCL_OK) {
        return code;
    }
    char integer[TCL_INTEGER_SPACE];
    char number[TCL_DOUBLE_SPACE];
    char script[128];
    const struct {
        const char *name;
        bool isInteger;
        long integer;
        double real;
    } constants[] = {
        {"long_max", true, 2147483647L, 0},
        {"long_min", true, -2147483647L - 1, 0},
        {"dbl_max", false, 0, DBL_MAX},
        {"flt_max", false, 0, FLT_MAX},
        {"flt_min", false, 0, FLT_MIN},
    };
    for (const auto &c : constants) {
        const char *value = integer;
        if (c.isInteger) {
            Orx_PrintInteger(c.integer, integer);
        } else {
            Tcl_PrintDouble(interp, c.real, number);
            value = number;
        }
        std::snprintf(script, sizeof script, "constant math %s %s", c.name, value);
        code = Tcl_EvalEx(interp, script, -1, TCL_EVAL_GLOBAL);
        if (code != TCL_OK) {
            return code;
        }
    }
    return code;
}

} // namespace
