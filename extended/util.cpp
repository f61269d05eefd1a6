// Shared utility interface of the extended command library: number and index
// parsing, channel look-up and coded options, usage errors, result building,
// and the saving of an interpreter's result and error state.

#include "orx_util.h"

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/internal.h"
#include "platform/tclint/tclint.h"

namespace {

// Error-state bits as the save object carries them (the historical layout of
// the interpreter flags word); Tcl 8.6 keeps two of them as pointers instead.
constexpr long kSaveErrInProgress = 0x02;
constexpr long kSaveErrAlreadyLogged = 0x04;
constexpr long kSaveErrorCodeSet = 0x08;

// 99 for anything not a digit or letter, so it is above every base.
int DigitValue(unsigned char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + 10;
    }
    return 99;
}

// Unsigned magnitude in the given base, C prefix rules, 32 bits wide like the
// runtime's unsigned long on the platform the interface was made for.  No
// sign, no leading blanks.  Returns false when no digit was read, the base is
// unusable or the value does not fit in 32 bits.
bool ParseMagnitude(const char *p, int base, uint32_t *valuePtr, const char **endPtr)
{
    if (base < 0 || base == 1 || base > 36) {
        return false;
    }
    bool hexPrefix = p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16;
    if (base == 0) {
        base = hexPrefix ? 16 : (p[0] == '0' ? 8 : 10);
    }
    if (base == 16 && hexPrefix) {
        p += 2;
    }
    uint64_t value = 0;
    bool overflow = false;
    const char *start = p;
    for (; DigitValue(static_cast<unsigned char>(*p)) < base; p++) {
        value = value * base + DigitValue(static_cast<unsigned char>(*p));
        if (value > UINT32_MAX) {
            overflow = true;
            value = UINT32_MAX;  // keep consuming digits without wrapping
        }
    }
    if (p == start || overflow) {
        return false;
    }
    *valuePtr = static_cast<uint32_t>(value);
    *endPtr = p;
    return true;
}

const char *SkipSpace(const char *p)
{
    while (*p != '\0' && isspace(static_cast<unsigned char>(*p))) {
        p++;
    }
    return p;
}

// Shared body of the three parsers: blanks, one optional sign, the
// magnitude, blanks.  The sign is the caller's to apply.
bool ParseNumber(const char *string, int base, uint32_t *magPtr, bool *negPtr)
{
    const char *p = SkipSpace(string);
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        p++;
    }
    uint32_t magnitude;
    const char *end;
    if (!ParseMagnitude(p, base, &magnitude, &end)) {
        return false;
    }
    if (*SkipSpace(end) != '\0') {
        return false;
    }
    *magPtr = magnitude;
    *negPtr = negative;
    return true;
}

// TCL_ERROR without a message: the caller words it.
int CodeTranslation(const char *word, size_t length, int *codePtr)
{
    static const struct {
        const char *name;
        int code;
    } modes[] = {
        {"auto", ORXX_TRANSLATE_AUTO}, {"lf", ORXX_TRANSLATE_LF},
        {"binary", ORXX_TRANSLATE_BINARY}, {"cr", ORXX_TRANSLATE_CR},
        {"crlf", ORXX_TRANSLATE_CRLF}, {"platform", ORXX_TRANSLATE_PLATFORM},
    };
    for (const auto &mode : modes) {
        if (strlen(mode.name) == length && memcmp(mode.name, word, length) == 0) {
            *codePtr = mode.code;
            return TCL_OK;
        }
    }
    return TCL_ERROR;
}

// Code a -translation text: "mode" or "{in out}" / "in out".
int ParseTranslationOption(const char *text, int *valuePtr)
{
    if (*text == '{') {
        text++;
    }
    const char *blank = strchr(text, ' ');
    int inCode, outCode;
    if (blank == nullptr) {
        if (CodeTranslation(text, strlen(text), &inCode) != TCL_OK) {
            return TCL_ERROR;
        }
        outCode = inCode;
    } else {
        const char *out = blank + 1;
        const char *close = strchr(out, '}');
        size_t outLength = close != nullptr ? size_t(close - out) : strlen(out);
        if (CodeTranslation(text, size_t(blank - text), &inCode) != TCL_OK
            || CodeTranslation(out, outLength, &outCode) != TCL_OK) {
            return TCL_ERROR;
        }
    }
    *valuePtr = (inCode << 8) | outCode;
    return TCL_OK;
}

