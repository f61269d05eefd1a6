// C-level tests of the shell's printer and exits, each run in a forked child.

#include <gtest/gtest.h>

#include "orx_shell.h"
#include "tests/support/child_run.h"

namespace {

using orxtest::ChildRun;
using orxtest::RunChild;
void SetResult(Tcl_Interp *interp, const char *text)
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text, -1));
}

TEST(PrintResult, EchoesResultsButNotAssignmentsAndReportsOtherCodes)
{
    ChildRun run = RunChild([](Tcl_Interp *interp) {
        // Two words (a read), no blank after "set", an unparsable command, a lone "set", others:
        // printed.
        const char *checks[] = {
            "set a 1\n", "set\ta {x y}\n", "set a [list 1 2]\n", "set a 1; puts x\n",
            "set a\n",   "setx a 1\n",     "set a {open\n",      "set\n",
            "expr 1\n",  nullptr};
        int i = 0;
        for (const char *check : checks) {
            SetResult(interp, ("r" + std::to_string(i++)).c_str());
            OrxX_PrintResult(interp, TCL_OK, check);
        }
        SetResult(interp, "");
        OrxX_PrintResult(interp, TCL_OK, nullptr); // empty: nothing
        SetResult(interp, "failed");
        OrxX_PrintResult(interp, TCL_ERROR, "set a 1\n");
        SetResult(interp, "odd");
        OrxX_PrintResult(interp, 42, "set a 1\n");
        Tcl_Eval(interp, "catch {error x}"); // an errorInfo that must not show
        Tcl_SetChannelOption(nullptr, Tcl_GetStdChannel(TCL_STDERR), "-encoding", "utf-8");
        SetResult(interp, "text \xc3\xa9");
        OrxX_PrintResult(interp, TCL_RETURN, nullptr);
    });
    EXPECT_EQ(run.status, 100);
    EXPECT_EQ(run.out, "r4\nr5\nr6\nr7\nr8\nr9\n");
    EXPECT_EQ(run.err, "failed\nBad return code (42): odd\nBad return code (2): text \xc3\xa9\n");
}

TEST(ShellExit, DeletesTheInterpreterOnlyWhenAsked)
{
    // A value that is not a boolean counts as false.
    for (const char *flag : {"yes", "0", "perhaps", static_cast<const char *>(nullptr)}) {
        ChildRun run = RunChild([flag](Tcl_Interp *interp) {
            Tcl_CallWhenDeleted(
                interp, [](ClientData, Tcl_Interp *) { (void)!write(1, "deleted", 7); }, nullptr);
            if (flag != nullptr) {
                Tcl_SetVar2(interp, "ORXXENV", "deleteInterpAtShellExit", flag, TCL_GLOBAL_ONLY);
            }
            OrxX_ShellExit(interp, 0);
        });
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, flag != nullptr && std::string(flag) == "yes" ? "deleted" : "")
            << (flag ? flag : "unset");
    }
}

TEST(ErrorExit, MessageTraceAndNoDump)
{
    // The shell's failures cover the trace and -n; here: stdout flushed, "yes" set, no format, long
    // text.
    ChildRun run = RunChild([](Tcl_Interp *interp) {
        Tcl_SetVar2(interp, "ORXXENV", "noDump", "yes", TCL_GLOBAL_ONLY);
        Tcl_Eval(interp, "error boom");
        Tcl_Write(Tcl_GetStdChannel(TCL_STDOUT), "pending", -1);
        OrxX_ErrorExit(interp, 17, "\n    while\ndoing %s #%d", "step", 3);
    });
    EXPECT_EQ(run.status, 17);
    EXPECT_EQ(run.out, "pending");
    EXPECT_EQ(run.err, "boom\n");
    for (int length : {0, 1000}) {
        run = RunChild([length](Tcl_Interp *interp) {
            Tcl_SetObjResult(interp, Tcl_NewStringObj("m", -1));
            if (length == 0) {
                OrxX_ErrorExit(interp, 255, nullptr);
            }
            OrxX_ErrorExit(interp, 1, "%s", std::string(length, 'x').c_str());
        });
        EXPECT_EQ(run.status, length == 0 ? 255 : 1);
        EXPECT_EQ(run.err, "m" + std::string(length, 'x') + "\n");
    }
}
} // namespace
