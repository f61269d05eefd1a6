// Fuzzes the reading of reference pages by help: the input is installed as
// the only page, then help lists the commands and looks up names from it.
// Any page gives a result or a Tcl error, never a crash or a read past the end.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <tcl.h>

#include "orx_help.h"

namespace {

std::string &Dir()
{
    static std::string dir = [] {
        char pattern[] = "/tmp/helpfuzz.XXXXXX";
        std::string d = mkdtemp(pattern);
        std::string ref = d + "/doc";
        mkdir(ref.c_str(), 0700);
        mkdir((ref + "/reference").c_str(), 0700);
        return d;
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Tcl_Interp *interp = [] {
        Tcl_FindExecutable(nullptr);
        Tcl_Interp *i = Tcl_CreateInterp();
        OrxXHelpInit(i);
        return i;
    }();
    std::string page = Dir() + "/doc/reference/page.md";
    FILE *f = fopen(page.c_str(), "wb");
    if (f == nullptr) {
        return 0;
    }
    fwrite(data, 1, size, f);
    fclose(f);
    Tcl_SetVar2(interp, "env", "MORVA_HOME", Dir().c_str(), TCL_GLOBAL_ONLY);
    Tcl_Eval(interp, "help");
    Tcl_Eval(interp, "help help");
    // Every name the page declares in a heading.
    std::string text(reinterpret_cast<const char *>(data), size);
    size_t open = text.find('`');
    if (open != std::string::npos) {
        size_t close = text.find('`', open + 1);
        if (close != std::string::npos && close - open < 200) {
            Tcl_Obj *cmd[2] = {Tcl_NewStringObj("help", -1),
                               Tcl_NewStringObj(text.data() + open + 1,
                                                static_cast<int>(close - open - 1))};
            for (Tcl_Obj *o : cmd) {
                Tcl_IncrRefCount(o);
            }
            Tcl_EvalObjv(interp, 2, cmd, 0);
            for (Tcl_Obj *o : cmd) {
                Tcl_DecrRefCount(o);
            }
        }
    }
    Tcl_ResetResult(interp);
    return 0;
}
