// Character-string commands: cindex, clength, cconcat, crange, csubstr,
// ccollate, replicate, translit, ctype, ctoken and cequal.  Positions count
// characters; translit and cequal work on the bytes of the UTF-8 text.
#include "orx_string.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "orx_util.h"
#include "base/internal.h"

namespace {

const char kTooLargeMsg[] = "result too large for a Tcl value";

// Tcl's object types are looked up once; they never change in a process.
const Tcl_ObjType *StringType()
{
    static const Tcl_ObjType *type = Tcl_GetObjType("string");
    return type;
}

const Tcl_ObjType *ByteArrayType()
{
    static const Tcl_ObjType *type = Tcl_GetObjType("bytearray");
    return type;
}

// Values Tcl's character functions may convert to its string type without
// losing anything: text already, or bytes with no text form yet.  Others
// (lists, numbers ...) are read through their text so they keep their type.
bool IsText(Tcl_Obj *obj)
{
    return obj->typePtr == nullptr || obj->typePtr == StringType() ||
           (obj->typePtr == ByteArrayType() && obj->bytes == nullptr);
}

// Counts characters without converting a value of another type to Tcl's string type.
int CharLength(Tcl_Obj *obj)
{
    if (IsText(obj)) {
        return Tcl_GetCharLength(obj);
    }
    int size;
    const char *text = Tcl_GetStringFromObj(obj, &size);
    return Tcl_NumUtfChars(text, size);
}

// count characters from first; both already within the value.
Tcl_Obj *CharRange(Tcl_Obj *obj, int first, int count)
{
    if (IsText(obj)) {
        return Tcl_GetRange(obj, first, first + count - 1);
    }
    const char *from = Tcl_UtfAtIndex(Tcl_GetString(obj), first);
    const char *to = Tcl_UtfAtIndex(from, count);
    return Tcl_NewStringObj(from, static_cast<int>(to - from));
}

// Eight bytes at a time: the common case of ASCII text is checked fast.
bool IsAscii(const char *text, size_t size)
{
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, text + i, sizeof word);
        if ((word & 0x8080808080808080ULL) != 0) {
            return false;
        }
    }
    for (; i < size; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0x80) != 0) {
            return false;
        }
    }
    return true;
}

// ------------------------------------------------------------ commands

// cindex string indexExpr
int CindexObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 3) {
        return OrxX_WrongArgs(interp, objv[0], "string indexExpr");
    }
    Tcl_Obj *obj = objv[1];
    int count = CharLength(obj);
    long index;
    if (OrxX_RelativeExpr(interp, objv[2], count, &index) != TCL_OK) {
        return TCL_ERROR;
    }
    if (index < 0 || index >= count) {
        Tcl_ResetResult(interp);
        return TCL_OK;
    }
    if (IsText(obj)) {
        char buffer[TCL_UTF_MAX + 4];
        int size = Tcl_UniCharToUtf(Tcl_GetUniChar(obj, static_cast<int>(index)), buffer);
        Tcl_SetObjResult(interp, Tcl_NewStringObj(buffer, size));
    } else {
        Tcl_SetObjResult(interp, CharRange(obj, static_cast<int>(index), 1));
    }
    return TCL_OK;
}

// clength string
int ClengthObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 2) {
        return OrxX_WrongArgs(interp, objv[0], "string");
    }
    int length = CharLength(objv[1]);
    // Tcl hands each command a fresh result value: filling it saves an
    // allocation per call.
    Tcl_Obj *result = Tcl_GetObjResult(interp);
    if (Tcl_IsShared(result)) {
        Tcl_SetObjResult(interp, Tcl_NewIntObj(length));
    } else {
        Tcl_SetIntObj(result, length);
    }
    return TCL_OK;
}

// cconcat ?string ...?
int CconcatObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc == 2) {
        Tcl_SetObjResult(interp, objv[1]);
        return TCL_OK;
    }
    size_t total = 0;
    for (int i = 1; i < objc; ++i) {
        int size;
        Tcl_GetStringFromObj(objv[i], &size);
        total += static_cast<size_t>(size);
    }
    if (total > static_cast<size_t>(INT_MAX)) {
        return orx::SetError(interp, kTooLargeMsg);
    }
    char *out;
    Tcl_Obj *result = orx::AttemptNewStringObj(total, &out);
    if (result == nullptr) {
        return orx::OutOfMemory(interp);
    }
    for (int i = 1; i < objc; ++i) {
        int size;
        const char *text = Tcl_GetStringFromObj(objv[i], &size);
        std::memcpy(out, text, static_cast<size_t>(size));
        out += size;
    }
    Tcl_SetObjResult(interp, result);
    return TCL_OK;
}

