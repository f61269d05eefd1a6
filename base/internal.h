// The library's internal helpers, one copy of each for every subsystem: the
// object reference holder, result messages, the out-of-memory guard, integer
// and character readers, and the file, line, path-list and access-mode
// readers.  Not exported.
#ifndef ORX_EXTENDED_INTERNAL_H
#define ORX_EXTENDED_INTERNAL_H

#include <tcl.h>

#include <cstddef>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// ---- References -----------------------------------------------------------

// Holds one reference for as long as it lives; copies share the object.
class ObjRef {
public:
    ObjRef() = default;
    explicit ObjRef(Tcl_Obj *obj) : obj_(obj)
    {
        if (obj_ != nullptr) {
            Tcl_IncrRefCount(obj_);
        }
    }
    ObjRef(const ObjRef &other) : ObjRef(other.obj_) {}
    ObjRef &operator=(ObjRef other) noexcept
    {
        std::swap(obj_, other.obj_);
        return *this;
    }
    ~ObjRef()
    {
        if (obj_ != nullptr) {
            Tcl_DecrRefCount(obj_);
        }
    }
    Tcl_Obj *get() const { return obj_; }

private:
    Tcl_Obj *obj_ = nullptr;
};

namespace orx {

// ---- Result messages ------------------------------------------------------

// Replace the result with the parts joined; returns TCL_ERROR so a command
// can end with "return orx::SetError(interp, "bad x \"", x, "\"");".
int SetErrorParts(Tcl_Interp *interp, std::initializer_list<std::string_view> parts);
template <typename... Parts>
int SetError(Tcl_Interp *interp, const Parts &...parts)
{
    return SetErrorParts(interp, {std::string_view(parts)...});
}

// Append the parts to the result (a shared result object is copied first).
void AppendResultParts(Tcl_Interp *interp, std::initializer_list<std::string_view> parts);
template <typename... Parts>
void AppendResult(Tcl_Interp *interp, const Parts &...parts)
{
    AppendResultParts(interp, {std::string_view(parts)...});
}

// The system's usage error, "wrong # args: <name> <usage>", appended to the
// result, with the code "TCL WRONGARGS"; returns TCL_ERROR.  OrxX_WrongArgs
// is this, exported.
int WrongArgs(Tcl_Interp *interp, Tcl_Obj *commandNameObj, const char *usage);

// ---- Error codes ---------------------------------------------------------
//
// The classes scripts trap on (docs/reference/errors.md): "TCL WRONGARGS"
// for usage, "ORX LOOKUP <what> <name>" for a missing key or handle, "ORX
// VALUE <what> ?value?" for a bad value, Tcl's "POSIX <ENAME> <text>" for a
// failed system call.  Set them after the message: Tcl_ResetResult clears
// the code.  Each returns TCL_ERROR; a null interpreter is passed over.

int SetErrorCodeParts(Tcl_Interp *interp, std::initializer_list<std::string_view> words);
template <typename... Words>
int SetErrorCode(Tcl_Interp *interp, const Words &...words)
{
    return SetErrorCodeParts(interp, {std::string_view(words)...});
}

// "TCL WRONGARGS", as Tcl_WrongNumArgs sets it.
inline int UsageCode(Tcl_Interp *interp)
{
    return SetErrorCode(interp, "TCL", "WRONGARGS");
}

// "ORX LOOKUP <what> <name>"; what is one of the words of errors.md.
inline int LookupCode(Tcl_Interp *interp, const char *what, std::string_view name)
{
    return SetErrorCode(interp, "ORX", "LOOKUP", what, name);
}

// "ORX VALUE <what>" and "ORX VALUE <what> <value>".
inline int ValueCode(Tcl_Interp *interp, const char *what)
{
    return SetErrorCode(interp, "ORX", "VALUE", what);
}
inline int ValueCode(Tcl_Interp *interp, const char *what, std::string_view value)
{
    return SetErrorCode(interp, "ORX", "VALUE", what, value);
}

// Tcl's "POSIX <ENAME> <text>" for errnum (Tcl_SetErrno, Tcl_PosixError);
// returns Tcl's text for it, for the message.  Also sets Tcl's errno.
const char *PosixCode(Tcl_Interp *interp, int errnum);

// Write a non-empty result and a newline on Tcl's standard-error channel
// (notes of a step that went on, for the user to read), then reset it.
void ShowNotes(Tcl_Interp *interp);

// A new string object from a view (Tcl wants an int length).
inline Tcl_Obj *NewStringObj(std::string_view text)
{
    return Tcl_NewStringObj(text.data(), static_cast<int>(text.size()));
}

// The elements of a Tcl list split without an interpreter, so that no list
// parser message reaches the caller; freed with the holder.
class ListElements {
public:
    ListElements() = default;
    ListElements(const ListElements &) = delete;
    ListElements &operator=(const ListElements &) = delete;
    ~ListElements()
    {
        if (elems_ != nullptr) {
            Tcl_Free(reinterpret_cast<char *>(elems_));
        }
    }
    // False for a malformed list.
    bool Split(const char *text)
    {
        return Tcl_SplitList(nullptr, text, &count_, &elems_) == TCL_OK;
    }
    int count() const { return count_; }
    const char *operator[](int i) const { return elems_[i]; }

private:
    int count_ = 0;
    const char **elems_ = nullptr;
};

// Append elem to out as a Tcl list element, with a blank before it unless
// out is empty (as Tcl_DStringAppendElement does).  May throw std::bad_alloc,
// or std::length_error past half the largest Tcl value.
void AppendListElement(std::string &out, std::string_view elem);

// Whether "{" + text + "}" reads back as text, in a list or as a script
// word: braces balanced (a backslash hides the character after it), no final
// lone backslash.
bool BracesHold(std::string_view text);

// Append elem as "{" + elem + "}" when that reads back as elem, else with
// Tcl's list quoting (unbalanced braces, a final backslash): results written
// "in braces" stay lists.  A blank goes first unless out is empty.
void AppendBracedElement(std::string &out, std::string_view elem);

// Throws std::length_error ("result would exceed the largest Tcl value")
// unless a text of have bytes may grow by more: Tcl's string sizes are ints,
// a Tcl_DString doubles its space as it grows, and Tcl panics past them.
void CheckResultRoom(size_t have, size_t more);

// Text of a large result, grown in place (the allocator may move a large
// block without copying it) and handed to the interpreter without a copy.
// An append that would pass the largest Tcl value throws std::length_error
// ("result would exceed the largest Tcl value"); Guard reports it.
class ResultText {
public:
    ResultText() { Tcl_DStringInit(&text_); }
    ~ResultText() { Tcl_DStringFree(&text_); }
    ResultText(const ResultText &) = delete;
    ResultText &operator=(const ResultText &) = delete;
    size_t size() const { return static_cast<size_t>(Tcl_DStringLength(&text_)); }
    bool empty() const { return size() == 0; }
    void Append(std::string_view text);
    // As AppendListElement / AppendBracedElement.
    void AppendElement(std::string_view elem);
    void AppendBraced(std::string_view elem);
    // Append elem in braces: the caller knows they hold it (BracesHold).
    void AppendInBraces(std::string_view elem);
    // Set the result; the text is empty afterwards.
    void SetResult(Tcl_Interp *interp) { Tcl_DStringResult(interp, &text_); }
    // Set the result to list, an unshared list whose elements the text reads
    // back as exactly, with the text as its string: a caller taking the
    // result as a list parses nothing.  The text is empty afterwards.
    void SetListResult(Tcl_Interp *interp, Tcl_Obj *list);

private:
    Tcl_DString text_;
    std::string scratch_;
};

// A new unshared string object of exactly size bytes for the caller to fill
// before anyone reads it (*bufferPtr; a terminator is already in place).
// Null, with nothing allocated, when size exceeds what a Tcl value can hold or
// the memory cannot be had: the caller reports it rather than Tcl panicking.
Tcl_Obj *AttemptNewStringObj(size_t size, char **bufferPtr);

// Whether text holds a NUL character, as a real zero byte or as the two
// bytes C0 80 that Tcl's text uses for it: what commands refusing "binary
// data" look for.  A plain loop: the texts tested are mostly short.
inline bool HasNulChar(std::string_view text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (static_cast<unsigned char>(c - 1) >= 0xBF &&
            (c == 0 || (c == 0xC0 && i + 1 < text.size() && text[i + 1] == '\x80'))) {
            return true;
        }
    }
    return false;
}

