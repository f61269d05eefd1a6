// The library's internal helpers (base/internal.h): result messages, the
// out-of-memory message, integer and character readers, and the file,
// path-list and access-mode readers.
#include "base/internal.h"

#include "orx_util.h"

#include <tclTomMath.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>


namespace orx {

namespace {

// One allocation for the whole message, whatever the number of parts.
std::string Join(std::initializer_list<std::string_view> parts)
{
    size_t length = 0;
    for (std::string_view part : parts) {
        length += part.size();
    }
    std::string text;
    text.reserve(length);
    for (std::string_view part : parts) {
        text.append(part);
    }
    return text;
}

// The text of a dynamic string, which is freed even when the copy throws.
std::string TakeDString(Tcl_DString *dstring)
{
    struct Freer {
        Tcl_DString *dstring;
        ~Freer() { Tcl_DStringFree(dstring); }
    } freer{dstring};
    return std::string(Tcl_DStringValue(dstring), Tcl_DStringLength(dstring));
}

} // namespace

int SetErrorParts(Tcl_Interp *interp, std::initializer_list<std::string_view> parts)
{
    try {
        Tcl_SetObjResult(interp, NewStringObj(Join(parts)));
    } catch (const std::bad_alloc &) {
        return OutOfMemory(interp);
    }
    return TCL_ERROR;
}

void AppendResultParts(Tcl_Interp *interp, std::initializer_list<std::string_view> parts)
{
    Tcl_Obj *result = Tcl_GetObjResult(interp);
    if (Tcl_IsShared(result)) {
        result = Tcl_DuplicateObj(result);
        Tcl_SetObjResult(interp, result);
    }
    for (std::string_view part : parts) {
        Tcl_AppendToObj(result, part.data(), static_cast<int>(part.size()));
    }
}

void CheckResultRoom(size_t have, size_t more)
{
    constexpr size_t kLimit = static_cast<size_t>(INT_MAX / 2);
    if (have > kLimit || more > kLimit - have) {
        throw std::length_error("result would exceed the largest Tcl value");
    }
}

void AppendListElement(std::string &out, std::string_view elem)
{
    CheckResultRoom(0, elem.size()); // Tcl would panic scanning it
    int flags = 0;
    // Scanning without TCL_DONT_QUOTE_HASH gives an upper bound either way.
    int size = Tcl_ScanCountedElement(elem.data(), static_cast<int>(elem.size()), &flags);
    if (!out.empty()) {
        out.push_back(' ');
        flags |= TCL_DONT_QUOTE_HASH;
    }
    size_t at = out.size();
    out.resize(at + static_cast<size_t>(size));
    int written =
        Tcl_ConvertCountedElement(elem.data(), static_cast<int>(elem.size()), &out[at], flags);
    out.resize(at + static_cast<size_t>(written));
}

bool BracesHold(std::string_view text)
{
    int depth = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\') {
            if (++i == text.size()) {
                return false;
            }
        } else if (c == '{') {
            ++depth;
        } else if (c == '}' && --depth < 0) {
            return false;
        }
    }
    return depth == 0;
}

void AppendBracedElement(std::string &out, std::string_view elem)
{
    if (!BracesHold(elem)) {
        std::string quoted;
        AppendListElement(quoted, elem);
        if (!out.empty()) {
            out.push_back(' ');
        }
        out.append(quoted);
        return;
    }
    if (!out.empty()) {
        out.push_back(' ');
    }
    out.push_back('{');
    out.append(elem);
    out.push_back('}');
}

void ResultText::Append(std::string_view text)
{
    CheckResultRoom(size(), text.size());
    Tcl_DStringAppend(&text_, text.data(), static_cast<int>(text.size()));
}

void ResultText::AppendElement(std::string_view elem)
{
    // Tcl panics when an element's escaped form could pass the largest int;
    // the text could not take it anyway.
    CheckResultRoom(size(), elem.size());
    int flags = 0;
    int room = Tcl_ScanCountedElement(elem.data(), static_cast<int>(elem.size()), &flags);
    if (!empty()) {
        Append(" ");
        flags |= TCL_DONT_QUOTE_HASH;
    }
    scratch_.resize(static_cast<size_t>(room));
    int written = Tcl_ConvertCountedElement(elem.data(), static_cast<int>(elem.size()),
                                            &scratch_[0], flags);
    Append(std::string_view(scratch_).substr(0, static_cast<size_t>(written)));
}

void ResultText::AppendBraced(std::string_view elem)
{
    if (!BracesHold(elem)) {
        AppendElement(elem);
        return;
    }
    AppendInBraces(elem);
}

void ResultText::AppendInBraces(std::string_view elem)
{
    // One growth for blank, braces and element: split results run to
    // millions of pieces.
    size_t at = size();
    size_t room = elem.size() + (at == 0 ? 2 : 3);
    CheckResultRoom(at, room);
    Tcl_DStringSetLength(&text_, static_cast<int>(at + room));
    char *p = Tcl_DStringValue(&text_) + at;
    if (at != 0) {
        *p++ = ' ';
    }
    *p++ = '{';
    // An empty view may have no data at all.
    if (!elem.empty()) {
        std::memcpy(p, elem.data(), elem.size());
    }
    p[elem.size()] = '}';
}

