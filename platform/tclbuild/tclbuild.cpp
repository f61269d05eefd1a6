// What the product's own Tcl build adds to Tcl, done on Linux: the main
// interpreter record, the path search behind Orx_Spath and spath, path-list
// splitting, and the coverage hooks (which record no coverage here).

#include "orx_tclbuild.h"

#include "base/internal.h"
#include "platform/orxplat.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

namespace {

const char kSpathAssoc[] = "orx_spath";

// Process-wide: the one main interpreter, set and read on the main thread.
Tcl_Interp *mainInterp = nullptr;

// The main interpreter pointer must not outlive its interpreter.
void ForgetMainInterp(ClientData clientData, Tcl_Interp *)
{
    if (mainInterp == static_cast<Tcl_Interp *>(clientData)) {
        mainInterp = nullptr;
    }
}

void FreeSpathBuffer(ClientData clientData, Tcl_Interp *)
{
    delete static_cast<std::string *>(clientData);
}

// Per interpreter, so the returned path stays valid until the next spath call there.
std::string *SpathBuffer(Tcl_Interp *interp)
{
    auto *buffer = static_cast<std::string *>(Tcl_GetAssocData(interp, kSpathAssoc, nullptr));
    if (buffer == nullptr) {
        buffer = new std::string;
        Tcl_SetAssocData(interp, kSpathAssoc, FreeSpathBuffer, buffer);
    }
    return buffer;
}

// A file granting amode: a regular file, or, when the caller named it by an
// explicit path (anyKind), any file but a directory.  A FIFO or device that
// a search comes upon would hold the caller up when opened.
bool Usable(const std::string &path, int amode, bool anyKind)
{
    OrxPlat_FileInfo info;
    if (OrxPlat_Stat(path.c_str(), &info) != 0 || info.type == ORXPLAT_FILE_DIRECTORY ||
        (info.type != ORXPLAT_FILE_REGULAR && !anyKind)) {
        return false;
    }
    return OrxPlat_Access(path.c_str(), amode != 0 ? amode : ORXPLAT_ACCESS_EXISTS) == 0;
}

// A name that does not exist yet but could be created: its directory exists
// and may be written into.
bool Creatable(const std::string &path)
{
    OrxPlat_FileInfo info;
    if (OrxPlat_LinkStat(path.c_str(), &info) == 0) {
        return false;
    }
    std::string::size_type slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    return OrxPlat_IsDirectory(dir) &&
           OrxPlat_Access(dir.c_str(), ORXPLAT_ACCESS_WRITE | ORXPLAT_ACCESS_EXECUTE) == 0;
}

// A name given relative to a fixed place is not searched for along the path.
bool Anchored(const char *name)
{
    return name[0] == '/' || name[0] == '~' || strncmp(name, "./", 2) == 0 ||
           strncmp(name, "../", 3) == 0 || strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

// The not-found message, with the search path when one was given.
void SpathFailure(Tcl_Interp *interp, const char *fileName, const char *searchSpec,
                  const char *mode)
{
    Tcl_Obj *msg = Tcl_ObjPrintf("couldn't find file \"%s\" with access mode \"%s\"", fileName,
                                 mode != nullptr ? mode : "");
    if (searchSpec != nullptr && *searchSpec != '\0') {
        Tcl_AppendPrintfToObj(msg, " along \"%s\"", searchSpec);
    }
    Tcl_SetObjResult(interp, msg);
    orx::LookupCode(interp, "FILE", fileName);
}

// spath fileName envVar ?mode?
int SpathObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 3 || objc > 4) {
        Tcl_WrongNumArgs(interp, 1, objv, "fileName envVar ?mode?");
        return TCL_ERROR;
    }
    const char *found = Orx_Spath(interp, Tcl_GetString(objv[1]), Tcl_GetString(objv[2]),
                                  objc == 4 ? Tcl_GetString(objv[3]) : "r",
                                  ORX_SPATH_PATH_FIRST);
    if (found == nullptr) {
        return TCL_ERROR;
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(found, -1));
    return TCL_OK;
}

} // namespace

extern "C" {

void Orx_SetMainInterp(Tcl_Interp *interp)
{
    if (mainInterp != nullptr) {
        Tcl_DontCallWhenDeleted(mainInterp, ForgetMainInterp, mainInterp);
    }
    mainInterp = interp;
    if (interp != nullptr) {
        Tcl_CallWhenDeleted(interp, ForgetMainInterp, interp);
        Orx_TclBuildInit(interp);
    }
}

Tcl_Interp *Orx_GetMainInterp(void)
{
    return mainInterp;
}

int Orx_TclBuildInit(Tcl_Interp *interp)
{
    Tcl_CreateObjCommand(interp, "spath", SpathObjCmd, nullptr, nullptr);
    return TCL_OK;
}

} // extern "C"

