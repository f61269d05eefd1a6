// Safe file writing: Orx_Fopen and the write-to-temporary-then-rename
// handles.  On POSIX the temporary file is flushed and synced, renamed over
// the target in one step (never deleting the target first) and the
// directory synced, so a crash at any moment leaves the old or the new file.
#include "orx_safewrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "base/internal.h"
#include "orx_tclbuild.h"
#include "tq_tessary.h"

struct Orx_RobustFile {
    FILE *stream = nullptr;
    std::string target;
    std::string temp;
};

namespace {

const char kTempSuffix[] = ".tq_tmp";

// Process-wide, as callers receive a pointer into it.
char openedNameBuffer[ORX_FOPEN_NAME_MAX + 1];

void Append(Tcl_Interp *interp, std::initializer_list<std::string_view> parts)
{
    if (interp != nullptr) {
        orx::AppendResultParts(interp, parts);
    }
}

// "couldn't open file ..." for errno, with errorCode set the Tcl way.
void OpenFailed(Tcl_Interp *interp, const char *name, const char *mode, int error)
{
    if (interp == nullptr) {
        return;
    }
    const char *reason = orx::PosixCode(interp, error);
    Append(interp, {"couldn't open file \"", name, "\" with access mode \"", mode, "\":", reason});
}

// "file <what> <name>" evaluated as a command (no script text is built, so
// the name needs no quoting); false with the message left in interp.
bool FileSubcommand(Tcl_Interp *interp, const char *what, const char *name, std::string *out)
{
    Tcl_Obj *objv[3] = {Tcl_NewStringObj("file", -1), Tcl_NewStringObj(what, -1),
                        Tcl_NewStringObj(name, -1)};
    for (Tcl_Obj *obj : objv) {
        Tcl_IncrRefCount(obj);
    }
    int code = Tcl_EvalObjv(interp, 3, objv, 0);
    for (Tcl_Obj *obj : objv) {
        Tcl_DecrRefCount(obj);
    }
    if (code != TCL_OK) {
        return false;
    }
    out->assign(Tcl_GetStringResult(interp));
    return true;
}

// The directory part of a target name: before the last "/", which stays
// when it is the first character or follows a ":"; "." without one.
std::string DirectoryOf(const std::string &name)
{
    size_t slash = name.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0 || name[slash - 1] == ':') {
        return name.substr(0, slash + 1);
    }
    return name.substr(0, slash);
}

bool IsDirectory(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Modifiable(const std::string &name)
{
    struct stat st;
    if (::stat(name.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode) || c_faccess(name.c_str(), "w") != 0) {
            return false;
        }
    }
    std::string dir = DirectoryOf(name);
    return IsDirectory(dir) && c_faccess(dir.c_str(), "wd") == 0;
}

// Create the temporary file afresh: never through a symbolic link left at
// its name, and private until the close gives it the target's bits.
FILE *CreateTemp(Tcl_Interp *interp, const std::string &temp, bool targetExists)
{
    if (temp.size() > ORX_FOPEN_NAME_MAX) {
        OpenFailed(interp, temp.c_str(), "wb", ENAMETOOLONG);
        return nullptr;
    }
    ::unlink(temp.c_str()); // a stale one from an earlier crash
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    targetExists ? 0600 : 0666);
    FILE *stream = fd < 0 ? nullptr : ::fdopen(fd, "wb");
    if (stream == nullptr) {
        int error = errno;
        if (fd >= 0) {
            ::close(fd);
            ::unlink(temp.c_str());
        }
        OpenFailed(interp, temp.c_str(), "wb", error);
        return nullptr;
    }
    std::memcpy(openedNameBuffer, temp.c_str(), temp.size() + 1);
    return stream;
}

// Everything written reaches the disk; false with errno on the first failure.
bool FlushAndClose(FILE *stream, const std::string &target)
{
    int fd = ::fileno(stream);
    int writeError = errno; // what the failed write, if any, left
    errno = 0;
    bool hadError = std::ferror(stream) != 0;
    // A failed write leaves the error flag; the flush then tells why, or EIO.
    bool ok = std::fflush(stream) == 0 && !hadError;
    int error = ok ? 0 : errno != 0 ? errno : hadError && writeError != 0 ? writeError : EIO;
    struct stat st;
    if (ok && ::stat(target.c_str(), &st) == 0) {
        // The new file keeps the old one's permissions (and owner, when we may).
        if (::fchmod(fd, st.st_mode & 07777) != 0) {
            ok = false;
            error = errno;
        } else if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Only a privileged process may give a file away; not an error.
        }
    }
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        error = errno;
    }
    if (std::fclose(stream) != 0 && ok) {
        ok = false;
        error = errno;
    }
    errno = error;
    return ok;
}

