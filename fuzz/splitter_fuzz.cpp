// Fuzzes the package splitter of the library builder: arbitrary source text
// is split until no package is left or a header fails.  Every body line is
// text of the source, and each call moves on or fails.
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

Tcl_Interp *TheInterp()
{
    static Tcl_Interp *interp = [] {
        Tcl_FindExecutable(nullptr);
        char tmpl[] = "/tmp/orx_splitter_fuzz.XXXXXX";
        std::string dir = mkdtemp(tmpl);
        std::string cmd = "mkdir -p " + dir + "/lib/orx";
        if (std::system(cmd.c_str()) != 0) {
            std::abort();
        }
        std::ofstream(dir + "/lib/orx/autoload.tcl") << "\n";
        setenv("MORVA_HOME", dir.c_str(), 1);
        Tcl_Interp *i = Tcl_CreateInterp();
        Orx_TclBuildInit(i);
        if (OrxX_LibraryInit(i) != TCL_OK) {
            std::abort();
        }
        return i;
    }();
    return interp;
}

void Check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "splitter fuzz: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Tcl_Interp *interp = TheInterp();
    Tcl_Obj *contents = Tcl_NewStringObj(reinterpret_cast<const char *>(data), static_cast<int>(size));
    Tcl_IncrRefCount(contents);
    int textLength;
    const char *textBytes = Tcl_GetStringFromObj(contents, &textLength);
    std::string text(textBytes, static_cast<size_t>(textLength));
    Tcl_Obj *objv[2] = {Tcl_NewStringObj("OrxPackage:GetPackageInit", -1), contents};
    Tcl_IncrRefCount(objv[0]);
    Check(Tcl_EvalObjv(interp, 2, objv, 0) == TCL_OK, "init failed");
    Tcl_DecrRefCount(objv[0]);
    for (size_t calls = 0;; ++calls) {
        Check(calls <= size + 1, "splitter does not move on");
        // Not Tcl_Eval: it copies the result as a C string, cut at a zero byte.
        if (Tcl_EvalEx(interp, "OrxPackage:GetPackage", -1, 0) != TCL_OK) {
            break;
        }
        Tcl_Obj *package = Tcl_GetObjResult(interp);
        int n;
        Tcl_Obj **parts;
        Check(Tcl_ListObjGetElements(nullptr, package, &n, &parts) == TCL_OK, "result not a list");
        if (n == 0) {
            break;
        }
        Check(n == 3 || n == 4, "package of wrong shape");
        int procs;
        Check(Tcl_ListObjLength(nullptr, parts[1], &procs) == TCL_OK && procs >= 1, "no procs");
        int bodyLength;
        const char *body = Tcl_GetStringFromObj(parts[2], &bodyLength);
        // Each kept line is a line of the source.
        size_t start = 0;
        std::string b(body, static_cast<size_t>(bodyLength));
        while (start < b.size()) {
            size_t nl = b.find('\n', start);
            size_t end = nl == std::string::npos ? b.size() : nl + 1;
            Check(text.find(b.substr(start, end - start)) != std::string::npos, "line not in source");
            start = end;
        }
    }
    Tcl_Eval(interp, "OrxPackage:GetPackageTerm");
    Tcl_ResetResult(interp);
    Tcl_DecrRefCount(contents);
    return 0;
}
