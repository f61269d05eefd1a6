// Math commands: max and min pick the largest or smallest of their numeric
// arguments and answer with that argument exactly as written.  Tcl 8.6 has
// max() and min() expression functions of its own, so none are added here.
#include "orx_math.h"

#include <tclTomMath.h>

#include <cmath>

#include "orx_util.h"
#include "base/internal.h"

namespace {

// A number as read for comparison: integers within 64 bits, big integers
// beyond them (compared through Tcl's own big-number arithmetic), and
// doubles.  Every pair compares exactly, as expr's comparisons do: as
// doubles, 2^53 + 1 would tie with 2^53 and 2^63 - 1 with 2^63.
struct Number {
    enum Kind { Wide, Big, Real } kind;
    Tcl_WideInt wide;  // Wide; for Big the 64-bit end on its side
    double real;       // Real
    Tcl_Obj *obj;
};

// Not through Tcl_GetIntFromObj or Tcl_GetWideIntFromObj: they take
// 3000000000 as the int -1294967296 and 2^63 as the wide -2^63.
int ReadNumber(Tcl_Interp *interp, Tcl_Obj *obj, Number *number)
{
    Tcl_WideInt wide;
    int beyond;
    if (orx::GetWideInt(nullptr, obj, &wide, &beyond) == TCL_OK) {
        *number = {beyond == 0 ? Number::Wide : Number::Big, wide, 0.0, obj};
        return TCL_OK;
    }
    double real;
    if (Tcl_GetDoubleFromObj(interp, obj, &real) != TCL_OK) {
        return TCL_ERROR;
    }
    *number = {Number::Real, 0, real, obj};
    return TCL_OK;
}

// -1, 0 or 1 from a pair of comparisons.
int Sign(bool less, bool greater)
{
    return less ? -1 : greater ? 1 : 0;
}

// -1, 0 or 1 as w is below, equal to or above d (0 as well for NaN, which
// then never wins).
int CompareWideReal(Tcl_WideInt w, double d)
{
    if (d != d) {
        return 0;
    }
    if (d >= 9223372036854775808.0) {
        return -1;
    }
    if (d < -9223372036854775808.0) {
        return 1;
    }
    double whole = std::trunc(d);  // fits 64 bits now
    Tcl_WideInt part = static_cast<Tcl_WideInt>(whole);
    if (w != part) {
        return Sign(w < part, w > part);
    }
    return Sign(d > whole, d < whole);
}

// A big integer against a double: a finite double beyond 2^63 is an integer
// itself and compares as one.
int CompareBigReal(const Number &big, double d)
{
    if (d != d) {
        return 0;
    }
    bool positive = big.wide > 0;
    if (std::isinf(d) || std::fabs(d) < 9223372036854775808.0) {
        return std::isinf(d) ? (d > 0 ? -1 : 1) : (positive ? 1 : -1);
    }
    mp_int a;
    mp_int b;
    Tcl_GetBignumFromObj(nullptr, big.obj, &a);
    Tcl_InitBignumFromDouble(nullptr, d, &b);
    int order = mp_cmp(&a, &b);
    mp_clear(&a);
    mp_clear(&b);
    return Sign(order == MP_LT, order == MP_GT);
}

// Orders two numbers of any mix of kinds (wide, big, double) exactly.
int Compare(const Number &a, const Number &b)
{
    switch (a.kind * 3 + b.kind) {
    case Number::Wide * 3 + Number::Wide:
        return Sign(a.wide < b.wide, a.wide > b.wide);
    case Number::Real * 3 + Number::Real:
        return Sign(a.real < b.real, a.real > b.real);
    case Number::Wide * 3 + Number::Real:
        return CompareWideReal(a.wide, b.real);
    case Number::Real * 3 + Number::Wide:
        return -CompareWideReal(b.wide, a.real);
    case Number::Big * 3 + Number::Real:
        return CompareBigReal(a, b.real);
    case Number::Real * 3 + Number::Big:
        return -CompareBigReal(b, a.real);
    case Number::Big * 3 + Number::Wide:
        return a.wide > 0 ? 1 : -1;
    case Number::Wide * 3 + Number::Big:
        return b.wide > 0 ? -1 : 1;
    default: {
        mp_int x;
        mp_int y;
        Tcl_GetBignumFromObj(nullptr, a.obj, &x);
        Tcl_GetBignumFromObj(nullptr, b.obj, &y);
        int order = mp_cmp(&x, &y);
        mp_clear(&x);
        mp_clear(&y);
        return Sign(order == MP_LT, order == MP_GT);
    }
    }
}

// max num1 ?..numN? / min num1 ?..numN?
template <bool isMax>
int MaxMinObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 2) {
        return OrxX_WrongArgs(interp, objv[0], "num1 ?..numN?");
    }
    // From the first argument: a start at the most negative double would
    // beat -Inf.
    Number best;
    if (ReadNumber(interp, objv[1], &best) != TCL_OK) {
        return TCL_ERROR;
    }
    int chosen = 1;
    for (int i = 2; i < objc; ++i) {
        Number value;
        if (ReadNumber(interp, objv[i], &value) != TCL_OK) {
            return TCL_ERROR;
        }
        if (Compare(value, best) == (isMax ? 1 : -1)) {
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
