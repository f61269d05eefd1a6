// zub: circuit values in engineering notation.  A start-up package of the Orx
// shell ("orx:load zub" loads libtq_zub.so, libtq_zub.dll on Windows); zub_Init registers the commands,
// zub_Term removes them again before the library is unmapped.
#include <tcl.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#define ZUB_EXPORT extern "C" DLLEXPORT

ZUB_EXPORT int zub_Init(Tcl_Interp *interp);
ZUB_EXPORT int zub_Term(Tcl_Interp *interp);

namespace {

struct Scale {
    const char *suffix; // as zub:eng writes it
    int exponent;
};

// SPICE's scale letters; "Meg" because a lone "m" is milli.
const Scale kScales[] = {{"a", -18}, {"f", -15}, {"p", -12}, {"n", -9}, {"u", -6}, {"m", -3},
                         {"", 0},    {"k", 3},   {"Meg", 6}, {"G", 9},  {"T", 12}};

// Whether the text at p starts with word, ignoring case; word is lower case.
bool LowerMatch(const char *p, const char *end, const char *word)
{
    for (; *word != '\0'; ++p, ++word) {
        if (p == end || std::tolower(static_cast<unsigned char>(*p)) != *word) {
            return false;
        }
    }
    return true;
}

// Parses [sign] digits [. digits] [e [sign] digits] [scale] [unit letters]
// within [text, text+length); surrounding white space is allowed.
bool ParseCircuitValue(const char *text, int length, double *valuePtr)
{
    const char *p = text;
    const char *end = text + length;
    while (p < end && std::isspace(static_cast<unsigned char>(*p))) {
        ++p;
    }
    while (end > p && std::isspace(static_cast<unsigned char>(end[-1]))) {
        --end;
    }
    const char *start = p;
    if (p < end && (*p == '+' || *p == '-')) {
        ++p;
    }
    int digits = 0;
    while (p < end && std::isdigit(static_cast<unsigned char>(*p))) {
        ++p, ++digits;
    }
    if (p < end && *p == '.') {
        ++p;
        while (p < end && std::isdigit(static_cast<unsigned char>(*p))) {
            ++p, ++digits;
        }
    }
    if (digits == 0) {
        return false;
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char *q = p + 1;
        if (q < end && (*q == '+' || *q == '-')) {
            ++q;
        }
        if (q < end && std::isdigit(static_cast<unsigned char>(*q))) {
            while (q < end && std::isdigit(static_cast<unsigned char>(*q))) {
                ++q;
            }
            p = q;
        }
    }
    std::string number(start, p);
    double value = std::strtod(number.c_str(), nullptr);

    double factor = 1.0;
    if (LowerMatch(p, end, "meg")) {
        factor = 1e6, p += 3;
    } else if (LowerMatch(p, end, "mil")) {
        factor = 25.4e-6, p += 3;
    } else if (end - p >= 2 && static_cast<unsigned char>(p[0]) == 0xC2 &&
               static_cast<unsigned char>(p[1]) == 0xB5) {
        factor = 1e-6, p += 2; // micro sign
    } else if (p < end) {
        switch (std::tolower(static_cast<unsigned char>(*p))) {
        case 't': factor = 1e12; break;
        case 'g': factor = 1e9; break;
        case 'k': factor = 1e3; break;
        case 'm': factor = 1e-3; break;
        case 'u': factor = 1e-6; break;
        case 'n': factor = 1e-9; break;
        case 'p': factor = 1e-12; break;
        case 'f': factor = 1e-15; break;
        case 'a': factor = 1e-18; break;
        default: factor = 0.0; break;
        }
        if (factor != 0.0) {
            ++p;
        } else {
            factor = 1.0;
        }
    }
    // The rest is a unit ("F", "Ohm", "Hz"), which carries no value.
    for (; p < end; ++p) {
        if (!std::isalpha(static_cast<unsigned char>(*p))) {
            return false;
        }
    }
    value *= factor;
    if (!std::isfinite(value)) {
        return false;
    }
    *valuePtr = value;
    return true;
}

// As Tcl_GetDoubleFromObj, for values with a scale letter and unit.
int GetCircuitValue(Tcl_Interp *interp, Tcl_Obj *obj, double *valuePtr)
{
    int length;
    const char *text = Tcl_GetStringFromObj(obj, &length);
    if (ParseCircuitValue(text, length, valuePtr)) {
        return TCL_OK;
    }
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("expected a circuit value but got \"%s\"", text));
    return TCL_ERROR;
}