// crange string firstExpr lastExpr (clientData 1)
// csubstr string firstExpr lengthExpr (clientData 0)
int CrangeObjCmd(ClientData clientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    bool isRange = clientData != nullptr;
    if (objc != 4) {
        const char *usage = isRange ? "string firstExpr lastExpr" : "string firstExpr lengthExpr";
        return OrxX_WrongArgs(interp, objv[0], usage);
    }
    Tcl_Obj *obj = objv[1];
    int count = CharLength(obj);
    long first;
    if (OrxX_RelativeExpr(interp, objv[2], count, &first) != TCL_OK) {
        return TCL_ERROR;
    }
    if (first < 0 || first >= count) {
        Tcl_ResetResult(interp);
        return TCL_OK;
    }
    long second;
    if (OrxX_RelativeExpr(interp, objv[3], count, &second) != TCL_OK) {
        return TCL_ERROR;
    }
    long length;
    if (isRange) {
        // Cut a last position past the end first: last - first + 1 may not
        // fit a long.
        length = second < first ? 0 : (second < count ? second : count - 1) - first + 1;
    } else {
        length = second;
    }
    if (length > count - first) {
        length = count - first;
    }
    if (length <= 0) {
        Tcl_ResetResult(interp);
        return TCL_OK;
    }
    if (first == 0 && length == count) {
        Tcl_SetObjResult(interp, obj);
    } else {
        Tcl_SetObjResult(interp,
                         CharRange(obj, static_cast<int>(first), static_cast<int>(length)));
    }
    return TCL_OK;
}

// ccollate ?-local? string1 string2
int CcollateObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 3 && objc != 4) {
        return OrxX_WrongArgs(interp, objv[0], "?options? string1 string2");
    }
    bool local = objc == 4;
    if (local) {
        const char *option = Tcl_GetString(objv[1]);
        if (std::strcmp(option, "-local") != 0) {
            orx::SetError(interp, "Invalid option \"", option, "\", expected \"-local\"");
            return orx::ValueCode(interp, "OPTION", option);
        }
    }
    int size1;
    int size2;
    const char *text1 = Tcl_GetStringFromObj(objv[objc - 2], &size1);
    const char *text2 = Tcl_GetStringFromObj(objv[objc - 1], &size2);
    if (orx::HasNulChar({text1, static_cast<size_t>(size1)}) ||
        orx::HasNulChar({text2, static_cast<size_t>(size2)})) {
        orx::SetError(interp, "The ", Tcl_GetString(objv[0]), " command does not support binary data");
        return orx::ValueCode(interp, "TEXT");
    }
    int cmp = local ? std::strcoll(text1, text2) : std::strcmp(text1, text2);
    Tcl_SetObjResult(interp, Tcl_NewIntObj(cmp < 0 ? -1 : cmp > 0 ? 1 : 0));
    return TCL_OK;
}

// replicate string countExpr
int ReplicateObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 3) {
        return OrxX_WrongArgs(interp, objv[0], "string countExpr");
    }
    // A count beyond 64 bits is as large or as negative as any other; read
    // through Tcl_GetLongFromObj, 2^63 would be the count -2^63.
    Tcl_WideInt count;
    int beyond;
    if (orx::GetWideInt(interp, objv[2], &count, &beyond) != TCL_OK) {
        return TCL_ERROR;
    }
    int size;
    const char *text = Tcl_GetStringFromObj(objv[1], &size);
    if (count <= 0 || size == 0) {
        Tcl_ResetResult(interp);
        return TCL_OK;
    }
    if (count == 1) {
        Tcl_SetObjResult(interp, objv[1]);
        return TCL_OK;
    }
    // Checked before anything is allocated: a huge count is an error, not an
    // attempt to fill the machine's memory.
    if (count > INT_MAX / size) {
        return orx::SetError(interp, kTooLargeMsg);
    }
    size_t total = static_cast<size_t>(size) * static_cast<size_t>(count);
    char *out;
    Tcl_Obj *result = orx::AttemptNewStringObj(total, &out);
    if (result == nullptr) {
        return orx::OutOfMemory(interp);
    }
    std::memcpy(out, text, static_cast<size_t>(size));
    size_t done = static_cast<size_t>(size);
    while (done < total) {
        size_t chunk = done < total - done ? done : total - done;
        std::memcpy(out + done, out, chunk);
        done += chunk;
    }
    Tcl_SetObjResult(interp, result);
    return TCL_OK;
}

