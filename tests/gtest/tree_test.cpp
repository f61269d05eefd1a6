// orx:tree across interpreters: tree names are unique in the process, and a
// tree's name is free again once its interpreter is deleted.
#include <gtest/gtest.h>

#include <string>

#include "orx_init.h"

namespace {

Tcl_Interp *NewInterp()
{
    Tcl_Interp *interp = Tcl_CreateInterp();
    Orx_TclCmdInit(interp);
    return interp;
}

std::string Eval(Tcl_Interp *interp, const char *script, int *code = nullptr)
{
    int status = Tcl_EvalEx(interp, script, -1, 0);
    if (code != nullptr) {
        *code = status;
    }
    return Tcl_GetStringResult(interp);
}

TEST(TreeTest, NamesAreUniqueAcrossInterpretersAndFreedWithTheInterpreter)
{
    Tcl_FindExecutable(nullptr);
    Tcl_Interp *a = NewInterp();
    Tcl_Interp *b = NewInterp();
    int code;
    EXPECT_EQ(Eval(a, "orx:tree gt_shared; gt_shared insert {x y}; gt_shared size", &code), "2");
    EXPECT_EQ(code, TCL_OK);
    EXPECT_EQ(Eval(b, "orx:tree gt_shared", &code), "name \"gt_shared already in use.");
    EXPECT_EQ(code, TCL_ERROR);
    // A tree renamed in one interpreter keeps its name taken in the other.
    Eval(a, "rename gt_shared gt_moved");
    EXPECT_EQ(Eval(b, "orx:tree gt_shared", &code), "name \"gt_shared already in use.");
    Tcl_DeleteInterp(a);
    EXPECT_EQ(Eval(b, "orx:tree gt_shared; gt_shared size", &code), "0");
    EXPECT_EQ(code, TCL_OK);
    Tcl_DeleteInterp(b);
    Tcl_Interp *c = NewInterp();
    EXPECT_EQ(Eval(c, "orx:tree gt_shared", &code), "");
    EXPECT_EQ(code, TCL_OK);
    Tcl_DeleteInterp(c);
}

} // namespace
