// orx:setEtpType: colours and line styles of enumerated-type literals, set
// through the five calls of the type registry.  Lists are parsed without an
// interpreter, so a malformed one gives this command's own message.
#include "orx_etptype.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/internal.h"
#include "orx_etp.h"

namespace {

const char kUsage[] = " etp_type -literals <literals> -colors <colors> -styles <styles>\"";

// Errors are appended: once literals may have been noted, the notes stay
// before the error (the result is empty until then).
template <typename... Parts>
int Fail(Tcl_Interp *interp, const Parts &...parts)
{
    orx::AppendResult(interp, parts...);
    return TCL_ERROR;
}

// Every syntax error of the command gives this one usage text.
int Usage(Tcl_Interp *interp, const char *command)
{
    Fail(interp, "wrong # args:  should be \"", command, kUsage);
    return orx::UsageCode(interp);
}

// A literal lacking the attribute is left alone.
void SetInt(EtpLiteral *literal, int index, int value)
{
    EtpAttr *attr = nullptr;
    if (etpGetLiteralAttr(literal, index, &attr)) {
        etpSetAttrValFromInt(attr, value);
    }
}

// "#rrggbb" read as "#%2x%2x%2x"; what cannot be read is -1.
void SetColor(EtpLiteral *literal, const char *text)
{
    unsigned rgb[3] = {UINT_MAX, UINT_MAX, UINT_MAX};
    std::sscanf(text, "#%2x%2x%2x", &rgb[0], &rgb[1], &rgb[2]);
    for (int c = 0; c < 3; ++c) {
        SetInt(literal, ETP_ATTR_RED + c, rgb[c] == UINT_MAX ? -1 : static_cast<int>(rgb[c]));
    }
}

// Any name other than dash or dot gives a solid line.
void SetStyle(EtpLiteral *literal, const char *name)
{
    const char *style = std::strcmp(name, "dash") == 0 ? "- -" : std::strcmp(name, "dot") == 0 ? "." : "-";
    EtpAttr *attr = nullptr;
    if (etpGetLiteralAttr(literal, ETP_ATTR_STYLE, &attr)) {
        etpSetAttrValFromString(attr, style);
    }
}

// Body of orx:setEtpType, run under the out-of-memory guard.
int SetEtpType(Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc != 6 && argc != 8) {
        return Usage(interp, argv[0]);
    }
    const char *typeName = argv[1];
    EtpType *type = nullptr;
    if (!etpFindType(typeName, &type)) {
        Fail(interp, "Can not find enum type: ", typeName);
        return orx::LookupCode(interp, "TYPE", typeName);
    }
    if (std::strncmp(argv[2], "-literal", 8) != 0) {
        return Usage(interp, argv[0]);
    }
    orx::ListElements literals;
    if (!literals.Split(argv[3])) {
        Fail(interp, "Argument #4 has problem: ", argv[3]);
        return orx::ValueCode(interp, "LIST");
    }
    for (int pair = 4; pair + 1 < argc; pair += 2) {
        const char *option = argv[pair];
        orx::ListElements values;
        if (!values.Split(argv[pair + 1])) {
            Fail(interp, "Argument has problem: ", argv[pair + 1]);
            return orx::ValueCode(interp, "LIST");
        }
        if (values.count() > literals.count()) {
            Fail(interp,
                          "The length of literals list and that of colors/styles are not matched.");
            return orx::ValueCode(interp, "LIST");
        }
        for (int j = 0; j < values.count(); ++j) {
            EtpLiteral *literal = nullptr;
            if (!etpFindTypeLiteralByName(type, literals[j], &literal)) {
                orx::AppendResult(interp, "Can not find literal: ", literals[j], "in enum type:",
                                  typeName);
                continue;
            }
            if (std::strncmp(option, "-color", 6) == 0) {
                SetColor(literal, values[j]);
            } else if (std::strncmp(option, "-style", 6) == 0) {
                SetStyle(literal, values[j]);
            } else {
                return Usage(interp, argv[0]);
            }
        }
    }
    return TCL_OK;
}

} // namespace

int Orx_SetEtpTypeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    return orx::Guard(interp, [&] { return SetEtpType(interp, argc, argv); });
}
