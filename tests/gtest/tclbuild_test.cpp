// C-level tests of the Tcl-build services: path search, path lists, the main
// interpreter record, and the command-logging state.

#include <gtest/gtest.h>

#include <tcl.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "orx_tclbuild.h"
#include "platform/orxlog.h"

namespace {

class TclBuildTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        interp = Tcl_CreateInterp();
        char tmpl[] = "/tmp/orx_tclbuild_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        top = tmpl;
        for (const char *d : {"/a", "/b", "/b/sub", "/dir.tcl", "/cwd"}) {
            mkdir((top + d).c_str(), 0755);
        }
        Touch("/a/only-a.tcl", 0644);
        Touch("/a/both.tcl", 0644);
        Touch("/b/both.tcl", 0644);
        Touch("/b/sub/deep.tcl", 0644);
        Touch("/b/unreadable.tcl", 0000);
        Touch("/b/tool", 0755);
        Touch("/cwd/both.tcl", 0644);
        char *cwd = getcwd(nullptr, 0);
        oldCwd = cwd;
        free(cwd);
        ASSERT_EQ(chdir((top + "/cwd").c_str()), 0);
        setenv("ORX_TEST_SEARCH", (top + "/a::" + top + "/dir.tcl:" + top + "/b/").c_str(), 1);
    }
    void TearDown() override
    {
        Tcl_DeleteInterp(interp);
        (void)!chdir(oldCwd.c_str());
        unsetenv("ORX_TEST_SEARCH");
        std::string cmd = "rm -rf '" + top + "'";
        (void)!system(cmd.c_str());
    }
    void Touch(const char *name, mode_t mode)
    {
        std::ofstream(top + name) << "x\n";
        chmod((top + name).c_str(), mode);
    }
    std::string Find(const char *name, const char *mode = "r", int flags = 0,
                     const char *var = "ORX_TEST_SEARCH")
    {
        const char *found = Orx_Spath(interp, name, var, mode, flags);
        return found != nullptr ? found : "<none: " + std::string(Tcl_GetStringResult(interp)) + ">";
    }

    Tcl_Interp *interp = nullptr;
    std::string top, oldCwd;
};

TEST_F(TclBuildTest, SpathSearchOrder)
{
    // The name as given (current directory) first, unless the path comes first.
    EXPECT_EQ(Find("both.tcl"), "both.tcl");
    EXPECT_EQ(Find("both.tcl", "r", ORX_SPATH_PATH_FIRST), top + "/a/both.tcl");
    EXPECT_EQ(Find("only-a.tcl"), top + "/a/only-a.tcl");
    // A relative name with a directory is searched below each directory.
    EXPECT_EQ(Find("sub/deep.tcl"), top + "/b/sub/deep.tcl");
    // Directories never match; access is checked.
    EXPECT_EQ(Find("dir.tcl"), "<none: couldn't find file \"dir.tcl\" with access mode \"r\" along "
                               "\"ORX_TEST_SEARCH\">");
    if (geteuid() != 0) {
        EXPECT_EQ(Find("unreadable.tcl").rfind("<none", 0), 0u);
    }
    EXPECT_EQ(Find("tool", "x"), top + "/b/tool");
    EXPECT_EQ(Find("only-a.tcl", "x").rfind("<none", 0), 0u);
    EXPECT_EQ(Find("both.tcl", "rb", ORX_SPATH_PATH_FIRST), top + "/a/both.tcl");
}

TEST_F(TclBuildTest, SpathAnchoredNamesAndNoSearch)
{
    std::string abs = top + "/b/both.tcl";
    EXPECT_EQ(Find(abs.c_str()), abs);
    EXPECT_EQ(Find("./both.tcl"), "./both.tcl");
    // Anchored names are not searched along the path.
    EXPECT_EQ(Find("./only-a.tcl").rfind("<none", 0), 0u);
    EXPECT_EQ(Find("../a/only-a.tcl"), "../a/only-a.tcl");
    EXPECT_EQ(Find("only-a.tcl", "r", 0, nullptr),
              "<none: couldn't find file \"only-a.tcl\" with access mode \"r\">");
    EXPECT_EQ(Find("both.tcl", "r", 0, "ORX_TEST_UNSET_VARIABLE"), "both.tcl");
    EXPECT_EQ(Find(""), "<none: couldn't find file \"\" with access mode \"r\" along "
                        "\"ORX_TEST_SEARCH\">");
}

TEST_F(TclBuildTest, SpathWriteModesAndBadModes)
{
    EXPECT_EQ(Find("new.out", "w"), "new.out");
    EXPECT_EQ(Find("both.tcl", "a+"), "both.tcl");
    EXPECT_EQ(Find("/nonexistent-dir/new.out", "wb").rfind("<none", 0), 0u);
    EXPECT_EQ(Find("new.out", "r").rfind("<none", 0), 0u);
    EXPECT_EQ(Find("both.tcl", "rq"),
              "<none: bad access mode \"rq\": must be made of r, w, a, x, +, b and t>");
    EXPECT_EQ(Orx_Spath(nullptr, "both.tcl", nullptr, "r", 0), nullptr);
}

