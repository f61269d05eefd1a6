// Shared by the fuzz targets that drive a command through a Tcl checking
// script: one interpreter per process, the input written to a file of this
// process, and a checking procedure whose error (a broken property) aborts.
#ifndef ORX_FUZZ_SCRIPT_H
#define ORX_FUZZ_SCRIPT_H

#include <tcl.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// Aborts with "<target> fuzz: <what>" when a checked property is broken.
inline void FuzzCheck(bool ok, const char *target, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "%s fuzz: %s\n", target, what);
        std::abort();
    }
}

// One plain interpreter per process, for targets that call commands directly.
inline Tcl_Interp *FuzzPlainInterp()
{
    static Tcl_Interp *interp = [] {
        Tcl_FindExecutable(nullptr);
        return Tcl_CreateInterp();
    }();
    return interp;
}

// An interpreter set up by init, with the checking script evaluated.
inline Tcl_Interp *FuzzInterp(int (*init)(Tcl_Interp *), const char *script)
{
    Tcl_FindExecutable(nullptr);
    Tcl_Interp *interp = Tcl_CreateInterp();
    if (init(interp) != TCL_OK || Tcl_Eval(interp, script) != TCL_OK) {
        std::abort();
    }
    return interp;
}

// Writes bytes to /tmp/<name>_<pid>.txt; the path, or "" when it cannot.
inline std::string FuzzFile(const char *name, const void *data, size_t size)
{
    std::string path = std::string("/tmp/") + name + "_" + std::to_string(getpid()) + ".txt";
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return "";
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    return path;
}

// Evaluates the command (a list object, released here); aborts with its
// message when it fails.
inline void FuzzCheck(Tcl_Interp *interp, Tcl_Obj *command, const char *who)
{
    Tcl_IncrRefCount(command);
    if (Tcl_EvalObjEx(interp, command, 0) != TCL_OK) {
        std::fprintf(stderr, "%s fuzz: %s\n", who, Tcl_GetStringResult(interp));
        std::abort();
    }
    Tcl_DecrRefCount(command);
    Tcl_ResetResult(interp);
}

#endif