void ResultText::SetListResult(Tcl_Interp *interp, Tcl_Obj *list)
{
    Tcl_InvalidateStringRep(list);
    int size = Tcl_DStringLength(&text_);
    if (text_.string == text_.staticSpace) {
        list->bytes = static_cast<char *>(ckalloc(static_cast<unsigned>(size) + 1));
        std::memcpy(list->bytes, text_.string, static_cast<size_t>(size) + 1);
    } else {
        // Taken over, as Tcl_DStringResult does.
        list->bytes = text_.string;
        Tcl_DStringInit(&text_);
    }
    list->length = size;
    Tcl_DStringFree(&text_);
    Tcl_SetObjResult(interp, list);
}

Tcl_Obj *AttemptNewStringObj(size_t size, char **bufferPtr)
{
    if (size > static_cast<size_t>(INT_MAX)) {
        return nullptr;
    }
    char *bytes = static_cast<char *>(attemptckalloc(static_cast<unsigned>(size) + 1));
    if (bytes == nullptr) {
        return nullptr;
    }
    bytes[size] = '\0';
    Tcl_Obj *obj = Tcl_NewObj();
    Tcl_InvalidateStringRep(obj);
    obj->bytes = bytes;
    obj->length = static_cast<int>(size);
    *bufferPtr = bytes;
    return obj;
}

void ShowNotes(Tcl_Interp *interp)
{
    Tcl_Obj *result = Tcl_GetObjResult(interp);
    Tcl_Channel err = Tcl_GetStdChannel(TCL_STDERR);
    if (Tcl_GetCharLength(result) > 0 && err != nullptr) {
        Tcl_WriteObj(err, result);
        Tcl_WriteChars(err, "\n", 1);
        Tcl_Flush(err);
    }
    Tcl_ResetResult(interp);
}

int WrongArgs(Tcl_Interp *interp, Tcl_Obj *commandNameObj, const char *usage)
{
    // Hold the name so that, should it be the result object itself, the
    // append works on a copy and the name's text stays valid.
    ObjRef hold(commandNameObj);
    const char *name = Tcl_GetString(commandNameObj);
    if (usage != nullptr && usage[0] != '\0') {
        AppendResult(interp, "wrong # args: ", name, " ", usage);
    } else {
        AppendResult(interp, "wrong # args: ", name);
    }
    return UsageCode(interp);
}

int SetErrorCodeParts(Tcl_Interp *interp, std::initializer_list<std::string_view> words)
{
    if (interp == nullptr) {
        return TCL_ERROR;
    }
    Tcl_Obj *code = Tcl_NewListObj(0, nullptr);
    for (std::string_view word : words) {
        Tcl_ListObjAppendElement(nullptr, code, NewStringObj(word));
    }
    Tcl_SetObjErrorCode(interp, code);
    return TCL_ERROR;
}

const char *PosixCode(Tcl_Interp *interp, int errnum)
{
    Tcl_SetErrno(errnum);
    if (interp == nullptr) {
        return Tcl_ErrnoMsg(errnum);
    }
    return Tcl_PosixError(interp);
}

ObjRef CallQuietly(Tcl_Interp *interp, const char *cmdName,
                   std::initializer_list<Tcl_Obj *> args)
{
    // The arguments may be new objects: held here and freed whatever happens.
    for (Tcl_Obj *arg : args) {
        Tcl_IncrRefCount(arg);
    }
    ObjRef result;
    constexpr size_t kMaxWords = 8; // callers pass a word or three
    Tcl_CmdInfo info;
    if (args.size() < kMaxWords && Tcl_GetCommandInfo(interp, cmdName, &info) &&
        info.objProc != nullptr) {
        ObjRef name(Tcl_NewStringObj(cmdName, -1));
        Tcl_Obj *objv[kMaxWords] = {name.get()};
        std::copy(args.begin(), args.end(), objv + 1);
        Tcl_InterpState state = Tcl_SaveInterpState(interp, TCL_OK);
        Tcl_ResetResult(interp);
        if (info.objProc(info.objClientData, interp, static_cast<int>(args.size() + 1), objv) ==
            TCL_OK) {
            result = ObjRef(Tcl_GetObjResult(interp));
        }
        Tcl_RestoreInterpState(interp, state);
    }
    for (Tcl_Obj *arg : args) {
        Tcl_DecrRefCount(arg);
    }
    return result;
}

int OutOfMemory(Tcl_Interp *interp)
{
    // A literal object: nothing to allocate beyond what Tcl keeps in reserve.
    Tcl_SetResult(interp, const_cast<char *>("not enough memory"), TCL_STATIC);
    return TCL_ERROR;
}

int IntegerTooLarge(Tcl_Interp *interp)
{
    static const char kTooLarge[] = "integer value too large to represent";
    if (interp != nullptr) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(kTooLarge, -1));
        Tcl_SetErrorCode(interp, "ARITH", "IOVERFLOW", kTooLarge, static_cast<char *>(nullptr));
    }
    return TCL_ERROR;
}