TEST_F(TclBuildTest, SpathCommand)
{
    Tcl_SetVar2(interp, "env", "ORX_TEST_SEARCH", (top + "/a:" + top + "/b").c_str(),
                TCL_GLOBAL_ONLY);
    ASSERT_EQ(Orx_TclBuildInit(interp), TCL_OK);
    // The command searches the path before the current directory.
    ASSERT_EQ(Tcl_Eval(interp, "spath both.tcl ORX_TEST_SEARCH"), TCL_OK);
    EXPECT_EQ(std::string(Tcl_GetStringResult(interp)), top + "/a/both.tcl");
    ASSERT_EQ(Tcl_Eval(interp, "spath tool ORX_TEST_SEARCH x"), TCL_OK);
    EXPECT_EQ(std::string(Tcl_GetStringResult(interp)), top + "/b/tool");
    EXPECT_EQ(Tcl_Eval(interp, "spath missing ORX_TEST_SEARCH"), TCL_ERROR);
    EXPECT_EQ(Tcl_Eval(interp, "spath x"), TCL_ERROR);
    EXPECT_STREQ(Tcl_GetStringResult(interp),
                 "wrong # args: should be \"spath fileName envVar ?mode?\"");
}

TEST(SplitPathVar, ElementsAndOwnership)
{
    int count = -1;
    char **dirs = nullptr;
    ASSERT_EQ(Orx_SplitPathVar(nullptr, "/a::/b c:/d/:", &count, &dirs), TCL_OK);
    ASSERT_EQ(count, 3);
    EXPECT_STREQ(dirs[0], "/a");
    EXPECT_STREQ(dirs[1], "/b c");
    EXPECT_STREQ(dirs[2], "/d/");
    EXPECT_EQ(dirs[3], nullptr);
    Tcl_Free(reinterpret_cast<char *>(dirs));

    ASSERT_EQ(Orx_SplitPathVar(nullptr, ":::", &count, &dirs), TCL_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(dirs[0], nullptr);
    Tcl_Free(reinterpret_cast<char *>(dirs));

    Tcl_Interp *interp = Tcl_CreateInterp();
    EXPECT_EQ(Orx_SplitPathVar(interp, nullptr, &count, &dirs), TCL_ERROR);
    EXPECT_STREQ(Tcl_GetStringResult(interp), "no path list to split");
    Tcl_DeleteInterp(interp);
}

TEST(MainInterp, RecordedAndForgottenOnDelete)
{
    Tcl_Interp *saved = Orx_GetMainInterp();
    Tcl_Interp *interp = Tcl_CreateInterp();
    Orx_SetMainInterp(interp);
    EXPECT_EQ(Orx_GetMainInterp(), interp);
    EXPECT_EQ(Tcl_Eval(interp, "info commands spath"), TCL_OK);
    EXPECT_STREQ(Tcl_GetStringResult(interp), "spath");
    Tcl_DeleteInterp(interp);
    EXPECT_EQ(Orx_GetMainInterp(), nullptr);
    Orx_SetMainInterp(saved);
}

TEST(OrxLog, StateReadDisableRestore)
{
    Tcl_Interp *interp = Tcl_CreateInterp();
    EXPECT_EQ(OrxLog_State(interp, nullptr), nullptr); // nothing to restore yet
    EXPECT_EQ(OrxLog_State(interp, "disable"), nullptr);

    char path[] = "/tmp/orx_log_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    Tcl_SetVar(interp, "path", path, TCL_GLOBAL_ONLY);
    ASSERT_EQ(Tcl_Eval(interp, "set log [open $path w]"), TCL_OK);
    EXPECT_EQ(OrxLog_SetChannel(interp, "stdin"), TCL_ERROR);
    EXPECT_STREQ(Tcl_GetStringResult(interp), "channel \"stdin\" wasn't opened for writing");
    ASSERT_EQ(OrxLog_SetChannel(interp, Tcl_GetVar(interp, "log", TCL_GLOBAL_ONLY)), TCL_OK);
    EXPECT_STREQ(OrxLog_State(interp, nullptr), "enable");

    Tcl_Eval(interp, "set a 1");
    const char *saved = OrxLog_State(interp, nullptr);
    EXPECT_STREQ(OrxLog_State(interp, "disable"), "enable");
    EXPECT_STREQ(OrxLog_State(interp, nullptr), "disable");
    Tcl_Eval(interp, "set hidden 2");
    EXPECT_STREQ(OrxLog_State(interp, saved), "disable");
    Tcl_Eval(interp, "proc p {} {set inner 3}; p");
    // Closing the log stops logging without disturbing the scripts.
    ASSERT_EQ(Tcl_Eval(interp, "close $log"), TCL_OK);
    EXPECT_EQ(Tcl_Eval(interp, "set after 4"), TCL_OK);
    EXPECT_STREQ(Tcl_GetStringResult(interp), "4");

    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Only top-level commands, only while logging is on.
    EXPECT_EQ(text, "set a 1\nproc p {} {set inner 3}\np\nclose $log\n");
    unlink(path);
    Tcl_DeleteInterp(interp);
}

} // namespace
