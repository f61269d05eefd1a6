// Fuzzes the library-index loader: the input is written as an index file and
// loaded with loadlibindex; every package it records is then loaded with
// auto_load_pkg from a harmless library file, which exercises the range
// checks and the reading with whatever offsets and lengths the index holds.
#include <tcl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "orx_library.h"
#include "orx_tclbuild.h"

namespace {

std::string dir;

Tcl_Interp *TheInterp()
{
    static Tcl_Interp *interp = [] {
        Tcl_FindExecutable(nullptr);
        char tmpl[] = "/tmp/orx_libindex_fuzz.XXXXXX";
        dir = mkdtemp(tmpl);
        // An empty autoload.tcl: only the commands are wanted here.
        std::string lib = dir + "/lib/orx";
        std::string cmd = "mkdir -p " + lib;
        if (std::system(cmd.c_str()) != 0) {
            std::abort();
        }
        std::ofstream(lib + "/autoload.tcl") << "\n";
        // Every range evaluates to harmless commands (or a syntax error).
        std::ofstream library(dir + "/fuzz.tlib");
        for (int i = 0; i < 200; ++i) {
            library << "set ::v" << i << " {x}; ";
        }
        setenv("MORVA_HOME", dir.c_str(), 1);
        Tcl_Interp *i = Tcl_CreateInterp();
        Orx_TclBuildInit(i);
        if (OrxX_LibraryInit(i) != TCL_OK) {
            std::fprintf(stderr, "%s\n", Tcl_GetStringResult(i));
            std::abort();
        }
        return i;
    }();
    return interp;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Tcl_Interp *interp = TheInterp();
    {
        std::ofstream index(dir + "/fuzz.tndx", std::ios::binary | std::ios::trunc);
        index.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    }
    Tcl_UnsetVar(interp, "auto_pkg_index", TCL_GLOBAL_ONLY);
    Tcl_UnsetVar(interp, "auto_index", TCL_GLOBAL_ONLY);
    std::string script = "loadlibindex {" + dir + "/fuzz.tlib}";
    Tcl_Eval(interp, script.c_str());
    Tcl_Eval(interp,
             "if {[array exists auto_pkg_index]} {"
             "  foreach p [array names auto_pkg_index] {catch {auto_load_pkg $p}}"
             "}");
    Tcl_ResetResult(interp);
    return 0;
}