// Expand a-z style ranges of a translit argument into at most 254 bytes;
// false when the expansion would reach 255.
constexpr int kMaxExpansion = 254;
bool ExpandRanges(const unsigned char *text, int size, unsigned char *out, int *outSize)
{
    int n = 0;
    for (int i = 0; i < size;) {
        unsigned char c = text[i];
        if (i + 2 < size && text[i + 1] == '-' && text[i + 2] > c) {
            for (int r = c; r <= text[i + 2]; ++r) {
                if (n == kMaxExpansion) {
                    return false;
                }
                out[n++] = static_cast<unsigned char>(r);
            }
            i += 3;
        } else {
            if (n == kMaxExpansion) {
                return false;
            }
            out[n++] = c;
            ++i;
        }
    }
    *outSize = n;
    return true;
}

// translit from to string
int TranslitObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 4) {
        return OrxX_WrongArgs(interp, objv[0], "from to string");
    }
    static const char *const kParts[] = {"in-range", "out-range", "string to translate"};
    const unsigned char *texts[3];
    int sizes[3];
    for (int i = 0; i < 3; ++i) {
        const char *text = Tcl_GetStringFromObj(objv[i + 1], &sizes[i]);
        if (!IsAscii(text, static_cast<size_t>(sizes[i]))) {
            orx::SetError(interp, "Unicode character found in ", kParts[i],
                          ", the translit command does not yet support Unicode");
            return orx::ValueCode(interp, "TEXT");
        }
        texts[i] = reinterpret_cast<const unsigned char *>(text);
    }
    unsigned char from[kMaxExpansion];
    unsigned char to[kMaxExpansion];
    int fromSize;
    int toSize;
    if (!ExpandRanges(texts[0], sizes[0], from, &fromSize)) {
        orx::SetError(interp, "inrange expansion too long");
        return orx::ValueCode(interp, "TEXT");
    }
    if (!ExpandRanges(texts[1], sizes[1], to, &toSize)) {
        orx::SetError(interp, "outrange expansion too long");
        return orx::ValueCode(interp, "TEXT");
    }
    if (fromSize > toSize) {
        orx::SetError(interp, "inrange longer than outrange");
        return orx::ValueCode(interp, "TEXT");
    }
    unsigned char map[256];
    for (int i = 0; i < 256; ++i) {
        map[i] = static_cast<unsigned char>(i);
    }
    for (int i = 0; i < fromSize; ++i) {
        map[from[i]] = to[i];
    }
    char *out;
    Tcl_Obj *result = orx::AttemptNewStringObj(static_cast<size_t>(sizes[2]), &out);
    if (result == nullptr) {
        return orx::OutOfMemory(interp);
    }
    const unsigned char *in = texts[2];
    for (int i = 0; i < sizes[2]; ++i) {
        out[i] = static_cast<char>(map[in[i]]);
    }
    Tcl_SetObjResult(interp, result);
    return TCL_OK;
}

// ---------------------------------------------------------------- ctype

enum class Test { Unicode, Ascii, Cntrl, Byte };

struct CtypeClass {
    const char *name;
    Test kind;
    int (*unicode)(int); // Test::Unicode
    int (*byte)(int);    // Test::Byte: characters above 255 are an error
};

const CtypeClass kClasses[] = {
    {"alnum", Test::Unicode, Tcl_UniCharIsAlnum, nullptr},
    {"alpha", Test::Unicode, Tcl_UniCharIsAlpha, nullptr},
    {"ascii", Test::Ascii, nullptr, nullptr},
    {"cntrl", Test::Cntrl, nullptr, nullptr},
    {"digit", Test::Unicode, Tcl_UniCharIsDigit, nullptr},
    {"graph", Test::Byte, nullptr, [](int c) { return std::isgraph(c); }},
    {"lower", Test::Unicode, Tcl_UniCharIsLower, nullptr},
    {"print", Test::Byte, nullptr, [](int c) { return std::isprint(c); }},
    {"punct", Test::Byte, nullptr, [](int c) { return std::ispunct(c); }},
    {"space", Test::Unicode, Tcl_UniCharIsSpace, nullptr},
    {"upper", Test::Unicode, Tcl_UniCharIsUpper, nullptr},
    {"xdigit", Test::Byte, nullptr, [](int c) { return std::isxdigit(c); }},
};

