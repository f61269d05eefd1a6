// C-level tests of the shell's printer and exits, each run in a forked child
// whose standard output and error go to pipes.

#include <gtest/gtest.h>

#include <tcl.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "orx_shell.h"

namespace {

struct ChildRun {
    int status = -1; // exit status, or -1 when the child did not exit
    std::string out;
    std::string err;
};

std::string Drain(int fd)
{
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(fd, static_cast<void *>(buffer), sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return text;
}

// Tcl_Exit in the child must not finalise a Tcl whose threads stayed behind
// in the parent.
void ExitNow(ClientData clientData)
{
    _exit(static_cast<int>(reinterpret_cast<intptr_t>(clientData)));
}

ChildRun RunChild(const std::function<void(Tcl_Interp *)> &body)
{
    int outPipe[2], errPipe[2];
    ChildRun run;
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) {
        ADD_FAILURE() << "pipe";
        return run;
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        close(outPipe[1]);
        close(errPipe[1]);
        Tcl_SetExitProc(ExitNow);
        Tcl_Interp *interp = Tcl_CreateInterp();
        body(interp);
        Tcl_Flush(Tcl_GetStdChannel(TCL_STDOUT));
        Tcl_Flush(Tcl_GetStdChannel(TCL_STDERR));
        _exit(100);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    run.out = Drain(outPipe[0]);
    run.err = Drain(errPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

void SetResult(Tcl_Interp *interp, const char *text)
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text, -1));
}

TEST(PrintResult, AssignmentsAreNotEchoed)
{
    ChildRun run = RunChild([](Tcl_Interp *interp) {
        const char *checks[] = {"set a 1\n", "set\ta {x y}\n", "set a [list 1 2]\n",
                                "set a 1; puts x\n", "set a\n", "setx a 1\n", "set a {open\n",
                                "set\n", "expr 1\n"};
        int i = 0;
        for (const char *check : checks) {
            SetResult(interp, ("r" + std::to_string(i++)).c_str());
            OrxX_PrintResult(interp, TCL_OK, check);
        }
        SetResult(interp, "");
        OrxX_PrintResult(interp, TCL_OK, nullptr); // empty: nothing
        SetResult(interp, "plain");
        OrxX_PrintResult(interp, TCL_OK, nullptr);
    });
    EXPECT_EQ(run.status, 100);
    // Two words (a read), no blank after "set", an unparsable command, a
    // lone "set" and other commands are printed.
    EXPECT_EQ(run.out, "r4\nr5\nr6\nr7\nr8\nplain\n");
    EXPECT_EQ(run.err, "");
}

TEST(PrintResult, OtherCodesGoToStandardError)
{
    ChildRun run = RunChild([](Tcl_Interp *interp) {
        SetResult(interp, "failed");
        OrxX_PrintResult(interp, TCL_ERROR, "set a 1\n");
        SetResult(interp, "");
        OrxX_PrintResult(interp, TCL_BREAK, nullptr);
        SetResult(interp, "odd");
        OrxX_PrintResult(interp, 42, "set a 1\n");
        Tcl_Eval(interp, "catch {error x}"); // an errorInfo that must not show
        Tcl_SetChannelOption(nullptr, Tcl_GetStdChannel(TCL_STDERR), "-encoding", "utf-8");
        SetResult(interp, "text \xc3\xa9");
        OrxX_PrintResult(interp, TCL_RETURN, nullptr);
    });
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "failed\nBad return code (3): \nBad return code (42): odd\n"
                       "Bad return code (2): text \xc3\xa9\n");
}

TEST(ShellExit, DeletesTheInterpreterOnlyWhenAsked)
{
    auto exitWith = [](const char *flag) {
        return RunChild([flag](Tcl_Interp *interp) {
            Tcl_CallWhenDeleted(
                interp, [](ClientData, Tcl_Interp *) { (void)!write(1, static_cast<const void *>("deleted"), 7); }, nullptr);
            if (flag != nullptr) {
                Tcl_SetVar2(interp, "ORXXENV", "deleteInterpAtShellExit", flag, TCL_GLOBAL_ONLY);
            }
            OrxX_ShellExit(interp, 0);
        });
    };
    ChildRun yes = exitWith("yes"), no = exitWith("0"), bogus = exitWith("perhaps"),
             unset = exitWith(nullptr);
    EXPECT_EQ(yes.status, 0);
    EXPECT_EQ(yes.out, "deleted");
    EXPECT_EQ(no.out, "");
    EXPECT_EQ(bogus.out, "");
    EXPECT_EQ(bogus.status, 0);
    EXPECT_EQ(unset.out, "");
}

TEST(ErrorExit, MessageTraceAndNoDump)
{
    auto fail = [](const char *noDump, const char *errorInfo) {
        return RunChild([noDump, errorInfo](Tcl_Interp *interp) {
            if (noDump != nullptr) {
                Tcl_SetVar2(interp, "ORXXENV", "noDump", noDump, TCL_GLOBAL_ONLY);
            }
            if (errorInfo != nullptr) {
                Tcl_SetVar(interp, "trace", errorInfo, TCL_GLOBAL_ONLY);
                Tcl_Eval(interp, "return -code error -errorinfo $trace boom");
            } else {
                Tcl_Eval(interp, "error boom");
            }
            Tcl_Write(Tcl_GetStdChannel(TCL_STDOUT), "pending", -1); // flushed first
            OrxX_ErrorExit(interp, 17, "\n    while\ndoing %s #%d", "step", 3);
        });
    };
    ChildRun trace = fail(nullptr, nullptr);
    EXPECT_EQ(trace.status, 17);
    EXPECT_EQ(trace.out, "pending");
    EXPECT_EQ(trace.err, "boom\n    while executing\n\"error boom\"\n    while\ndoing step #3\n");
    EXPECT_EQ(fail("0", nullptr).err, trace.err);
    EXPECT_EQ(fail("1", nullptr).err, "boom\n");
    EXPECT_EQ(fail("yes", nullptr).err, "boom\n");
    // A trace that does not begin with the message follows it.
    EXPECT_EQ(fail(nullptr, "other").err, "boom\nother\n    while\ndoing step #3\n");

    ChildRun bare = RunChild([](Tcl_Interp *interp) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("just this", -1));
        OrxX_ErrorExit(interp, 255, nullptr);
    });
    EXPECT_EQ(bare.status, 255);
    EXPECT_EQ(bare.err, "just this\n");

    // A long formatted message is not cut short.
    ChildRun longMessage = RunChild([](Tcl_Interp *interp) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("m", -1));
        OrxX_ErrorExit(interp, 1, "%s", std::string(1000, 'x').c_str());
    });
    EXPECT_EQ(longMessage.err, "m" + std::string(1000, 'x') + "\n");
}

} // namespace
