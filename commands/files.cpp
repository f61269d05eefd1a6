// File, path and drive commands.  Texts with drive letters ("c:/work") keep
// their rules, so scripts written for Windows still take them apart; the
// native form is this system's (forward slashes), there are no drive letters,
// and a mount point is what a drive root was (docs/platform.md).
#include "orx_files.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "base/internal.h"
#include "platform/orxplat.h"

namespace {

const char kConversionFailed[] = "Path string conversion failed.";

// Tcl's file-name translation (tilde substitution, native form).
bool Translate(Tcl_Interp *interp, const char *name, std::string *out)
{
    Tcl_DString buffer;
    const char *translated = Tcl_TranslateFileName(interp, name, &buffer);
    if (translated == nullptr) {
        return false;
    }
    out->assign(translated);
    Tcl_DStringFree(&buffer);
    return true;
}

int SetResult(Tcl_Interp *interp, const std::string &text)
{
    Tcl_SetObjResult(interp, orx::NewStringObj(text));
    return TCL_OK;
}

std::string Neutral(std::string text)
{
    for (char &c : text) {
        if (c == '\\') {
            c = '/';
        }
    }
    return text;
}

// The working directory, however long.
bool CurrentDir(std::string *dir)
{
    std::vector<char> buffer(PATH_MAX);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            return false;
        }
        buffer.resize(buffer.size() * 2);
    }
    dir->assign(buffer.data());
    return true;
}

// The absolute form of name with "." and ".." resolved by the text alone, as
// the full-path function of the original did (symbolic links are kept).
bool Expand(const std::string &name, std::string *out)
{
    std::string full = name;
    if (full.empty() || full[0] != '/') {
        std::string cwd;
        if (!CurrentDir(&cwd)) {
            return false;
        }
        full = cwd + "/" + full;
    }
    std::vector<std::string_view> parts;
    std::string_view rest(full);
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
            continue;
        }
        parts.push_back(part);
    }
    out->clear();
    for (std::string_view part : parts) {
        out->append("/").append(part);
    }
    if (out->empty()) {
        out->assign("/");
    }
    return true;
}

bool IsOctal(char c)
{
    return c >= '0' && c <= '7';
}

// Mount points from /proc/self/mountinfo (field 5, with \ooo escapes).
std::vector<std::string> MountPoints()
{
    std::vector<std::string> points;
    std::string text;
    std::string why;
    if (orx::ReadWholeFile("/proc/self/mountinfo", 64 << 20, &text, &why) != orx::ReadStatus::Ok) {
        return points;
    }
    orx::ForEachLine(text, [&](std::string_view line, int) {
        for (int field = 0; field < 4; ++field) {
            size_t blank = line.find(' ');
            if (blank == std::string_view::npos) {
                return;
            }
            line.remove_prefix(blank + 1);
        }
        std::string_view raw = line.substr(0, line.find(' '));
        std::string point;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 3 < raw.size() && IsOctal(raw[i + 1]) &&
                IsOctal(raw[i + 2]) && IsOctal(raw[i + 3])) {
                point.push_back(static_cast<char>(((raw[i + 1] - '0') << 6) |
                                                  ((raw[i + 2] - '0') << 3) | (raw[i + 3] - '0')));
                i += 3;
            } else {
                point.push_back(raw[i]);
            }
        }
        points.push_back(point);
    });
    return points;
}

// Whether path names the directory on which a file system is mounted (the
// counterpart of a drive root holding a volume).
bool IsActiveMount(const char *path)
{
    char *real = ::realpath(path, nullptr);
    if (real == nullptr) {
        return false;
    }
    std::string resolved(real);
    std::free(real);
    struct stat st;
    struct statvfs vfs;
    if (::stat(resolved.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        ::statvfs(resolved.c_str(), &vfs) != 0) {
        return false;
    }
    std::vector<std::string> points = MountPoints();
    if (points.empty()) {
        // No mount table: a mount point is on another device than its parent.
        struct stat parent;
        return resolved == "/" ||
               (::stat((resolved + "/..").c_str(), &parent) == 0 && parent.st_dev != st.st_dev);
    }
    for (const std::string &point : points) {
        if (point == resolved) {
            return true;
        }
    }
    return false;
}

} // namespace

