// tessarycfg: the values of the configuration store for an application and a
// variable name, as a Tcl list.  The store itself is the tessary layer's.
#include "orx_tessarycfg.h"
#include "tq_tessary.h"
#include "base/internal.h"

void Orx_Tessarycfg(Tcl_Interp *interp, const char *application, const char *variable)
{
    // One snapshot: c_mcfgn and mcf_getString would each look the file up
    // again, and a reload in between could mismatch count and values.
    const TessaryConfig *config = Tessary_CurrentConfig();
    Tcl_DString values;
    Tcl_DStringInit(&values);
    const int count = Tessary_ConfigCount(config, application, variable);
    for (int i = 1; i <= count; ++i) {
        const char *value = Tessary_ConfigString(config, application, variable, i);
        Tcl_DStringAppendElement(&values, value != nullptr ? value : "");
    }
    Tcl_DStringResult(interp, &values);
}

// tessarycfg ?application_name ?variable_name??
int Orx_TessarycfgCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc > 3) {
        Tcl_ResetResult(interp);
        orx::AppendResult(interp, "wrong # args: should be \"", argv[0],
                          " ?application_name ?variable_name??\" ");
        return orx::UsageCode(interp);
    }
    Orx_Tessarycfg(interp, argc > 1 ? argv[1] : nullptr, argc > 2 ? argv[2] : nullptr);
    return TCL_OK;
}