// The rename is only durable once the directory entry is on disk.
void SyncDirectory(const std::string &name)
{
    int fd = ::open(DirectoryOf(name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd); // some file systems cannot sync a directory: best effort
        ::close(fd);
    }
}

} // namespace

FILE *Orx_Fopen(Tcl_Interp *interp, const char *fileName, const char *searchSpec,
                const char *mode, const char *defaultExt, const char **openedName, int noSearch)
{
    if (interp == nullptr || fileName == nullptr || mode == nullptr) {
        return nullptr;
    }
    try {
        std::string name = fileName;
        std::string extension;
        if (!FileSubcommand(interp, "extension", fileName, &extension)) {
            return nullptr;
        }
        if (extension.empty() && defaultExt != nullptr) {
            std::string root;
            if (!FileSubcommand(interp, "rootname", fileName, &root)) {
                return nullptr;
            }
            name = root + defaultExt;
        }
        Tcl_ResetResult(interp);
        if (!noSearch) {
            const char *found = Orx_Spath(interp, name.c_str(), searchSpec, mode,
                                          ORX_SPATH_PATH_FIRST);
            if (found == nullptr) {
                return nullptr;
            }
            name = found;
        }
        if (name.size() > ORX_FOPEN_NAME_MAX) {
            OpenFailed(interp, name.c_str(), mode, ENAMETOOLONG);
            return nullptr;
        }
        std::memcpy(openedNameBuffer, name.c_str(), name.size() + 1);
        FILE *stream = std::fopen(openedNameBuffer, mode);
        if (stream == nullptr) {
            OpenFailed(interp, openedNameBuffer, mode, errno);
            return nullptr;
        }
        if (openedName != nullptr) {
            *openedName = openedNameBuffer;
        }
        return stream;
    } catch (const std::bad_alloc &) {
        orx::OutOfMemory(interp);
        return nullptr;
    }
}

Orx_RobustFile *Orx_RobustFopenForWrite(Tcl_Interp *interp, const char *fileName)
{
    if (fileName == nullptr || *fileName == '\0') {
        Append(interp, {"No file name is given for writing."});
        orx::ValueCode(interp, "NAME", "");
        return nullptr;
    }
    try {
        std::string target = fileName;
        if (!Modifiable(target)) {
            Append(interp, {"The file \"", target, "\" is not modifiable for writing."});
            orx::ValueCode(interp, "FILE", target);
            return nullptr;
        }
        auto *handle = new Orx_RobustFile;
        handle->target = target;
        handle->temp = target + kTempSuffix;
        struct stat st;
        handle->stream = CreateTemp(interp, handle->temp, ::stat(target.c_str(), &st) == 0);
        if (handle->stream == nullptr) {
            delete handle;
            return nullptr;
        }
        return handle;
    } catch (const std::bad_alloc &) {
        if (interp != nullptr) {
            orx::OutOfMemory(interp);
        }
        return nullptr;
    }
}

FILE *Orx_GetFilePtr(Orx_RobustFile *handle)
{
    return handle != nullptr ? handle->stream : nullptr;
}

int Orx_RobustFcloseForWrite(Tcl_Interp *interp, Orx_RobustFile *handle)
{
    if (handle == nullptr) {
        return TCL_OK;
    }
    int code = TCL_OK;
    if (!FlushAndClose(handle->stream, handle->target)) {
        // Incomplete data must not replace the target.
        int error = errno;
        ::unlink(handle->temp.c_str());
        if (interp != nullptr) {
            const char *reason = orx::PosixCode(interp, error);
            Append(interp, {"error writing \"", handle->temp, "\": ", reason, "; the file \"",
                            handle->target, "\" is unchanged."});
        }
        code = TCL_ERROR;
    } else if (::rename(handle->temp.c_str(), handle->target.c_str()) != 0) {
        int error = errno;
        Append(interp, {"Could not rename the temporary file \"", handle->temp, "\" to the file \"",
                        handle->target, "\".\nData saved into the temporary file \"", handle->temp,
                        "\" and the file \"", handle->target, "\" may demolished."});
        orx::PosixCode(interp, error);
        code = TCL_ERROR;
    } else {
        SyncDirectory(handle->target);
    }
    delete handle;
    return code;
}

void Orx_RobustFabortForWrite(Orx_RobustFile *handle)
{
    if (handle == nullptr) {
        return;
    }
    std::fclose(handle->stream);
    ::unlink(handle->temp.c_str());
    delete handle;
}