// The copy behind OrxX_DownShift (lower) and OrxX_UpShift.
char *ShiftCase(char *target, const char *source, bool lower)
{
    if (target == nullptr) {
        target = Tcl_Alloc(strlen(source) + 1);
    }
    char *p = target;
    for (;; source++, p++) {
        unsigned char c = static_cast<unsigned char>(*source);
        if (lower ? isupper(c) : islower(c)) {
            c = static_cast<unsigned char>(lower ? c + 0x20 : c - 0x20);
        }
        *p = static_cast<char>(c);
        if (c == '\0') {
            break;
        }
    }
    return target;
}

}  // namespace

extern "C" {

int OrxX_StrToInt(const char *string, int base, long *valuePtr)
{
    uint32_t magnitude;
    bool negative;
    if (!ParseNumber(string, base, &magnitude, &negative)) {
        return 0;
    }
    // 32-bit wrap-around as on the platform the interface was made for:
    // "0xFFFFFFFF" reads as -1, like a Tcl int.
    uint32_t bits = negative ? 0u - magnitude : magnitude;
    *valuePtr = static_cast<long>(static_cast<int32_t>(bits));
    return 1;
}

int OrxX_StrToUnsigned(const char *string, int base, unsigned *valuePtr)
{
    uint32_t magnitude;
    bool negative;
    if (!ParseNumber(string, base, &magnitude, &negative)) {
        return 0;
    }
    *valuePtr = negative ? 0u - magnitude : magnitude;
    return 1;
}

int OrxX_StrToOffset(const char *string, int base, int64_t *offsetPtr)
{
    uint32_t magnitude;
    bool negative;
    if (!ParseNumber(string, base, &magnitude, &negative)) {
        return 0;
    }
    *offsetPtr = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return 1;
}

int OrxX_GetUnsignedFromObj(Tcl_Interp *interp, Tcl_Obj *objPtr, unsigned *valuePtr)
{
    Tcl_WideInt value;
    int beyond;
    if (orx::GetWideInt(interp, objPtr, &value, &beyond) != TCL_OK) {
        return TCL_ERROR;
    }
    if (value < 0) {
        if (interp != nullptr) { // a null interpreter asks for no message, as in Tcl
            orx::AppendResult(interp, "expected unsigned integer, got \"", Tcl_GetString(objPtr), "\"");
        }
        return orx::ValueCode(interp, "NUMBER", Tcl_GetString(objPtr));
    }
    if (value > UINT_MAX) {
        return orx::IntegerTooLarge(interp);
    }
    *valuePtr = static_cast<unsigned>(value);
    return TCL_OK;
}

int OrxX_GetOffsetFromObj(Tcl_Interp *interp, Tcl_Obj *objPtr, int64_t *offsetPtr)
{
    Tcl_WideInt value;
    if (orx::GetWideInt(interp, objPtr, &value) != TCL_OK) {
        return TCL_ERROR;
    }
    *offsetPtr = value;
    return TCL_OK;
}

namespace {

// The forms scripts write nearly always (12, -1, end, end-1, len+2) without
// the expression evaluator, which would compile the rewritten text anew on
// every call.  Anything else, including octal-looking digits and numbers long
// enough to overflow, is left to the evaluator.
bool SimpleIndex(const char *text, int textLength, int length, long *valuePtr)
{
    const char *p = text;
    const char *end = text + textLength;
    long base = 0;
    if (textLength >= 3 && (strncmp(p, "end", 3) == 0 || strncmp(p, "len", 3) == 0)) {
        base = p[0] == 'e' ? long(length) - 1 : long(length);
        p += 3;
        if (p == end) {
            *valuePtr = base;
            return true;
        }
    } else if (*p != '-' && !(*p >= '0' && *p <= '9')) {
        return false;
    }
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        ++p;
    } else if (p != text) {
        return false;  // end followed by something other than a sign
    }
    if (p == end || end - p > 9 || (*p == '0' && end - p > 1)) {
        return false;
    }
    long number = 0;
    for (; p < end; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
        number = number * 10 + (*p - '0');
    }
    *valuePtr = negative ? base - number : base + number;
    return true;
}

} // namespace

