// The library's internal helpers (extended/internal.h): result messages, the
// out-of-memory message, and the file, path-list and access-mode readers.
#include "extended/internal.h"

#include "orx_util.h"
#include "platform/os_posix/os.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>

// Tcl's private port header falls back on its compat headers unless told
// that the system has <unistd.h>; not every Tcl install ships them.
#ifndef HAVE_UNISTD_H
#define HAVE_UNISTD_H 1
#endif
#include <tclInt.h>
#include <tclCompile.h>

namespace orx {

namespace {

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

void AppendListElement(std::string &out, std::string_view elem)
{
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
    // Tcl_DString sizes are ints, and it doubles its space as it grows.
    if (text.size() > static_cast<size_t>(INT_MAX / 2) - size()) {
        throw std::length_error("result would exceed the largest Tcl value");
    }
    Tcl_DStringAppend(&text_, text.data(), static_cast<int>(text.size()));
}

void ResultText::AppendElement(std::string_view elem)
{
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
    if (!empty()) {
        Append(" ");
    }
    Append("{");
    Append(elem);
    Append("}");
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

int OutOfMemory(Tcl_Interp *interp)
{
    // A literal object: nothing to allocate beyond what Tcl keeps in reserve.
    Tcl_SetResult(interp, const_cast<char *>("not enough memory"), TCL_STATIC);
    return TCL_ERROR;
}

bool IsRegularFile(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

ReadStatus ReadWholeFile(const std::string &path, size_t limit, std::string *text,
                         std::string *why)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer; fstat then tells.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *why = std::strerror(errno);
        return errno == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        *why = std::strerror(errno);
        return ReadStatus::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        *why = "not a regular file";
        return ReadStatus::NotRegular;
    }
    if (static_cast<unsigned long long>(st.st_size) > limit) {
        *why = "file larger than " + std::to_string(limit) + " bytes";
        return ReadStatus::TooLarge;
    }
    text->clear();
    text->reserve(static_cast<size_t>(st.st_size));
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            *why = std::strerror(errno);
            return ReadStatus::Failed;
        }
        if (n == 0) {
            return ReadStatus::Ok;
        }
        if (text->size() + static_cast<size_t>(n) > limit) { // grew while reading
            *why = "file larger than " + std::to_string(limit) + " bytes";
            return ReadStatus::TooLarge;
        }
        text->append(chunk, static_cast<size_t>(n));
    }
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

bool ParseAccessMode(const char *mode, int *amodePtr, bool *writesPtr)
{
    int amode = 0;
    bool writes = false;
    for (const char *p = mode != nullptr ? mode : ""; *p != '\0'; p++) {
        switch (*p) {
        case 'r': amode |= R_OK; break;
        case 'w':
        case 'a': amode |= W_OK; writes = true; break;
        case '+': amode |= R_OK | W_OK; writes = true; break;
        case 'x': amode |= X_OK; break;
        case 'b':
        case 't': break;
        default: return false;
        }
    }
    *amodePtr = amode;
    *writesPtr = writes;
    return true;
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

bool ExpandTilde(const std::string &name, std::string *out, std::string *why)
{
    if (name.empty() || name[0] != '~') {
        *out = name;
        return true;
    }
    size_t slash = name.find('/');
    std::string user = name.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    std::string rest = slash == std::string::npos ? std::string() : name.substr(slash);
    std::string home;
    if (user.empty()) {
        home = OrxPlat_HomeDir();
        if (home.empty()) {
            *why = "couldn't find HOME environment variable to expand path";
            return false;
        }
    } else {
        struct passwd entry, *found = nullptr;
        std::vector<char> buffer(16384);
        if (getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
            found == nullptr) {
            *why = "user \"" + user + "\" doesn't exist";
            return false;
        }
        home = found->pw_dir != nullptr ? found->pw_dir : "";
    }
    if (!home.empty() && home.back() == '/' && !rest.empty()) {
        home.pop_back();
    }
    *out = home + rest;
    return true;
}

// ---- Variable-name arguments in procedures --------------------------------

namespace {

// Tcl 8.6's compile step for a command (the CompileProc of tclInt.h).  It
// adds the slot exactly as TclFindCompiledLocal, which libtcl does not
// export, would, then declines: Tcl rewinds and emits the ordinary call, and
// the run-time look-up of the name finds the slot through the name literal.
int CompileVarArgAsLocalProc(Tcl_Interp *, Tcl_Parse *parsePtr, Command *, CompileEnv *envPtr)
{
    Proc *procPtr = envPtr->procPtr;
    if (procPtr == nullptr || parsePtr->numWords < 2) {
        return TCL_ERROR;
    }
    const Tcl_Token *word = parsePtr->tokenPtr + parsePtr->tokenPtr->numComponents + 1;
    if (word->type != TCL_TOKEN_SIMPLE_WORD) {
        return TCL_ERROR;
    }
    const char *name = word[1].start;
    int len = word[1].size;
    if (len <= 0) {
        return TCL_ERROR;
    }
    // Qualified names and array elements keep the run-time look-up.
    for (int i = 0; i < len; i++) {
        if (name[i] == '(' || name[i] == ')' || (name[i] == ':' && i + 1 < len && name[i + 1] == ':')) {
            return TCL_ERROR;
        }
    }
    CompiledLocal *localPtr = procPtr->firstLocalPtr;
    for (int i = 0; i < procPtr->numCompiledLocals; i++, localPtr = localPtr->nextPtr) {
        if (!(localPtr->flags & VAR_TEMPORARY) && localPtr->nameLength == len &&
            std::memcmp(localPtr->name, name, static_cast<size_t>(len)) == 0) {
            return TCL_ERROR;
        }
    }
    localPtr = reinterpret_cast<CompiledLocal *>(
        ckalloc(offsetof(CompiledLocal, name) + 1U + static_cast<unsigned>(len)));
    localPtr->nextPtr = nullptr;
    localPtr->nameLength = len;
    localPtr->frameIndex = procPtr->numCompiledLocals;
    localPtr->flags = 0;
    localPtr->defValuePtr = nullptr;
    localPtr->resolveInfo = nullptr;
    std::memcpy(localPtr->name, name, static_cast<size_t>(len));
    localPtr->name[len] = '\0';
    if (procPtr->firstLocalPtr == nullptr) {
        procPtr->firstLocalPtr = localPtr;
    } else {
        procPtr->lastLocalPtr->nextPtr = localPtr;
    }
    procPtr->lastLocalPtr = localPtr;
    procPtr->numCompiledLocals++;
    return TCL_ERROR;
}

} // namespace

void CompileVarArgAsLocal(Tcl_Command command)
{
    int major;
    int minor;
    Tcl_GetVersion(&major, &minor, nullptr, nullptr);
    if (command == nullptr || major != 8 || minor != 6) {
        return;
    }
    reinterpret_cast<Command *>(command)->compileProc = CompileVarArgAsLocalProc;
}

} // namespace orx
