// orx:load and orx:unload: product extension packages, shared libraries that
// register further commands.  A package is known by its name; the library
// file and the entry points are derived from it and found along PATH.
#include "orx_loader.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "base/internal.h"
#include "orx_tclbuild.h"
#include "platform/orxplat.h"

namespace {

// A package mapped into the process, and the interpreters whose
// initialisation routine succeeded (those it is loaded in).
struct Package {
    OrxPlat_Library *library;
    std::string path;
    std::vector<Tcl_Interp *> users;

    bool UsedBy(Tcl_Interp *interp) const
    {
        return std::find(users.begin(), users.end(), interp) != users.end();
    }
};

// Process-wide package table, name to package, shared by every interpreter
// and never deleted.  Interpreters of several threads load, unload and go
// under gLoaderLock, held across the entry points too, so that two threads
// loading one package map it once; recursive for a routine that loads
// another package.
Tcl_HashTable gPackageTable;
bool gPackageTableReady = false;
std::recursive_mutex gLoaderLock;

const char kLoaderAssoc[] = "OrxLoader";

// The packages whose termination routine runs now, with the interpreter it
// runs in: an orx:unload of the same package from inside that routine has
// nothing left to do.
std::vector<std::pair<std::string, Tcl_Interp *>> gProcessTerminating;

// Initialised on first use, by whichever interpreter loads first.
Tcl_HashTable *PackageTable()
{
    if (!gPackageTableReady) {
        Tcl_InitHashTable(&gPackageTable, TCL_STRING_KEYS);
        gPackageTableReady = true;
    }
    return &gPackageTable;
}

Package *RecordOf(Tcl_HashEntry *entry)
{
    return static_cast<Package *>(Tcl_GetHashValue(entry));
}

// A package's code may have changed the floating-point modes.
int ResetFloatingPoint(int code)
{
    OrxPlat_ResetFloatingPoint();
    return code;
}

// A deleted interpreter no longer uses its packages.  One nobody uses leaves
// the table; its library stays mapped, as after a failed termination, since
// its _Term cannot run in an interpreter being torn down.
void InterpGone(ClientData, Tcl_Interp *interp)
{
    std::lock_guard<std::recursive_mutex> lock(gLoaderLock);
    Tcl_HashSearch search;
    for (Tcl_HashEntry *entry = Tcl_FirstHashEntry(PackageTable(), &search); entry != nullptr;
         entry = Tcl_NextHashEntry(&search)) {
        Package *package = RecordOf(entry);
        auto &users = package->users;
        users.erase(std::remove(users.begin(), users.end(), interp), users.end());
        if (users.empty()) {
            Tcl_DeleteHashEntry(entry); // the search has already moved past it
            delete package;
        }
    }
}

// The entry point named routine as the package itself defines it: found only
// in a library the package depends on (getpid of the C library), the routine
// counts as missing.  Null then, with *why as the loader would word it (the
// loader's text quotes system file names: back to Tcl's encoding).
void *FindEntryPoint(OrxPlat_Library *library, const std::string &path,
                     const std::string &routine, std::string *why)
{
    void *symbol = nullptr;
    switch (OrxPlat_FindSymbol(library, routine.c_str(), &symbol, why)) {
    case ORXPLAT_SYMBOL_FOUND: return symbol;
    case ORXPLAT_SYMBOL_MISSING: *why = orx::FromSystem(*why); return nullptr;
    case ORXPLAT_SYMBOL_FOREIGN: break;
    }
    *why = path + ": undefined symbol: " + routine;
    return nullptr;
}

// The names of the packages this interpreter loaded.
int ListPackages(Tcl_Interp *interp)
{
    Tcl_DString names;
    Tcl_DStringInit(&names);
    Tcl_HashSearch search;
    for (Tcl_HashEntry *entry = Tcl_FirstHashEntry(PackageTable(), &search); entry != nullptr;
         entry = Tcl_NextHashEntry(&search)) {
        if (RecordOf(entry)->UsedBy(interp)) {
            Tcl_DStringAppendElement(&names, static_cast<const char *>(
                                                 Tcl_GetHashKey(PackageTable(), entry)));
        }
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

// The routine message; floating-point modes are reset on this path too.
int MissingLoadRoutine(Tcl_Interp *interp, const std::string &routine, const char *package,
                       const std::string &why)
{
    orx::AppendResult(interp, "cannot find routine named \"", routine.c_str(), "\" in package \"",
                      package, "\". Failed due to:", why.c_str());
    return ResetFloatingPoint(orx::LookupCode(interp, "ROUTINE", routine));
}

// Record that interp uses the package from now on.  False when memory runs
// out; nothing is recorded then.
bool AddUser(Package *package, Tcl_Interp *interp)
{
    try {
        package->users.push_back(interp);
    } catch (const std::bad_alloc &) {
        return false;
    }
    if (Tcl_GetAssocData(interp, kLoaderAssoc, nullptr) == nullptr) {
        Tcl_SetAssocData(interp, kLoaderAssoc, InterpGone, &gPackageTable);
    }
    return true;
}

// A package another interpreter has loaded: its library is mapped already,
// only the routine runs in this interpreter.
int LoadInFurtherInterp(Tcl_Interp *interp, const char *package, Package *record,
                        const std::string &routine)
{
    std::string why;
    void *symbol = FindEntryPoint(record->library, record->path, routine, &why);
    if (symbol == nullptr) {
        return MissingLoadRoutine(interp, routine, package, why);
    }
    int code = reinterpret_cast<Orx_PackageProc *>(symbol)(interp);
    if (code == TCL_OK) {
        // Out of memory: not recorded, as if the record could not be made.
        (void)AddUser(record, interp);
    }
    return ResetFloatingPoint(code);
}

// Body of load; with no package, lists those this interpreter loaded.
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
        return ResetFloatingPoint(orx::UsageCode(interp));
    }
    const char *package = argv[1];
    std::string routine = argc == 3 ? std::string(argv[2]) : std::string(package) + "_Init";

    if (Tcl_HashEntry *entry = Tcl_FindHashEntry(PackageTable(), package)) {
        Package *record = RecordOf(entry);
        if (!record->UsedBy(interp)) {
            return LoadInFurtherInterp(interp, package, record, routine);
        }
        orx::AppendResult(interp, "package \"", package, "\" has already been loaded.");
        return ResetFloatingPoint(TCL_ERROR);
    }
    std::string fileName = (prefixed ? "libtq_" : "") + std::string(package) + OrxPlat_LibrarySuffix();
    const char *found = Orx_Spath(interp, fileName.c_str(), "PATH", "r", 2);
    if (found == nullptr) {
        return ResetFloatingPoint(TCL_ERROR);
    }
    std::string path(found);
    if (path.find('/') == std::string::npos) {
        path.insert(0, "./"); // found in the current directory, where dlopen does not look
    }
    errno = 0; // the search above leaves the errno of the names it tried
    // Every symbol is bound now: a package calling a function nobody
    // defines fails here rather than ending the process when it is called.
    std::string why;
    OrxPlat_Library *library = OrxPlat_OpenLibrary(orx::ToSystem(path).c_str(), &why);
    if (library == nullptr) {
        // No errno: the file is there but no library the loader can map.
        int error = errno != 0 ? errno : ENOEXEC;
        orx::AppendResult(interp, "open of package \"", package, "\" failed due to: ",
                          orx::FromSystem(why).c_str());
        orx::PosixCode(interp, error);
        return ResetFloatingPoint(TCL_ERROR);
    }
    void *symbol = FindEntryPoint(library, path, routine, &why);
    if (symbol == nullptr) {
        // The library stays mapped: a later load of the name tries again.
        return MissingLoadRoutine(interp, routine, package, why);
    }
    Package *record = nullptr;
    try {
        record = new Package{library, path, {}};
    } catch (const std::bad_alloc &) {
        // Without a record the package is not entered, as after a failure.
    }
    // A failing initialisation may have registered commands already, so the
    // library stays mapped whatever the routine answers.
    int code = reinterpret_cast<Orx_PackageProc *>(symbol)(interp);
    if (code != TCL_OK || record == nullptr || !AddUser(record, interp)) {
        delete record;
        return ResetFloatingPoint(code);
    }
    int isNew;
    Tcl_HashEntry *entry = Tcl_CreateHashEntry(PackageTable(), package, &isNew);
    Tcl_SetHashValue(entry, record);
    return ResetFloatingPoint(code);
}

// Runs the package's termination routine (name_Term by default) for this interpreter.
int UnloadPackage(Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc < 2 || argc > 3) {
        orx::AppendResult(interp, "wrong # args:  should be \"", argv[0],
                          " packageName routine\" or \"", argv[0], " packageName\"");
        return orx::UsageCode(interp);
    }
    const char *package = argv[1];
    std::string routine = argc == 3 ? std::string(argv[2]) : std::string(package) + "_Term";