int OrxX_RelativeExpr(Tcl_Interp *interp, Tcl_Obj *exprPtr, int length, long *exprResultPtr)
{
    static const Tcl_ObjType *intType = Tcl_GetObjType("int");
    Tcl_WideInt value;
    if (intType != nullptr && exprPtr->typePtr == intType) {
        // Read whole: as an int, 4294967295 would be -1, not what its text says.
        if (orx::GetWideInt(interp, exprPtr, &value) != TCL_OK) {
            return TCL_ERROR;
        }
    } else {
        int textLength;
        const char *text = Tcl_GetStringFromObj(exprPtr, &textLength);
        if (textLength == 0) {
            *exprResultPtr = 0;  // as Tcl_ExprLong has always done
            return TCL_OK;
        }
        if (SimpleIndex(text, textLength, length, exprResultPtr)) {
            return TCL_OK;
        }
        ObjRef expr(exprPtr);
        if (textLength >= 3 && (strncmp(text, "end", 3) == 0 || strncmp(text, "len", 3) == 0)) {
            long base = text[0] == 'e' ? long(length) - 1 : long(length);
            char number[32];
            snprintf(number, sizeof number, "%ld", base);
            Tcl_Obj *rewritten = Tcl_NewStringObj(number, -1);
            Tcl_AppendToObj(rewritten, text + 3, textLength - 3);
            expr = ObjRef(rewritten);
        }
        if (orx::ExprWideInt(interp, expr.get(), &value) != TCL_OK) {
            return TCL_ERROR;
        }
    }
    if (value < LONG_MIN || value > LONG_MAX) {
        return orx::IntegerTooLarge(interp);
    }
    *exprResultPtr = static_cast<long>(value);
    return TCL_OK;
}

char *OrxX_DownShift(char *target, const char *source)
{
    return ShiftCase(target, source, true);
}

char *OrxX_UpShift(char *target, const char *source)
{
    return ShiftCase(target, source, false);
}

Tcl_Channel OrxX_GetOpenChannel(Tcl_Interp *interp, const char *handle, int direction)
{
    int mode;
    Tcl_Channel channel = Tcl_GetChannel(interp, handle, &mode);
    if (channel == nullptr) {
        return nullptr;
    }
    if ((direction & TCL_READABLE) && !(mode & TCL_READABLE)) {
        orx::AppendResult(interp, "channel \"", handle, "\" wasn't opened for reading");
        orx::ValueCode(interp, "CHANNEL", handle);
        return nullptr;
    }
    if ((direction & TCL_WRITABLE) && !(mode & TCL_WRITABLE)) {
        orx::AppendResult(interp, "channel \"", handle, "\" wasn't opened for writing");
        orx::ValueCode(interp, "CHANNEL", handle);
        return nullptr;
    }
    return channel;
}

Tcl_Channel OrxX_GetOpenChannelObj(Tcl_Interp *interp, Tcl_Obj *handleObj, int direction)
{
    return OrxX_GetOpenChannel(interp, Tcl_GetString(handleObj), direction);
}

int OrxX_GetChannelOption(Tcl_Interp *interp, Tcl_Channel channel, int option, int *valuePtr)
{
    const char *name;
    switch (option) {
    case ORXX_COPT_BLOCKING: name = "-blocking"; break;
    case ORXX_COPT_BUFFERING: name = "-buffering"; break;
    case ORXX_COPT_TRANSLATION: name = "-translation"; break;
    default: Tcl_Panic("OrxX_GetChannelOption bug"); return TCL_ERROR;
    }

    Tcl_DString text;
    Tcl_DStringInit(&text);
    if (Tcl_GetChannelOption(interp, channel, name, &text) != TCL_OK) {
        Tcl_DStringFree(&text);
        return TCL_ERROR;
    }
    const char *value = Tcl_DStringValue(&text);
    int code = 0;
    int status = TCL_OK;
    switch (option) {
    case ORXX_COPT_BLOCKING:
        code = value[0] == '0' ? 1 : 0;
        break;
    case ORXX_COPT_BUFFERING:
        if (strcmp(value, "full") == 0) {
            code = ORXX_BUFFERING_FULL;
        } else if (strcmp(value, "line") == 0) {
            code = ORXX_BUFFERING_LINE;
        } else if (strcmp(value, "none") == 0) {
            code = ORXX_BUFFERING_NONE;
        } else {
            status = TCL_ERROR;
        }
        break;
    default:
        status = ParseTranslationOption(value, &code);
        break;
    }
    if (status != TCL_OK) {
        // The channel layer (or a channel driver) is the source of the text,
        // so a word we do not know is reported, never fatal.
        orx::AppendResult(interp, "unknown ", name + 1, " value \"", value, "\"");
        orx::ValueCode(interp, "OPTION", value);
    } else {
        *valuePtr = code;
    }
    Tcl_DStringFree(&text);
    return status;
}

char *OrxX_JoinPath(const char *path1, const char *path2, Tcl_DString *joinedPtr)
{
    const char *parts[2] = {path1, path2};
    return Tcl_JoinPath(2, parts, joinedPtr);
}

int OrxX_WrongArgs(Tcl_Interp *interp, Tcl_Obj *commandNameObj, const char *usage)
{
    return orx::WrongArgs(interp, commandNameObj, usage);
}