// ---- Calling Tcl's own commands ------------------------------------------

// The result of calling the command cmdName (fully qualified, such as
// "::tcl::info::vars") with the words args, or a null holder when there is
// no such command or it fails.  The command's procedure is called directly:
// no trace sees the call, nothing is recorded, and the interpreter's result
// and error state are as they were afterwards.  For the introspection that
// Tcl offers only as commands (info, array names, namespace children).
ObjRef CallQuietly(Tcl_Interp *interp, const char *cmdName,
                   std::initializer_list<Tcl_Obj *> args);

// ---- Out of memory --------------------------------------------------------

// Set the out-of-memory message; returns TCL_ERROR.
int OutOfMemory(Tcl_Interp *interp);

// Run body, a command body that may throw (allocation, containers): no C++
// exception ever reaches Tcl.  Returns what body returns, or TCL_ERROR with
// a message.
template <typename Body>
int Guard(Tcl_Interp *interp, Body &&body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return OutOfMemory(interp);
    } catch (const std::length_error &e) {
        return SetError(interp, e.what());
    } catch (const std::exception &e) {
        return SetError(interp, "internal error: ", e.what());
    } catch (...) {
        return SetError(interp, "internal error");
    }
}

// ---- Integers and characters ---------------------------------------------

// Read any Tcl integer without the wrap of Tcl_GetIntFromObj and its long and
// wide kin, which take 4294967295 as the int -1 and 2^64 - 1 as the wide -1.
// A value within 64 bits is stored as it is.  A larger one is refused with
// Tcl's "integer value too large to represent" when beyondPtr is null;
// otherwise it is stored as the nearest 64-bit end and *beyondPtr gets its
// sign (0 for a value stored as it is).  Not an integer: Tcl's message.
int GetWideInt(Tcl_Interp *interp, Tcl_Obj *obj, Tcl_WideInt *valuePtr,
               int *beyondPtr = nullptr);

