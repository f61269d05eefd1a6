// lumbrine: standard component values.  A start-up package of the Orx shell
// ("orx:load lumbrine -exact" loads lumbrine.so): the IEC E series of
// preferred values and the colour bands of through-hole resistors.
#include <tcl.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#define LUMBRINE_EXPORT extern "C" DLLEXPORT

LUMBRINE_EXPORT int lumbrine_Init(Tcl_Interp *interp);
LUMBRINE_EXPORT int lumbrine_Term(Tcl_Interp *interp);

namespace {

// E3 to E24 are hand-picked tables; E48 and E96 follow the formula exactly.
const double kE3[] = {1.0, 2.2, 4.7};
const double kE6[] = {1.0, 1.5, 2.2, 3.3, 4.7, 6.8};
const double kE12[] = {1.0, 1.2, 1.5, 1.8, 2.2, 2.7, 3.3, 3.9, 4.7, 5.6, 6.8, 8.2};
const double kE24[] = {1.0, 1.1, 1.2, 1.3, 1.5, 1.6, 1.8, 2.0, 2.2, 2.4, 2.7, 3.0,
                       3.3, 3.6, 3.9, 4.3, 4.7, 5.1, 5.6, 6.2, 6.8, 7.5, 8.2, 9.1};

const char *const kSeriesNames[] = {"E3", "E6", "E12", "E24", "E48", "E96", nullptr};

// Values of one decade of the series, from 1 up, by index in kSeriesNames.
std::vector<double> SeriesValues(int index)
{
    switch (index) {
    case 0: return {std::begin(kE3), std::end(kE3)};
    case 1: return {std::begin(kE6), std::end(kE6)};
    case 2: return {std::begin(kE12), std::end(kE12)};
    case 3: return {std::begin(kE24), std::end(kE24)};
    default: break;
    }
    int n = index == 4 ? 48 : 96;
    std::vector<double> values;
    for (int i = 0; i < n; ++i) {
        values.push_back(std::round(std::pow(10.0, i / static_cast<double>(n)) * 100.0) / 100.0);
    }
    return values;
}

// A decimal value without binary noise: 4.7 * 1000 is 4700, not 4700.000000000001.
double Tidy(double value)
{
    char buf[32];
    snprintf(buf, sizeof buf, "%.12g", value);
    return std::strtod(buf, nullptr);
}

// lumbrine:eseries series ?value?
int EseriesObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 2 || objc > 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "series ?value?");
        return TCL_ERROR;
    }
    int index;
    if (Tcl_GetIndexFromObj(interp, objv[1], kSeriesNames, "series", TCL_EXACT, &index) != TCL_OK) {
        return TCL_ERROR;
    }
    std::vector<double> values = SeriesValues(index);
    if (objc == 2) {
        Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
        for (double v : values) {
            Tcl_ListObjAppendElement(nullptr, list, Tcl_NewDoubleObj(v));
        }
        Tcl_SetObjResult(interp, list);
        return TCL_OK;
    }
    double value;
    if (Tcl_GetDoubleFromObj(interp, objv[2], &value) != TCL_OK) {
        return TCL_ERROR;
    }
    if (!(value > 0.0) || !std::isfinite(value)) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("expected a positive value but got \"%s\"",
                                               Tcl_GetString(objv[2])));
        return TCL_ERROR;
    }
    double decade = std::pow(10.0, std::floor(std::log10(value)));
    double m = value / decade;
    values.push_back(10.0); // the next decade's first value
    double best = values[0];
    for (double v : values) {
        // Nearest on the logarithmic scale the series is built on.
        if (std::fabs(std::log(m / v)) < std::fabs(std::log(m / best))) {
            best = v;
        }
    }
    Tcl_SetObjResult(interp, Tcl_NewDoubleObj(Tidy(best * decade)));
    return TCL_OK;
}

const char *const kColours[] = {"black", "brown", "red",    "orange", "yellow",
                                "green", "blue",  "violet", "grey",   "white"};

// lumbrine:colors ohms: the digit, digit, multiplier bands.
int ColorsObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "ohms");
        return TCL_ERROR;
    }
    double value;
    if (Tcl_GetDoubleFromObj(interp, objv[1], &value) != TCL_OK) {
        return TCL_ERROR;
    }
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    if (value == 0.0) { // the zero-ohm link has one black band
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj("black", -1));
        Tcl_SetObjResult(interp, list);
        return TCL_OK;
    }
    // Multipliers run from silver (0.01) to white (10^9).
    for (int k = -2; k <= 9 && value > 0.0 && std::isfinite(value); ++k) {
        double scaled = value / std::pow(10.0, k);
        double digits = std::round(scaled);
        if (digits >= 10.0 && digits <= 99.0 && std::fabs(scaled - digits) < 1e-9 * digits) {
            int d = static_cast<int>(digits);
            Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(kColours[d / 10], -1));
            Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(kColours[d % 10], -1));
            const char *mult = k == -2 ? "silver" : k == -1 ? "gold" : kColours[k];
            Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(mult, -1));
            Tcl_SetObjResult(interp, list);
            return TCL_OK;
        }
    }
    Tcl_DecrRefCount(list);
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("value \"%s\" has no two-digit colour code",
                                           Tcl_GetString(objv[1])));
    return TCL_ERROR;
}

struct Command {
    const char *name;
    Tcl_ObjCmdProc *proc;
};

const Command kCommands[] = {{"lumbrine:eseries", EseriesObjCmd}, {"lumbrine:colors", ColorsObjCmd}};

} // namespace

// Load entry point: registers the package's commands in interp.
int lumbrine_Init(Tcl_Interp *interp)
{
    for (const Command &c : kCommands) {
        Tcl_CreateObjCommand(interp, c.name, c.proc, nullptr, nullptr);
    }
    return TCL_OK;
}

// The commands must go before the library is unmapped.
int lumbrine_Term(Tcl_Interp *interp)
{
    for (const Command &c : kCommands) {
        Tcl_DeleteCommand(interp, c.name);
    }
    return TCL_OK;
}
