/* partlist: a program of its own that runs the Orx command language.  It
 * builds a keyed list through the C interface, hands it to a script and
 * prints what the script returns:
 *   partlist ?script?     (default: keylget part package.pins)
 * The part is in the global variable "part". */
#include <stdio.h>
#include <stdlib.h>

#include <tcl.h>

#include "orx_init.h"
#include "orx_keylist.h"

/* A keyed list {type resistor} {value 10k} {package {{name 0603} {pins 2}}}. */
static Tcl_Obj *NewPart(Tcl_Interp *interp)
{
    Tcl_Obj *part = OrxX_NewKeyedListObj();
    Tcl_IncrRefCount(part);
    if (OrxX_KeyedListSet(interp, part, "type", Tcl_NewStringObj("resistor", -1)) != TCL_OK ||
        OrxX_KeyedListSet(interp, part, "value", Tcl_NewStringObj("10k", -1)) != TCL_OK ||
        OrxX_KeyedListSet(interp, part, "package.name", Tcl_NewStringObj("0603", -1)) != TCL_OK ||
        OrxX_KeyedListSet(interp, part, "package.pins", Tcl_NewIntObj(2)) != TCL_OK) {
        Tcl_DecrRefCount(part);
        return NULL;
    }
    return part;
}

int main(int argc, char **argv)
{
#ifdef ORX_HOME
    /* The installation this program was built against, unless the user
     * names another; its start-up packages are found along PATH. */
    if (getenv("MORVA_HOME") == NULL) {
        const char *path = getenv("PATH");
        Tcl_DString newPath;
        Tcl_DStringInit(&newPath);
        if (path != NULL && *path != '\0') {
            Tcl_DStringAppend(&newPath, path, -1);
            Tcl_DStringAppend(&newPath, ":", 1);
        }
        Tcl_DStringAppend(&newPath, ORX_HOME "/bin", -1);
        setenv("PATH", Tcl_DStringValue(&newPath), 1);
        setenv("MORVA_HOME", ORX_HOME, 1);
        Tcl_DStringFree(&newPath);
    }
#endif
    Tcl_FindExecutable(argv[0]);
    Tcl_Interp *interp = Tcl_CreateInterp();
    if (Tcl_Init(interp) != TCL_OK || Orx_Init(interp) != TCL_OK) {
        fprintf(stderr, "partlist: %s\n", Tcl_GetStringResult(interp));
        return 1;
    }
    Tcl_Obj *part = NewPart(interp);
    if (part == NULL || Tcl_SetVar2Ex(interp, "part", NULL, part, TCL_GLOBAL_ONLY | TCL_LEAVE_ERR_MSG) == NULL) {
        fprintf(stderr, "partlist: %s\n", Tcl_GetStringResult(interp));
        return 1;
    }
    Tcl_DecrRefCount(part);

    const char *script = argc > 1 ? argv[1] : "keylget part package.pins";
    int status = Tcl_EvalEx(interp, script, -1, TCL_EVAL_GLOBAL);
    printf("%s\n", Tcl_GetStringResult(interp));
    Tcl_Exit(status == TCL_OK ? 0 : 1);
}
