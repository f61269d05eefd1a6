// The library initialisers from C: OrxX_LibraryInit without its start-up script, an
// unreadable index in a walk, the secure marker's association around an encrypted
// package, and cmdtrace's state with the coverage count across interpreter deletion.

#include <filesystem>

#include "orx_init.h"
#include "orx_library.h"
#include "orx_tclbuild.h"
#include "tests/support/child_run.h"
#include "tests/support/interp_fixture.h"
#include "tests/support/tessary_fixture.h"

namespace {

namespace fs = std::filesystem;

uint32_t testKey[2] = {0x4f72785fu, 0x6b657931u};
class Library : public orxtest::InterpTest {
protected:
    void SetUp() override
    {
        Tcl_FindExecutable(nullptr);
        InterpTest::SetUp();
        Orx_TclBuildInit(interp_);
        Orx_TclCmdInit(interp_);
        Tcl_SetAssocData(interp_, ORX_KEY_ASSOC, nullptr, testKey);
    }
    void InitFromTheBuild()
    {
        setenv("MORVA_HOME", (std::string(ORX_BUILD_DIR) + "/install").c_str(), 1);
        ASSERT_EQ(OrxX_LibraryInit(interp_), TCL_OK) << Result();
    }
    // Indexes script, encrypted, as package p.
    void EncryptedPackage(const std::string &script)
    {
        InitFromTheBuild();
        std::string text = Eval("encrypt 5 {" + script + "}");
        std::ofstream(tmp_.path + "/p.tlib", std::ios::binary) << text;
        Eval("set auto_pkg_index(p) [list " + tmp_.path + "/p.tlib 0 " +
             std::to_string(text.size()) + "]");
    }
    orxtest::EnvGuard home_{"MORVA_HOME"};
    orxtest::TempDir tmp_;
};

TEST_F(Library, InitWithoutItsScriptRegistersNothing)
{
    setenv("MORVA_HOME", (tmp_.path + "/none").c_str(), 1);
    EXPECT_EQ(OrxX_LibraryInit(interp_), TCL_ERROR);
    EXPECT_NE(Result().find("lib/orx/autoload.tcl"), std::string::npos);
    EXPECT_EQ(Tcl_FindCommand(interp_, "loadlibindex", nullptr, TCL_GLOBAL_ONLY), nullptr);
    EXPECT_EQ(Tcl_FindCommand(interp_, "OrxPackage:Puts", nullptr, TCL_GLOBAL_ONLY), nullptr);
}

// The fault: an index that could not be read (mode 000) failed the walk, so every unknown
// command failed.  Now it is passed over, as Tcl passes over such a tclIndex, and noted
// under ORX_DEBUG.
TEST_F(Library, UnreadableIndexIsSkippedByTheWalk)
{
    InitFromTheBuild();
    fs::permissions(tmp_.path, fs::perms::all);
    std::ofstream(tmp_.path + "/good.tlib") << "proc t_good {} {return good}";
    std::ofstream(tmp_.path + "/good.tndx") << "t_g 0 28 t_good\n";
    std::ofstream(tmp_.path + "/locked.tlib") << "";
    std::ofstream(tmp_.path + "/locked.tndx") << "t_l 0 0 t_locked\n";
    fs::permissions(tmp_.path + "/locked.tndx", fs::perms::none);
    Eval("set env(ORX_DEBUG) 1");
    orxtest::ChildRun run = orxtest::RunChild([&](Tcl_Interp *) {
        bool found =
            orxtest::BecomeNobody() && Eval("orxx_load_tndxs " + tmp_.path + "; t_good") == "good";
        _exit(found ? 0 : 1);
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err,
              "orx: library index \"" + tmp_.path + "/locked.tndx\" skipped: not readable\n");
}

int deletions = 0;
void CountDeletion(ClientData, Tcl_Interp *)
{
    ++deletions;
}

TEST_F(Library, SecureMarkerKeepsItsDeleteProcedure)
{
    EncryptedPackage("set ::seen [expr {0}]");
    auto *previous = reinterpret_cast<ClientData>(static_cast<intptr_t>(7));
    Tcl_SetAssocData(interp_, "secure", CountDeletion, previous);
    EXPECT_EQ(Eval("auto_load_pkg p; set ::seen"), "0");
    Tcl_InterpDeleteProc *proc = nullptr;
    EXPECT_EQ(Tcl_GetAssocData(interp_, "secure", &proc), previous);
    EXPECT_EQ(proc, CountDeletion);
    deletions = 0;
    DeleteInterp();
    EXPECT_EQ(deletions, 1);
}

TEST_F(Library, SecureMarkerMadeByThePackageLoadIsLeftAtZero)
{
    EncryptedPackage("set x 1");
    EXPECT_EQ(Eval("auto_load_pkg p"), "1");
    Tcl_InterpDeleteProc *proc = reinterpret_cast<Tcl_InterpDeleteProc *>(1);
    EXPECT_EQ(Tcl_GetAssocData(interp_, "secure", &proc), nullptr);
    EXPECT_EQ(proc, nullptr);
}

TEST_F(Library, CmdtraceStateAndCoverageCount)
{
    int before = OrxCoverage_CmdTraceCB(1);
    OrxCoverage_CmdTraceCB(0);
    ASSERT_EQ(OrxXDebugInit(interp_), TCL_OK);
    EXPECT_EQ(OrxCoverage_CmdTraceCB(1), before + 1);
    OrxCoverage_CmdTraceCB(0);
    // Deleting the interpreter while tracing with a callback frees all (the sanitizer build
    // checks).
    EXPECT_EQ(Eval("proc cb args {}; cmdtrace on command cb; set a 1; cmdtrace depth"),
              "2147483647");
    DeleteInterp();
    EXPECT_EQ(OrxCoverage_CmdTraceCB(1), before);
    OrxCoverage_CmdTraceCB(0);
}
} // namespace
