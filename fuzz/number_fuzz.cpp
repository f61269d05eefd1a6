// Fuzzes the number parsers and the index-expression resolver of the utility
// interface.  Input: byte 0 picks the base, bytes 1-4 the length for the
// index expression, the rest is the text (copied with a terminator).

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <tcl.h>

#include "orx_util.h"

namespace {

Tcl_Interp *interp;

// Expressions are Tcl expressions: keep out command substitution and the
// operators that build huge integers, so a run cannot hang or exhaust memory.
bool SafeExpression(const std::string &text)
{
    return text.size() <= 512 && text.find('[') == std::string::npos
        && text.find("**") == std::string::npos && text.find("<<") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***argv)
{
    Tcl_FindExecutable((*argv)[0]);
    interp = Tcl_CreateInterp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 5) {
        return 0;
    }
    int base = data[0] % 40;  // includes the bases the parsers refuse
    int32_t length;
    memcpy(&length, data + 1, sizeof length);
    std::string text(reinterpret_cast<const char *>(data + 5), size - 5);
    const char *string = text.c_str();  // stops at an embedded NUL, as C callers would

    long value = 0x5A5A;
    unsigned uvalue = 0x5A5A;
    int64_t offset = 0x5A5A;
    int okInt = OrxX_StrToInt(string, base, &value);
    int okUnsigned = OrxX_StrToUnsigned(string, base, &uvalue);
    int okOffset = OrxX_StrToOffset(string, base, &offset);
    // The three share one grammar; the signed values agree in their low word.
    if (okInt != okOffset || okInt != okUnsigned) {
        abort();
    }
    if (okInt) {
        if (value < INT32_MIN || value > INT32_MAX || int32_t(offset) != value
            || uint32_t(value) != uvalue) {
            abort();
        }
    } else if (value != 0x5A5A || uvalue != 0x5A5A || offset != 0x5A5A) {
        abort();  // failure must leave the targets alone
    }

    if (SafeExpression(text)) {
        Tcl_Obj *expr = Tcl_NewStringObj(text.data(), int(text.size()));
        Tcl_IncrRefCount(expr);
        long result;
        OrxX_RelativeExpr(interp, expr, length, &result);
        Tcl_DecrRefCount(expr);
        Tcl_ResetResult(interp);
    }
    return 0;
}