    Tcl_ResetResult(interp);
    const std::pair<std::string, Tcl_Interp *> self(package, interp);
    if (std::find(gProcessTerminating.begin(), gProcessTerminating.end(), self) !=
        gProcessTerminating.end()) {
        return TCL_OK; // the package's own _Term unloading it: under way already
    }
    Tcl_HashEntry *entry = Tcl_FindHashEntry(PackageTable(), package);
    if (entry == nullptr || !RecordOf(entry)->UsedBy(interp)) {
        orx::AppendResult(interp, "package \"", package, "\" was not open");
        return orx::LookupCode(interp, "PACKAGE", package);
    }
    // Forgotten by this interpreter before anything is tried: whatever fails
    // below, the name is free for a new load here.  The library leaves the
    // process only with its last interpreter.
    Package *record = RecordOf(entry);
    auto &users = record->users;
    users.erase(std::remove(users.begin(), users.end(), interp), users.end());
    bool last = users.empty();
    if (last) {
        Tcl_DeleteHashEntry(entry);
    }
    OrxPlat_Library *library = record->library;
    std::string why;
    void *symbol = FindEntryPoint(library, record->path, routine, &why);
    if (last) {
        delete record;
    }
    if (symbol == nullptr) {
        orx::AppendResult(interp, "cannot find routine named \"", routine.c_str(),
                          "\" in package \"", package, "\". Failed due to: dlsym lookup failure");
        return orx::LookupCode(interp, "ROUTINE", routine);
    }
    Tcl_ResetResult(interp);
    gProcessTerminating.push_back(self);
    int code = reinterpret_cast<Orx_PackageProc *>(symbol)(interp);
    gProcessTerminating.erase(
        std::find(gProcessTerminating.begin(), gProcessTerminating.end(), self));
    if (code != TCL_OK || !last) {
        return code; // its commands may still be there: keep the code mapped
    }
    if (OrxPlat_CloseLibrary(library, &why) != 0) {
        orx::AppendResult(interp, "close of package \"", package, "\" failed due to: ",
                          orx::FromSystem(why).c_str());
        return TCL_ERROR;
    }
    return TCL_OK;
}

// One command at a time under the loader's lock.  The names are built in
// std::strings: no allocation failure may reach Tcl.
template <typename Body>
int Guarded(Tcl_Interp *interp, const char *command, Body body)
{
    std::lock_guard<std::recursive_mutex> lock(gLoaderLock);
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