int Orx_GetDrivesCmd(ClientData, Tcl_Interp *interp, int, const char *[])
{
    Tcl_ResetResult(interp); // no drive letters here
    return TCL_OK;
}

int Orx_GetCurrentDriveCmd(ClientData, Tcl_Interp *interp, int, const char *[])
{
    Tcl_ResetResult(interp); // as for a share path: no drive
    return TCL_OK;
}

int Orx_FileDriveCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc != 2) {
        return orx::SetError(interp, argv[0], ":  missing path argument.");
    }
    // The second character, not the second byte: é takes two.
    const char *path = argv[1];
    std::string drive;
    int letter;
    int size = path[0] != '\0' ? orx::NextChar(path, &letter) : 0;
    if (size > 0 && path[size] == ':') {
        char upper[TCL_UTF_MAX + 4];
        if (letter <= 0xFFFF) {
            drive.assign(upper, static_cast<size_t>(
                                    Tcl_UniCharToUtf(Tcl_UniCharToUpper(letter), upper)));
        } else {
            drive.assign(path, static_cast<size_t>(size));  // a surrogate pair
        }
        drive.push_back(':');
    }
    return orx::Guard(interp, [&] { return SetResult(interp, drive); });
}

int Orx_FilePathCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc != 2) {
        return orx::SetError(interp, argv[0], ":  missing path argument.");
    }
    return orx::Guard(interp, [&] {
        std::string path;
        if (!Translate(interp, argv[1], &path)) {
            return orx::SetError(interp, kConversionFailed);
        }
        size_t colon = path.find(':');
        return SetResult(interp, colon == std::string::npos ? path : path.substr(colon + 1));
    });
}

int Orx_FileComposeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc != 3) {
        return orx::SetError(interp, argv[0], ":  missing drive or path argument.");
    }
    return orx::Guard(interp, [&] {
        std::string path;
        if (!Translate(interp, (std::string(argv[1]) + argv[2]).c_str(), &path)) {
            return orx::SetError(interp, kConversionFailed);
        }
        return SetResult(interp, Neutral(path));
    });
}

int Orx_FileNativeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc != 2) {
        return orx::SetError(interp, argv[0], ":  incorrect arguments; path");
    }
    return orx::Guard(interp, [&] {
        std::string path;
        if (!Translate(interp, argv[1], &path)) {
            return orx::SetError(interp, kConversionFailed);
        }
        return SetResult(interp, path);
    });
}

int Orx_FileNeutralCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc != 2) {
        return orx::SetError(interp, argv[0], ": incorrect arguments: path");
    }
    return orx::Guard(interp, [&] {
        std::string path;
        if (!Translate(interp, argv[1], &path)) {
            return orx::SetError(interp, kConversionFailed);
        }
        return SetResult(interp, Neutral(path));
    });
}

int Orx_FileVerifyDriveCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc != 2) {
        return orx::SetError(interp, argv[0], ":  incorrect arguments: drive.");
    }
    return orx::Guard(interp, [&] {
        if (!IsActiveMount(argv[1])) {
            return orx::SetError(interp, "The drive \"", argv[1],
                                 "\" is not active. Is it a removable with no disk?");
        }
        Tcl_ResetResult(interp);
        return TCL_OK;
    });
}

int Orx_FileExpandCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc != 2) {
        return orx::SetError(interp, argv[0], ": incorrect arguments: path.");
    }
    return orx::Guard(interp, [&] {
        std::string path;
        if (!Translate(interp, argv[1], &path)) {
            return orx::SetError(interp, kConversionFailed);
        }
        std::string full;
        if (!Expand(path, &full)) {
            return orx::SetError(interp, std::strerror(errno));
        }
        return SetResult(interp, full);
    });
}
