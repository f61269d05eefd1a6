// Safe file writing: Orx_Fopen and the write-to-temporary-then-rename
// handles.  Each handle writes a temporary file of its own, which is put on
// disk, replaces the target in one step (never deleting the target first)
// and the directory is synced, so a crash at any moment leaves the old or
// the new file, and two handles on one target never share a file.
#include "orx_safewrite.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "base/internal.h"
#include "orx_tclbuild.h"
#include "platform/orxplat.h"
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

// Callers may have no interpreter: the message is then dropped.
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

// The directory part of a target name: before the last "/" (without one,
// the last backslash on Windows), which stays when it is the first
// character or follows a ":" (C:\x gives C:\); "." without one.
std::string DirectoryOf(const std::string &name)
{
    size_t slash = name.rfind('/');
    if (slash == std::string::npos) {
        slash = name.rfind(OrxPlat_NativeSeparator());
    }
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0 || name[slash - 1] == ':') {
        return name.substr(0, slash + 1);
    }
    return name.substr(0, slash);
}

// A file may be written when it is a writable non-directory, or missing in a writable directory.
bool Modifiable(const std::string &name)
{
    OrxPlat_FileInfo info;
    if (OrxPlat_Stat(name.c_str(), &info) == 0) {
        if (info.type == ORXPLAT_FILE_DIRECTORY || c_faccess(name.c_str(), "w") != 0) {
            return false;
        }
    }
    std::string dir = DirectoryOf(name);
    return OrxPlat_IsDirectory(dir) && c_faccess(dir.c_str(), "wd") == 0;
}

// A temporary file of this handle's own: "<target>.tq_tmp", or, when that
// name is taken (another handle on the same target, a file an earlier crash
// left, a planted link), "<target>.<six letters>.tq_tmp".  Never through a
// link, never a file that was there; private until the close gives it the
// target's bits.
FILE *CreateTemp(Tcl_Interp *interp, const std::string &target, bool targetExists,
                 std::string *temp)
{
    if (target.size() + sizeof kTempSuffix - 1 + 7 > ORX_FOPEN_NAME_MAX) {
        OpenFailed(interp, (target + kTempSuffix).c_str(), "wb", ENAMETOOLONG);
        return nullptr;
    }
    FILE *stream = nullptr;
    if (int error = OrxPlat_CreateTempFile(target, kTempSuffix, targetExists, temp, &stream)) {
        OpenFailed(interp, (target + kTempSuffix).c_str(), "wb", error);
        return nullptr;
    }
    std::memcpy(openedNameBuffer, temp->c_str(), temp->size() + 1);
    return stream;
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
    // Only this call's message: not one of an earlier call appended to.
    if (interp != nullptr) {
        Tcl_ResetResult(interp);
    }
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
        auto handle = std::make_unique<Orx_RobustFile>();
        handle->target = target;
        OrxPlat_FileInfo info;
        handle->stream = CreateTemp(interp, target, OrxPlat_Stat(target.c_str(), &info) == 0,
                                    &handle->temp);
        return handle->stream != nullptr ? handle.release() : nullptr;
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
    // Everything written reaches the disk, with the target's permissions.
    if (int error = OrxPlat_CloseDurably(handle->stream, handle->target.c_str())) {
        // Incomplete data must not replace the target.
        OrxPlat_RemoveFile(handle->temp.c_str());
        if (interp != nullptr) {
            Tcl_ResetResult(interp);
            const char *reason = orx::PosixCode(interp, error);
            Append(interp, {"error writing \"", handle->temp, "\": ", reason, "; the file \"",
                            handle->target, "\" is unchanged."});
        }
        code = TCL_ERROR;
    } else if (int error = OrxPlat_ReplaceFile(handle->temp.c_str(), handle->target.c_str());
               error != 0) {
        if (interp != nullptr) {
            Tcl_ResetResult(interp);
        }
        Append(interp, {"Could not rename the temporary file \"", handle->temp, "\" to the file \"",
                        handle->target, "\".\nData saved into the temporary file \"", handle->temp,
                        "\" and the file \"", handle->target, "\" may demolished."});
        orx::PosixCode(interp, error);
        code = TCL_ERROR;
    } else {
        // The rename is only durable once the directory entry is on disk.
        OrxPlat_SyncDirectory(DirectoryOf(handle->target).c_str());
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
    OrxPlat_RemoveFile(handle->temp.c_str());
    delete handle;
}