// Beyond U+FFFF, Tcl 8.6 keeps a character as two halves (a surrogate pair),
// as its utf-8 encoding makes it.
constexpr int kMaxCharCode = 0x10FFFF;

// Character code to character, or the reverse; both within Unicode's range.
int CtypeConvert(Tcl_Interp *interp, bool toChar, Tcl_Obj *valueObj)
{
    if (toChar) {
        Tcl_WideInt code;
        int beyond;
        if (orx::GetWideInt(interp, valueObj, &code, &beyond) != TCL_OK) {
            return TCL_ERROR;
        }
        if (code < 0 || code > kMaxCharCode) {
            orx::SetError(interp, "character code \"", Tcl_GetString(valueObj), "\" out of range");
            return orx::ValueCode(interp, "NUMBER", Tcl_GetString(valueObj));
        }
        char buffer[2 * TCL_UTF_MAX + 4];
        int size;
        if (code > 0xFFFF && sizeof(Tcl_UniChar) == 2) {
            int halves = static_cast<int>(code) - 0x10000;
            size = Tcl_UniCharToUtf(0xD800 + (halves >> 10), buffer);
            size += Tcl_UniCharToUtf(0xDC00 + (halves & 0x3FF), buffer + size);
        } else {
            size = Tcl_UniCharToUtf(static_cast<int>(code), buffer);
        }
        Tcl_SetObjResult(interp, Tcl_NewStringObj(buffer, size));
        return TCL_OK;
    }
    int size;
    const char *text = Tcl_GetStringFromObj(valueObj, &size);
    int code = 0;
    if (size > 0) {
        orx::NextChar(text, &code);
    }
    Tcl_SetObjResult(interp, Tcl_NewIntObj(code));
    return TCL_OK;
}

// ctype ?-failindex var? class string
int CtypeObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    const char *kUsage = "?-failindex var? class string";
    if (objc < 2) {
        return OrxX_WrongArgs(interp, objv[0], kUsage);
    }
    Tcl_Obj *failVar = nullptr;
    const char *first = Tcl_GetString(objv[1]);
    if (first[0] == '-') {
        if (std::strcmp(first, "-failindex") != 0) {
            orx::SetError(interp, "invalid option \"", first, "\", must be -failindex");
            return orx::ValueCode(interp, "OPTION", first);
        }
        if (objc != 5) {
            return OrxX_WrongArgs(interp, objv[0], kUsage);
        }
        failVar = objv[2];
    } else if (objc != 3) {
        return OrxX_WrongArgs(interp, objv[0], kUsage);
    }
    const char *className = Tcl_GetString(objv[objc - 2]);
    Tcl_Obj *valueObj = objv[objc - 1];

    if (std::strcmp(className, "char") == 0 || std::strcmp(className, "ord") == 0) {
        if (failVar != nullptr) {
            orx::SetError(interp, "-failindex option is invalid for class \"", className, "\"");
            return orx::ValueCode(interp, "OPTION", "-failindex");
        }
        return CtypeConvert(interp, className[0] == 'c', valueObj);
    }
    const CtypeClass *cls = nullptr;
    for (const CtypeClass &c : kClasses) {
        if (std::strcmp(className, c.name) == 0) {
            cls = &c;
            break;
        }
    }
    if (cls == nullptr) {
        orx::SetError(interp, "unrecognized class specification: \"", className,
                      "\", expected one of: alnum, alpha, ascii, char, cntrl, digit, graph, lower, ord, print, punct, space, upper or xdigit");
        return orx::ValueCode(interp, "OPTION", className);
    }

    int size;
    const char *text = Tcl_GetStringFromObj(valueObj, &size);
    const char *end = text + size;
    int index = 0;
    bool passed = size > 0;
    for (const char *p = text; p < end;) {
        int ch;
        int units;
        p += orx::NextChar(p, &ch, &units);
        bool ok;
        switch (cls->kind) {
        case Test::Unicode:
            ok = cls->unicode(ch) != 0;
            break;
        case Test::Ascii:
            ok = ch < 128;
            break;
        case Test::Cntrl:
            ok = ch <= 255 && std::iscntrl(ch) != 0;
            break;
        default:
            if (ch > 255) {
                orx::SetError(interp, "unicode characters not supported for class \"", className,
                              "\"");
                return orx::ValueCode(interp, "TEXT");
            }
            ok = cls->byte(ch) != 0;
            break;
        }
        if (!ok) {
            passed = false;
            break;
        }
        index += units;
    }
    if (!passed && failVar != nullptr &&
        Tcl_ObjSetVar2(interp, failVar, nullptr, Tcl_NewIntObj(index), TCL_LEAVE_ERR_MSG) ==
            nullptr) {
        return TCL_ERROR;
    }
    Tcl_SetObjResult(interp, Tcl_NewBooleanObj(passed));
    return TCL_OK;
}

