// The math constants every shell has, defined at start-up through the script
// library's Orx:MathInit and constant (lib/orx/src/constant.tcl).
#include <cfloat>
#include <cstdio>

#include "library/library.h"
#include "orx_tclextra.h"

int ConstantInit(Tcl_Interp *interp)
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
