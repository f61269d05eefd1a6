// Math commands: max and min pick the largest or smallest of their numeric
// arguments and answer with that argument exactly as written.  Tcl 8.6 has
// max() and min() expression functions of its own, so none are added here.
#include "orx_math.h"

#include <cfloat>

#include "orx_util.h"

namespace {

// A number as read for comparison: integers that fit 64 bits compare exactly
// with each other (as doubles, 2^53 + 1 would tie with 2^53), everything
// else as a double.
struct Number {
    bool isInteger;
    Tcl_WideInt wide;
    double real;
};

// Not through Tcl_GetIntFromObj first: it takes 3000000000 as the int
// -1294967296, and max 1 3000000000 answered 1.
int ReadNumber(Tcl_Interp *interp, Tcl_Obj *obj, Number *number)
{
    Tcl_WideInt wide;
    if (Tcl_GetWideIntFromObj(nullptr, obj, &wide) == TCL_OK) {
        *number = {true, wide, static_cast<double>(wide)};
        return TCL_OK;
    }
    double real;
    if (Tcl_GetDoubleFromObj(interp, obj, &real) != TCL_OK) {
        return TCL_ERROR;
    }
    *number = {false, 0, real};
    return TCL_OK;
}

// Whether a is strictly greater than b; NaN is never greater nor smaller.
bool Greater(const Number &a, const Number &b)
{
    if (a.isInteger && b.isInteger) {
        return a.wide > b.wide;
    }
    return a.real > b.real;
}

// max num1 ?..numN? / min num1 ?..numN?
template <bool isMax>
int MaxMinObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 2) {
        return OrxX_WrongArgs(interp, objv[0], "num1 ?..numN?");
    }
    Number best = {false, 0, isMax ? -DBL_MAX : DBL_MAX};
    int chosen = 1;
    for (int i = 1; i < objc; ++i) {
        Number value;
        if (ReadNumber(interp, objv[i], &value) != TCL_OK) {
            return TCL_ERROR;
        }
        if (isMax ? Greater(value, best) : Greater(best, value)) {
            best = value;
            chosen = i;
        }
    }
    Tcl_SetObjResult(interp, objv[chosen]);
    return TCL_OK;
}

} // namespace

int OrxXMathInit(Tcl_Interp *interp)
{
    Tcl_CreateObjCommand(interp, "max", MaxMinObjCmd<true>, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "min", MaxMinObjCmd<false>, nullptr, nullptr);
    return TCL_OK;
}