// ctoken strvar separators
int CtokenObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 3) {
        return OrxX_WrongArgs(interp, objv[0], "strvar separators");
    }
    Tcl_Obj *value = Tcl_ObjGetVar2(interp, objv[1], nullptr, TCL_LEAVE_ERR_MSG);
    if (value == nullptr) {
        return TCL_ERROR;
    }
    return orx::Guard(interp, [&] {
        int sepSize;
        const char *seps = Tcl_GetStringFromObj(objv[2], &sepSize);
        // ASCII separators are looked up by byte (no byte of a multi-byte
        // character can match one); others by character.
        bool asciiSeps = IsAscii(seps, static_cast<size_t>(sepSize));
        bool byteTable[128] = {};
        std::vector<int> sepChars;
        if (asciiSeps) {
            for (int i = 0; i < sepSize; ++i) {
                byteTable[static_cast<unsigned char>(seps[i])] = true;
            }
        } else {
            // A character above U+FFFF is one separator, not two halves that
            // would cut other such characters apart.
            for (const char *p = seps; p < seps + sepSize;) {
                int ch;
                p += orx::NextChar(p, &ch);
                sepChars.push_back(ch);
            }
        }
        int size;
        const char *text = Tcl_GetStringFromObj(value, &size);
        const char *end = text + size;
        // The length of the character at p when it is a separator, else 0.
        auto separatorAt = [&](const char *p) -> int {
            if (asciiSeps) {
                unsigned char c = static_cast<unsigned char>(*p);
                return c < 128 && byteTable[c] ? 1 : 0;
            }
            int ch;
            int n = orx::NextChar(p, &ch);
            for (int s : sepChars) {
                if (s == ch) {
                    return n;
                }
            }
            return 0;
        };
        const char *start = text;
        while (start < end) {
            int n = separatorAt(start);
            if (n == 0) {
                break;
            }
            start += n;
        }
        const char *stop = start;
        while (stop < end && separatorAt(stop) == 0) {
            int ch;
            stop += orx::NextChar(stop, &ch);
            if (stop > end) {
                stop = end;
            }
        }
        ObjRef token(Tcl_NewStringObj(start, static_cast<int>(stop - start)));
        Tcl_Obj *rest = Tcl_NewStringObj(stop, static_cast<int>(end - stop));
        if (Tcl_ObjSetVar2(interp, objv[1], nullptr, rest, TCL_LEAVE_ERR_MSG) == nullptr) {
            return TCL_ERROR;
        }
        Tcl_SetObjResult(interp, token.get());
        return TCL_OK;
    });
}

// cequal string1 string2
int CequalObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 3) {
        return OrxX_WrongArgs(interp, objv[0], "string1 string2");
    }
    bool equal = objv[1] == objv[2];
    if (!equal) {
        int size1;
        int size2;
        const char *text1 = Tcl_GetStringFromObj(objv[1], &size1);
        const char *text2 = Tcl_GetStringFromObj(objv[2], &size2);
        equal = size1 == size2 && std::memcmp(text1, text2, static_cast<size_t>(size1)) == 0;
    }
    Tcl_SetObjResult(interp, Tcl_NewBooleanObj(equal));
    return TCL_OK;
}

} // namespace

int OrxXStringInit(Tcl_Interp *interp)
{
    struct {
        const char *name;
        Tcl_ObjCmdProc *proc;
        ClientData clientData;
    } const commands[] = {
        {"cindex", CindexObjCmd, nullptr},
        {"clength", ClengthObjCmd, nullptr},
        {"cconcat", CconcatObjCmd, nullptr},
        {"crange", CrangeObjCmd, reinterpret_cast<ClientData>(1)},
        {"csubstr", CrangeObjCmd, nullptr},
        {"ccollate", CcollateObjCmd, nullptr},
        {"replicate", ReplicateObjCmd, nullptr},
        {"translit", TranslitObjCmd, nullptr},
        {"ctype", CtypeObjCmd, nullptr},
        {"ctoken", CtokenObjCmd, nullptr},
        {"cequal", CequalObjCmd, nullptr},
    };
    for (const auto &cmd : commands) {
        Tcl_CreateObjCommand(interp, cmd.name, cmd.proc, cmd.clientData, nullptr);
    }
    return TCL_OK;
}
