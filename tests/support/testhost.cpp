// Minimal host for the tests: a plain Tcl 8.6 interpreter with the command
// families of the library initialised, evaluating the script given as argument.
// Initialisers are weak so the host also links against a partial library.
#include <tcl.h>

extern "C" {
int OrxXKeyedListInit(Tcl_Interp *interp) __attribute__((weak));
int OrxXSignalInit(Tcl_Interp *interp) __attribute__((weak));
int OrxXIdInit(Tcl_Interp *interp) __attribute__((weak));
int OrxXCmdloopInit(Tcl_Interp *interp) __attribute__((weak));
int Orx_TclBuildInit(Tcl_Interp *interp) __attribute__((weak));
int Orx_NetInfoCmd(ClientData, Tcl_Interp *, int, const char *[]) __attribute__((weak));
int Orx_TessarycfgCmd(ClientData, Tcl_Interp *, int, const char *[]) __attribute__((weak));
int Orx_CopyrCmd(ClientData, Tcl_Interp *, int, const char *[]) __attribute__((weak));
int Orx_RelverCmd(ClientData, Tcl_Interp *, int, const char *[]) __attribute__((weak));
int Orx_RelstringCmd(ClientData, Tcl_Interp *, int, const char *[]) __attribute__((weak));
int etpCreateTclCommands(Tcl_Interp *interp) __attribute__((weak));
}

namespace {

int AppInit(Tcl_Interp *interp)
{
    if (Tcl_Init(interp) != TCL_OK) {
        return TCL_ERROR;
    }
    int (*const inits[])(Tcl_Interp *) = {OrxXKeyedListInit, OrxXSignalInit, OrxXIdInit,
                                          etpCreateTclCommands, OrxXCmdloopInit,
                                          Orx_TclBuildInit};
    for (auto init : inits) {
        if (init != nullptr && init(interp) != TCL_OK) {
            return TCL_ERROR;
        }
    }
    // Fixed-table commands that interpreter initialisation would register.
    if (Orx_NetInfoCmd != nullptr) {
        Tcl_CreateCommand(interp, "orx:netinfo", Orx_NetInfoCmd, nullptr, nullptr);
    }
    const struct {
        const char *name;
        Tcl_CmdProc *proc;
    } table[] = {{"tessarycfg", Orx_TessarycfgCmd},
                 {"orx:copyr", Orx_CopyrCmd},
                 {"orx:relver", Orx_RelverCmd},
                 {"orx:relstring", Orx_RelstringCmd}};
    for (const auto &entry : table) {
        if (entry.proc != nullptr) {
            Tcl_CreateCommand(interp, entry.name, entry.proc, nullptr, nullptr);
        }
    }
    return TCL_OK;
}

} // namespace

int main(int argc, char **argv)
{
    Tcl_Main(argc, argv, AppInit);
    return 0;
}