namespace {

// The first file along the search path that allows mode; null with the message set.
const char *SpathSearch(Tcl_Interp *interp, const char *fileName, const char *searchSpec,
                        const char *mode, int flags)
{
    int amode;
    bool writes;
    if (!OrxPlat_ParseAccessMode(mode, &amode, &writes)) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("bad access mode \"%s\": must be made of "
                                               "r, w, a, x, +, b and t", mode));
        orx::ValueCode(interp, "OPTION", mode);
        return nullptr;
    }
    if (*fileName == '\0') {
        SpathFailure(interp, fileName, searchSpec, mode);
        return nullptr;
    }

    // The search runs on system names (PATH is one already); the name found
    // goes back to Tcl's encoding.  "~" is expanded as at start-up: HOME,
    // else the user database.
    std::string name = orx::ToSystem(fileName);
    std::string given = name;
    if (name[0] == '~') {
        std::string why;
        if (!OrxPlat_ExpandTilde(name, &given, &why)) {
            Tcl_SetObjResult(interp, orx::NewStringObj(orx::FromSystem(why)));
            orx::ValueCode(interp, "NAME", fileName);
            return nullptr;
        }
    }

    // Candidates are tried as they come: no container of strings, whose
    // template code would leave the library as exported symbols.
    std::string *buffer = SpathBuffer(interp);
    bool anchored = Anchored(fileName);
    auto accept = [&](const std::string &candidate) {
        if (!Usable(candidate, amode, anchored)) {
            return false;
        }
        *buffer = orx::FromSystem(candidate);
        return true;
    };
    bool pathFirst = (flags & ORX_SPATH_PATH_FIRST) != 0;
    if ((!pathFirst || anchored) && accept(given)) {
        return buffer->c_str();
    }
    const char *pathValue =
        searchSpec != nullptr && *searchSpec != '\0' && !anchored ? getenv(searchSpec) : nullptr;
    if (pathValue != nullptr) {
        int count;
        char **dirs;
        if (Orx_SplitPathVar(interp, pathValue, &count, &dirs) != TCL_OK) {
            return nullptr;
        }
        bool found = false;
        for (int i = 0; i < count && !found; i++) {
            std::string candidate = dirs[i];
            if (candidate.back() != '/') {
                candidate += '/';
            }
            candidate += name;
            found = accept(candidate);
        }
        Tcl_Free(reinterpret_cast<char *>(dirs));
        if (found) {
            return buffer->c_str();
        }
    }
    if (pathFirst && !anchored && accept(given)) {
        return buffer->c_str();
    }
    if (writes && Creatable(given)) {
        *buffer = orx::FromSystem(given);
        return buffer->c_str();
    }
    SpathFailure(interp, fileName, searchSpec, mode);
    return nullptr;
}

} // namespace

extern "C" {

const char *Orx_Spath(Tcl_Interp *interp, const char *fileName, const char *searchSpec,
                      const char *mode, int flags)
{
    if (interp == nullptr || fileName == nullptr) {
        return nullptr;
    }
    try {
        return SpathSearch(interp, fileName, searchSpec, mode, flags);
    } catch (const std::exception &) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("out of memory searching a path", -1));
        return nullptr;
    }
}

int Orx_SplitPathVar(Tcl_Interp *interp, const char *pathValue, int *countPtr, char ***dirsPtr)
{
    if (pathValue == nullptr) {
        if (interp != nullptr) {
            Tcl_SetObjResult(interp, Tcl_NewStringObj("no path list to split", -1));
        }
        return TCL_ERROR;
    }
    // Two passes over the text, no containers: nothing here can throw.
    size_t count = 0;
    size_t textBytes = 0;
    orx::ForEachPathElement(pathValue, [&](std::string_view element) {
        count++;
        textBytes += element.size() + 1;
    });
    size_t pointerBytes = (count + 1) * sizeof(char *);
    char *block = Tcl_Alloc(static_cast<unsigned>(pointerBytes + textBytes));
    char **dirs = reinterpret_cast<char **>(block);
    char *text = block + pointerBytes;
    size_t i = 0;
    orx::ForEachPathElement(pathValue, [&](std::string_view element) {
        dirs[i++] = text;
        memcpy(text, element.data(), element.size());
        text[element.size()] = '\0';
        text += element.size() + 1;
    });
    dirs[count] = nullptr;
    *countPtr = static_cast<int>(count);
    *dirsPtr = dirs;
    return TCL_OK;
}

int OrxCoverage_Init(void)
{
    return 0;
}

int OrxCoverage_CmdTraceCB(int enable)
{
    // Interpreters whose command tracing is set up: what a coverage run
    // would hook into.  Only the interpreter threads touch it.
    static std::atomic<int> tracedInterps{0};
    return enable ? ++tracedInterps : --tracedInterps;
}

} // extern "C"
