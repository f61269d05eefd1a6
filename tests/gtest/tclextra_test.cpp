// Tcl-build extras: integer text, procedure and level queries, and the
// protected mark as C code sees it (deletion from C must still work).

#include <climits>

#include "orx_tclextra.h"
#include "tests/support/interp_fixture.h"

namespace {

using TclExtra = orxtest::InterpTest;
int EchoLevel(ClientData, Tcl_Interp *interp, int, Tcl_Obj *const[])
{
    Tcl_SetObjResult(interp, Tcl_NewIntObj(Orx_InterpLevel(interp)));
    return TCL_OK;
}

int Nothing(ClientData, Tcl_Interp *, int, Tcl_Obj *const[])
{
    return TCL_OK;
}

TEST(TclExtraPlain, PrintInteger)
{
    char buffer[TCL_INTEGER_SPACE];
    for (long v : {0L, 2147483647L, -2147483647L - 1, LONG_MIN, LONG_MAX}) {
        EXPECT_EQ(Orx_PrintInteger(v, buffer), std::to_string(v));
    }
}

TEST_F(TclExtra, ProcsAndLevels)
{
    Tcl_CreateObjCommand(interp_, "level", EchoLevel, nullptr, nullptr);
    Eval("proc p {} {}; namespace eval ns {namespace export r; proc r {} {}}; "
         "namespace eval other {namespace import ::ns::r}");
    EXPECT_TRUE(Orx_IsProc(interp_, "p") && Orx_IsProc(interp_, "::ns::r"));
    EXPECT_TRUE(Orx_IsProc(interp_, "other::r")); // imported
    EXPECT_FALSE(Orx_IsProc(interp_, "set") || Orx_IsProc(interp_, "nosuch"));
    EXPECT_FALSE(Orx_IsProc(interp_, nullptr));
    EXPECT_EQ(Eval("proc u {} {uplevel 1 level}; proc v {} {u}; v"), "1");
}

TEST_F(TclExtra, ProtectedMarkFollowsTheCommand)
{
    Tcl_Command cmd = Tcl_CreateObjCommand(interp_, "guarded", Nothing, nullptr, nullptr);
    EXPECT_FALSE(Orx_IsCommandProtected(interp_, cmd));
    ASSERT_EQ(Orx_SetCommandProtected(interp_, cmd, 1), TCL_OK);
    ASSERT_EQ(Orx_SetCommandProtected(interp_, cmd, 1), TCL_OK); // twice is once
    EXPECT_TRUE(Orx_IsCommandProtected(interp_, cmd));
    EXPECT_EQ(Eval("rename guarded x"), "ERROR: can't rename \"guarded\": command is protected");
    // C code may still delete it; a new command of that name is not marked.
    EXPECT_EQ(Tcl_DeleteCommand(interp_, "guarded"), 0);
    Tcl_Command again = Tcl_CreateObjCommand(interp_, "guarded", Nothing, nullptr, nullptr);
    EXPECT_FALSE(Orx_IsCommandProtected(interp_, again));
    EXPECT_EQ(Eval("rename guarded renamed"), "");
    EXPECT_EQ(Orx_SetCommandProtected(interp_, nullptr, 1), TCL_ERROR);
    // Marks left at interpreter deletion: the teardown order of commands and data must not matter.
    for (const char *name : {"a1", "a2", "a3"}) {
        Tcl_Command left = Tcl_CreateObjCommand(interp_, name, Nothing, nullptr, nullptr);
        Orx_SetCommandProtected(interp_, left, 1);
    }
    Tcl_Interp *child = Tcl_CreateChild(interp_, "child", 0);
    ASSERT_NE(child, nullptr);
    Tcl_Command inChild = Tcl_CreateObjCommand(child, "c1", Nothing, nullptr, nullptr);
    Orx_SetCommandProtected(child, inChild, 1);
    // The parent cannot put an alias over the child's protected command.
    EXPECT_EQ(Eval("interp alias child c1 {} list"),
              "ERROR: can't replace \"c1\": command is protected");
    EXPECT_EQ(Eval("interp alias child c2 {} list"), "c2");
}
} // namespace
