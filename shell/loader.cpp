// orx:load and orx:unload: product extension packages, shared libraries that
// register further commands.  A package is known by its name; the library
// file and the entry points are derived from it and found along PATH.
#include "orx_loader.h"

#include <dlfcn.h>
#include <fenv.h>

#include <exception>
#include <string>

#include "orx_tclbuild.h"
#include "extended/internal.h"

namespace {

// Process-wide package table, name to library handle, shared by every
// interpreter and never deleted.  No lock: the commands run on the
// interpreter thread only.
Tcl_HashTable gPackageTable;
bool gPackageTableReady = false;

Tcl_HashTable *PackageTable()
{
    if (!gPackageTableReady) {
        Tcl_InitHashTable(&gPackageTable, TCL_STRING_KEYS);
        gPackageTableReady = true;
    }
    return &gPackageTable;
}

const char *DlError()
{
    const char *text = dlerror();
    return text != nullptr ? text : "";
}

// A package's code may have changed the floating-point modes.
int ResetFloatingPoint(int code)
{
    fesetenv(FE_DFL_ENV);
    return code;
}

int ListPackages(Tcl_Interp *interp)
{
    Tcl_DString names;
    Tcl_DStringInit(&names);
    Tcl_HashSearch search;
    for (Tcl_HashEntry *entry = Tcl_FirstHashEntry(PackageTable(), &search); entry != nullptr;
         entry = Tcl_NextHashEntry(&search)) {
        Tcl_DStringAppendElement(&names, static_cast<const char *>(
                                             Tcl_GetHashKey(PackageTable(), entry)));
    }
    Tcl_DString script;
    Tcl_DStringInit(&script);
    Tcl_DStringAppend(&script, "lsort ", -1);
    Tcl_DStringAppendElement(&script, Tcl_DStringValue(&names));
    int code = Tcl_Eval(interp, Tcl_DStringValue(&script));
    Tcl_DStringFree(&script);
    Tcl_DStringFree(&names);
    return code;
}


int LoadPackage(Tcl_Interp *interp, int argc, const char *argv[])
{
    bool prefixed = true;
    if (argc >= 3 && std::string(argv[argc - 1]) == "-exact") {
        prefixed = false;
        --argc;
    }
    if (argc == 1) {
        return ListPackages(interp);
    }
    if (argc > 3) {
        orx::AppendResult(interp, "wrong # args:  should be \"", argv[0],
                          " packageName routine\" or \"", argv[0], " packageName\"", " ?-exact?");
        return ResetFloatingPoint(TCL_ERROR);
    }
    const char *package = argv[1];
    std::string routine = argc == 3 ? std::string(argv[2]) : std::string(package) + "_Init";

    if (Tcl_FindHashEntry(PackageTable(), package) != nullptr) {
        orx::AppendResult(interp, "package \"", package, "\" has already been loaded.");
        return ResetFloatingPoint(TCL_ERROR);
    }
    std::string fileName = (prefixed ? "libtq_" : "") + std::string(package) + ".so";
    const char *path = Orx_Spath(interp, fileName.c_str(), "PATH", "r", 2);
    if (path == nullptr) {
        return ResetFloatingPoint(TCL_ERROR);
    }
    void *handle = dlopen(path, RTLD_LAZY);
    if (handle == nullptr) {
        orx::AppendResult(interp, "open of package \"", package, "\" failed due to: ", DlError());
        return ResetFloatingPoint(TCL_ERROR);
    }
    dlerror();
    void *symbol = dlsym(handle, routine.c_str());
    if (symbol == nullptr) {
        // The library stays mapped: a later load of the name tries again.
        orx::AppendResult(interp, "cannot find routine named \"", routine.c_str(),
                          "\" in package \"", package, "\". Failed due to:", DlError());
        return ResetFloatingPoint(TCL_ERROR);
    }
    // A failing initialisation may have registered commands already, so the
    // library stays mapped whatever the routine answers.
    int code = reinterpret_cast<Orx_PackageProc *>(symbol)(interp);
    if (code != TCL_OK) {
        return ResetFloatingPoint(code);
    }
    int isNew;
    Tcl_HashEntry *entry = Tcl_CreateHashEntry(PackageTable(), package, &isNew);
    Tcl_SetHashValue(entry, handle);
    return ResetFloatingPoint(code);
}

int UnloadPackage(Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc < 2 || argc > 3) {
        orx::AppendResult(interp, "wrong # args:  should be \"", argv[0],
                          " packageName routine\" or \"", argv[0], " packageName\"");
        return TCL_ERROR;
    }
    const char *package = argv[1];
    std::string routine = argc == 3 ? std::string(argv[2]) : std::string(package) + "_Term";

    Tcl_ResetResult(interp);
    Tcl_HashEntry *entry = Tcl_FindHashEntry(PackageTable(), package);
    if (entry == nullptr) {
        orx::AppendResult(interp, "package \"", package, "\" was not open");
        return TCL_ERROR;
    }
    // Forgotten before anything is tried: whatever fails below, the name is
    // free for a new load.
    void *handle = Tcl_GetHashValue(entry);
    Tcl_DeleteHashEntry(entry);

    dlerror();
    void *symbol = dlsym(handle, routine.c_str());
    if (symbol == nullptr) {
        dlerror();
        orx::AppendResult(interp, "cannot find routine named \"", routine.c_str(),
                          "\" in package \"", package, "\". Failed due to: dlsym lookup failure");
        return TCL_ERROR;
    }
    Tcl_ResetResult(interp);
    int code = reinterpret_cast<Orx_PackageProc *>(symbol)(interp);
    if (code != TCL_OK) {
        return code; // its commands may still be there: keep the code mapped
    }
    if (dlclose(handle) != 0) {
        orx::AppendResult(interp, "close of package \"", package, "\" failed due to: ", DlError());
        return TCL_ERROR;
    }
    return TCL_OK;
}

// The names are built in std::strings: no allocation failure may reach Tcl.
template <typename Body>
int Guarded(Tcl_Interp *interp, const char *command, Body body)
{
    try {
        return body();
    } catch (const std::exception &) {
        Tcl_ResetResult(interp);
        orx::AppendResult(interp, "out of memory in ", command);
        return ResetFloatingPoint(TCL_ERROR);
    }
}

} // namespace

int Orx_LoadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    return Guarded(interp, argv[0], [&] { return LoadPackage(interp, argc, argv); });
}

int Orx_UnloadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    return Guarded(interp, argv[0], [&] { return UnloadPackage(interp, argc, argv); });
}
