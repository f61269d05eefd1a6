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
#include <cstring>

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
    std::string result;
    try {
        result.assign(Tcl_DStringValue(&converted), Tcl_DStringLength(&converted));
    } catch (...) {
        Tcl_DStringFree(&converted);
        throw;
    }
    Tcl_DStringFree(&converted);
    return result;
}

std::string FromSystem(std::string_view text)
{
    Tcl_DString converted;
    Tcl_ExternalToUtfDString(nullptr, text.data(), static_cast<int>(text.size()), &converted);
    std::string result;
    try {
        result.assign(Tcl_DStringValue(&converted), Tcl_DStringLength(&converted));
    } catch (...) {
        Tcl_DStringFree(&converted);
        throw;
    }
    Tcl_DStringFree(&converted);
    return result;
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

} // namespace orx