int GetWideInt(Tcl_Interp *interp, Tcl_Obj *obj, Tcl_WideInt *valuePtr, int *beyondPtr)
{
    static const Tcl_ObjType *const intType = Tcl_GetObjType("int");
    static const Tcl_ObjType *const wideType = Tcl_GetObjType("wideInt");
    Tcl_WideInt value;
    bool read = Tcl_GetWideIntFromObj(nullptr, obj, &value) == TCL_OK;
    int beyond = 0;
    if (!read || obj->typePtr == nullptr ||
        (obj->typePtr != intType && obj->typePtr != wideType)) {
        // Not an integer, or a big one that Tcl may have wrapped.
        mp_int big;
        if (Tcl_GetBignumFromObj(interp, obj, &big) != TCL_OK) {
            return TCL_ERROR;
        }
        int bits = mp_count_bits(&big);
        bool negative = big.sign == MP_NEG;
        mp_clear(&big);
        if (!read || bits > 64 || (bits == 64 && !(negative && value == INT64_MIN))) {
            beyond = negative ? -1 : 1;
            value = negative ? INT64_MIN : INT64_MAX;
        }
    }
    if (beyond != 0 && beyondPtr == nullptr) {
        return IntegerTooLarge(interp);
    }
    *valuePtr = value;
    if (beyondPtr != nullptr) {
        *beyondPtr = beyond;
    }
    return TCL_OK;
}

int GetInt(Tcl_Interp *interp, Tcl_Obj *obj, int *valuePtr)
{
    Tcl_WideInt value;
    if (GetWideInt(interp, obj, &value) != TCL_OK) {
        return TCL_ERROR;
    }
    if (value < INT_MIN || value > INT_MAX) {
        return IntegerTooLarge(interp);
    }
    *valuePtr = static_cast<int>(value);
    return TCL_OK;
}

int GetInt(Tcl_Interp *interp, const char *text, int *valuePtr)
{
    ObjRef obj(Tcl_NewStringObj(text, -1));
    return GetInt(interp, obj.get(), valuePtr);
}

int ExprWideInt(Tcl_Interp *interp, Tcl_Obj *expr, Tcl_WideInt *valuePtr, int *beyondPtr)
{
    // Not Tcl_ExprLongObj: it wraps big results, and leaks its value when
    // the expression yields no number (a boolean word, say).
    Tcl_Obj *result;
    if (Tcl_ExprObj(interp, expr, &result) != TCL_OK) {
        return TCL_ERROR;
    }
    Tcl_WideInt value;
    int beyond = 0;
    double d;
    int code = TCL_OK;
    if (GetWideInt(nullptr, result, &value, &beyond) == TCL_OK) {
        // an integer
    } else if (Tcl_GetDoubleFromObj(nullptr, result, &d) == TCL_OK && d == d) {
        if (d >= -9223372036854775808.0 && d < 9223372036854775808.0) {
            value = static_cast<Tcl_WideInt>(d);
        } else {
            beyond = d < 0 ? -1 : 1;
            value = d < 0 ? INT64_MIN : INT64_MAX;
        }
    } else {
        code = Tcl_GetWideIntFromObj(interp, result, &value);  // Tcl's message
    }
    Tcl_DecrRefCount(result);
    if (code != TCL_OK) {
        return TCL_ERROR;
    }
    if (beyond != 0 && beyondPtr == nullptr) {
        return IntegerTooLarge(interp);
    }
    *valuePtr = value;
    if (beyondPtr != nullptr) {
        *beyondPtr = beyond;
    }
    return TCL_OK;
}

int NextChar(const char *p, int *codePtr, int *unitsPtr)
{
    Tcl_UniChar ch = 0;
    int size = Tcl_UtfToUniChar(p, &ch);
    int code = ch;
    int units = 1;
    if ((code & 0xFC00) == 0xD800) {
        // Tcl reads a four-byte sequence in two steps, the second one
        // knowing the first half: so the half goes in.
        Tcl_UniChar low = ch;
        int more = Tcl_UtfToUniChar(p + size, &low);
        if ((low & 0xFC00) == 0xDC00) {
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            size += more;
            units = 2;
        }
    }
    *codePtr = code;
    if (unitsPtr != nullptr) {
        *unitsPtr = units;
    }
    return size;
}

std::string_view TrimBlanks(std::string_view text)
{
    const char *blanks = " \t\r\n\f\v";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return std::string_view();
    }
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::vector<std::string> SplitPathList(std::string_view list)
{
    std::vector<std::string> elements;
    ForEachPathElement(list, [&](std::string_view element) { elements.emplace_back(element); });
    return elements;
}

std::string ToSystem(std::string_view text)
{
    Tcl_DString converted;
    Tcl_UtfToExternalDString(nullptr, text.data(), static_cast<int>(text.size()), &converted);
    return TakeDString(&converted);
}

std::string FromSystem(std::string_view text)
{
    Tcl_DString converted;
    Tcl_ExternalToUtfDString(nullptr, text.data(), static_cast<int>(text.size()), &converted);
    return TakeDString(&converted);
}

} // namespace orx