// Mantissa in [1, 1000) with the given significant digits, trailing zeros cut.
std::string FormatMantissa(double m, int digits)
{
    int intDigits = m >= 100.0 ? 3 : m >= 10.0 ? 2 : 1;
    int decimals = digits - intDigits;
    char buf[64];
    if (decimals >= 0) {
        std::snprintf(buf, sizeof buf, "%.*f", decimals, m);
    } else {
        double q = std::pow(10.0, -decimals);
        std::snprintf(buf, sizeof buf, "%.0f", std::round(m / q) * q);
    }
    std::string s(buf);
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') {
            s.pop_back();
        }
        if (s.back() == '.') {
            s.pop_back();
        }
    }
    return s;
}

// Engineering notation: a mantissa from 1 to 999 and the scale letter of its power of 1000.
std::string FormatEng(double value, int digits)
{
    if (value == 0.0) {
        return "0";
    }
    std::string sign = value < 0 ? "-" : "";
    double a = std::fabs(value);
    int e3 = static_cast<int>(std::floor(std::log10(a) / 3.0)) * 3;
    double m = a / std::pow(10.0, e3);
    if (m < 1.0) { // log10 rounding just below a power of 1000
        m *= 1000.0, e3 -= 3;
    } else if (m >= 1000.0) {
        m /= 1000.0, e3 += 3;
    }
    std::string text = FormatMantissa(m, digits);
    if (std::strtod(text.c_str(), nullptr) >= 1000.0) { // rounding carried over
        e3 += 3;
        text = FormatMantissa(m / 1000.0, digits);
    }
    for (const Scale &s : kScales) {
        if (s.exponent == e3) {
            return sign + text + s.suffix;
        }
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", digits, value);
    return buf;
}

// zub:eng value ?digits?
int EngObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 2 || objc > 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "value ?digits?");
        return TCL_ERROR;
    }
    double value;
    if (GetCircuitValue(interp, objv[1], &value) != TCL_OK) {
        return TCL_ERROR;
    }
    int digits = 3;
    if (objc == 3) {
        if (Tcl_GetIntFromObj(interp, objv[2], &digits) != TCL_OK) {
            return TCL_ERROR;
        }
        if (digits < 1 || digits > 15) {
            Tcl_SetObjResult(interp, Tcl_ObjPrintf("digits must be between 1 and 15 but got \"%s\"",
                                                   Tcl_GetString(objv[2])));
            return TCL_ERROR;
        }
    }
    std::string text = FormatEng(value, digits);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), static_cast<int>(text.size())));
    return TCL_OK;
}

// zub:parse text
int ParseObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "text");
        return TCL_ERROR;
    }
    double value;
    if (GetCircuitValue(interp, objv[1], &value) != TCL_OK) {
        return TCL_ERROR;
    }
    Tcl_SetObjResult(interp, Tcl_NewDoubleObj(value));
    return TCL_OK;
}

// zub:parallel value ?value ...?
int ParallelObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "value ?value ...?");
        return TCL_ERROR;
    }
    double sum = 0.0;
    bool shorted = false;
    for (int i = 1; i < objc; ++i) {
        double value;
        if (GetCircuitValue(interp, objv[i], &value) != TCL_OK) {
            return TCL_ERROR;
        }
        if (value < 0.0) {
            Tcl_SetObjResult(interp, Tcl_ObjPrintf("expected a value of 0 or more but got \"%s\"",
                                                   Tcl_GetString(objv[i])));
            return TCL_ERROR;
        }
        if (value == 0.0) {
            shorted = true;
        } else {
            sum += 1.0 / value;
        }
    }
    Tcl_SetObjResult(interp, Tcl_NewDoubleObj(shorted ? 0.0 : 1.0 / sum));
    return TCL_OK;
}

struct Command {
    const char *name;
    Tcl_ObjCmdProc *proc;
};

const Command kCommands[] = {
    {"zub:eng", EngObjCmd}, {"zub:parse", ParseObjCmd}, {"zub:parallel", ParallelObjCmd}};

} // namespace

// Load entry point: registers the package's commands in interp.
int zub_Init(Tcl_Interp *interp)
{
    for (const Command &c : kCommands) {
        Tcl_CreateObjCommand(interp, c.name, c.proc, nullptr, nullptr);
    }
    return TCL_OK;
}

// The commands must go before the library is unmapped.
int zub_Term(Tcl_Interp *interp)
{
    for (const Command &c : kCommands) {
        Tcl_DeleteCommand(interp, c.name);
    }
    return TCL_OK;
}