void OrxX_AppendObjResult(Tcl_Interp *interp, ...)
{
    Tcl_Obj *resultPtr = Tcl_GetObjResult(interp);
    if (Tcl_IsShared(resultPtr)) {
        // A shared result is a value some command handed back, not a message
        // being built: the strings start a new result, its holder's value
        // stays as it was.
        resultPtr = Tcl_NewObj();
        Tcl_SetObjResult(interp, resultPtr);
    }
    va_list args;
    va_start(args, interp);
    for (;;) {
        const char *piece = va_arg(args, const char *);
        if (piece == nullptr) {
            break;
        }
        Tcl_AppendToObj(resultPtr, piece, -1);
    }
    va_end(args);
}

int OrxX_IsNullObj(Tcl_Obj *objPtr)
{
    static const Tcl_ObjType *const listType = Tcl_GetObjType("list");
    if (objPtr->typePtr == nullptr) {
        return objPtr->length == 0;
    }
    if (objPtr->typePtr == listType) {
        int length;
        Tcl_ListObjLength(nullptr, objPtr, &length);
        return length == 0;
    }
    int length;
    Tcl_GetStringFromObj(objPtr, &length);
    return length == 0;
}

Tcl_Obj *OrxX_SaveResultErrorInfo(Tcl_Interp *interp)
{
    Tcl_Obj *elements[4];
    elements[0] = Tcl_DuplicateObj(Tcl_GetObjResult(interp));
    {
        // The read traces of Tcl 8.6 bring both variables up to date first.
        orx::KeepErrorCode keep(interp);
        elements[1] = Tcl_GetVar2Ex(interp, "errorInfo", nullptr, TCL_GLOBAL_ONLY);
        if (elements[1] == nullptr) {
            elements[1] = Tcl_NewObj();
        }
        elements[2] = Tcl_GetVar2Ex(interp, "errorCode", nullptr, TCL_GLOBAL_ONLY);
        if (elements[2] == nullptr) {
            elements[2] = Tcl_NewObj();
        }
    }
    orx::ErrorState state = orx::GetErrorState(interp);
    long flags = 0;
    if (state.inProgress) {
        flags |= kSaveErrInProgress;
    }
    if (state.alreadyLogged) {
        flags |= kSaveErrAlreadyLogged;
    }
    if (state.codeSet) {
        flags |= kSaveErrorCodeSet;
    }
    elements[3] = Tcl_NewLongObj(flags);
    Tcl_Obj *saveObj = Tcl_NewListObj(4, elements);
    Tcl_IncrRefCount(saveObj);
    return saveObj;
}

void OrxX_RestoreResultErrorInfo(Tcl_Interp *interp, Tcl_Obj *saveObjPtr)
{
    int count;
    Tcl_Obj **elements;
    long flags;
    if (Tcl_ListObjGetElements(nullptr, saveObjPtr, &count, &elements) != TCL_OK || count != 4
        || Tcl_GetLongFromObj(nullptr, elements[3], &flags) != TCL_OK) {
        Tcl_Panic("invalid OrxX result save object");
    }
    Tcl_Obj *errorInfo = elements[1];
    Tcl_Obj *errorCode = elements[2];

    {
        orx::KeepErrorCode keep(interp);
        Tcl_SetVar2Ex(interp, "errorCode", nullptr, errorCode, TCL_GLOBAL_ONLY);
        Tcl_SetVar2Ex(interp, "errorInfo", nullptr, errorInfo, TCL_GLOBAL_ONLY);
    }
    Tcl_SetObjResult(interp, elements[0]);

    // Tcl 8.6 keeps "error in progress" and "error code set" as the
    // interpreter's own errorInfo/errorCode values, which its variable read
    // traces copy out.  Reinstate those with the restored values, so that the
    // variables keep reading as restored and later additions extend them.
    orx::ErrorState state{(flags & kSaveErrInProgress) != 0, (flags & kSaveErrAlreadyLogged) != 0,
                          (flags & kSaveErrorCodeSet) != 0};
    orx::SetErrorState(interp, state, errorInfo, errorCode);
    Tcl_DecrRefCount(saveObjPtr);
}

void *OrxX_StructOffset(void *base, int offset)
{
    int major, minor;
    Tcl_GetVersion(&major, &minor, nullptr, nullptr);
    if (major == 8 && minor < 4) {
        static const struct {
            unsigned threshold;
            int decrement;
        } adjust[] = {{152, 4}, {96, 4}, {20, 4}};
        for (const auto &step : adjust) {
            if (static_cast<unsigned>(offset) > step.threshold) {
                offset -= step.decrement;
            }
        }
    }
    return static_cast<char *>(base) + offset;
}

}  // extern "C"