// An int argument: a value outside int is refused as above, never wrapped.
int GetInt(Tcl_Interp *interp, Tcl_Obj *obj, int *valuePtr);
int GetInt(Tcl_Interp *interp, const char *text, int *valuePtr);

// The value of an integer expression by Tcl_ExprLongObj's rules (a
// floating-point result is truncated), a value beyond 64 bits treated as
// GetWideInt treats it.
int ExprWideInt(Tcl_Interp *interp, Tcl_Obj *expr, Tcl_WideInt *valuePtr,
                int *beyondPtr = nullptr);

// Tcl's message and error code for an integer out of range; TCL_ERROR.
int IntegerTooLarge(Tcl_Interp *interp);

// The character at p in Tcl's (terminated) text: its code in *codePtr, its
// size in bytes returned.  Tcl 8.6 keeps a character above U+FFFF as two
// halves (a surrogate pair) that its positions count apart; here the pair
// reads as the one character it is, and *unitsPtr, when given, gets the
// number of Tcl positions it takes (1 or 2).
int NextChar(const char *p, int *codePtr, int *unitsPtr = nullptr);

// ---- Files and lines ------------------------------------------------------

// Walk text line by line: visit(line, lineNumber) for every line, numbered
// from 1, without its "\n" or "\r\n".  A last line without a newline counts;
// an empty text has no lines.
template <typename Visit>
void ForEachLine(std::string_view text, Visit visit)
{
    int number = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        size_t end = nl == std::string_view::npos ? text.size() : nl;
        size_t stop = end > start && text[end - 1] == '\r' ? end - 1 : end;
        visit(text.substr(start, stop - start), ++number);
        start = end + 1;
    }
}

// The value of a hexadecimal digit (either case), -1 for any other character.
inline int HexDigit(char c)
{
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

// Strip blanks (space, tab, "\r", "\n", "\f", "\v") from both ends.
std::string_view TrimBlanks(std::string_view text);

// ---- Path lists and access modes -----------------------------------------

// The separator of path lists (MORVA_HOME, PATH) on this platform: ";" on
// Windows, whose names hold drive colons.
#ifdef _WIN32
constexpr char kPathListSeparator = ';';
#else
constexpr char kPathListSeparator = ':';
#endif

// Call visit(element) for each non-empty element of a path list.
template <typename Visit>
void ForEachPathElement(std::string_view list, Visit visit)
{
    size_t start = 0;
    while (start <= list.size()) {
        size_t sep = list.find(kPathListSeparator, start);
        if (sep == std::string_view::npos) {
            sep = list.size();
        }
        if (sep > start) {
            visit(list.substr(start, sep - start));
        }
        start = sep + 1;
    }
}

// The non-empty elements of a path list.  May throw std::bad_alloc.
std::vector<std::string> SplitPathList(std::string_view list);

// ---- System encoding ------------------------------------------------------

// Text from Tcl's encoding (UTF-8) to the system encoding, and back: file
// names handed to the system, arguments and environment values taken from
// it.  May throw std::bad_alloc.
std::string ToSystem(std::string_view text);
std::string FromSystem(std::string_view text);

} // namespace orx

#endif
