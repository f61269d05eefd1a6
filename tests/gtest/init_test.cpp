// Orx_TclInit in-process, with HOME, MORVA_HOME, ORX_PATH, PATH and the current
// directory pointed at a temporary tree; and the small exported helpers of the initialisation.

#include <gtest/gtest.h>
#include <dlfcn.h>
#include <pwd.h>
#include <atomic>
#include <chrono>
#include <future>
#include <filesystem>
#include <regex>
#include <thread>

#include "orx_init.h"
#include "orx_loader.h"
#include "orx_shell.h"
#include "orx_signal.h"
#include "tests/support/child_run.h"
#include "tests/support/tessary_fixture.h"

namespace fs = std::filesystem;

// While set, the effective user's database entry names this directory as home, so
// that start-up without HOME (which falls back to it) never touches the real one.
static const char *fakeUserHome = nullptr;
extern "C" int getpwuid_r(uid_t uid, struct passwd *entry, char *buffer, size_t size,
                          struct passwd **found)
{
    using Lookup = int (*)(uid_t, struct passwd *, char *, size_t, struct passwd **);
    static Lookup real = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getpwuid_r"));
    int rc = real(uid, entry, buffer, size, found);
    if (rc == 0 && *found != nullptr && fakeUserHome != nullptr && uid == geteuid()) {
        entry->pw_dir = const_cast<char *>(fakeUserHome);
    }
    return rc;
}

namespace {

// Whether the pid file in dir starts with this process's line.
bool PidLine(const fs::path &dir)
{
    std::ifstream in(dir / "pid_tq");
    std::string line;
    return std::getline(in, line) &&
           std::regex_match(line, std::regex(std::to_string(getpid()) + " \\d+"));
}

void WriteFile(const fs::path &path, const std::string &text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

// In a forked child: the shell reading input from standard input (the option scanner's
// state is process-wide: no arguments), initialised by init.
[[noreturn]] void Shell(const char *input, Tcl_AppInitProc *init)
{
    FILE *file = tmpfile();
    fputs(input, file);
    rewind(file);
    dup2(fileno(file), 0);
    char program[] = "orxsh";
    char *argv[] = {program, nullptr};
    OrxSh_Main(1, argv, init);
}

class InitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Tcl_FindExecutable(nullptr);
        fs::create_directories(root_ / "cwd");
        fs::create_directories(home_);
        fs::current_path(root_ / "cwd");
        setenv("HOME", home_.c_str(), 1);
        setenv("PATH", (std::string(ORX_BUILD_DIR) + "/packages:" + path_.old).c_str(), 1);
        unsetenv("ORX_PATH");
        unsetenv("MORVA_HOME");
    }
    void TearDown() override
    {
        Drop();
        fs::current_path(oldCwd_);
    }
    void Drop()
    {
        if (interp_ != nullptr) {
            // The package table is process-wide: the next initialisation loads again.
            Tcl_Eval(interp_, "catch {orx:unload zub}; catch {orx:unload lumbrine}");
            Tcl_DeleteInterp(interp_);
            interp_ = nullptr;
        }
    }
    // An installation with the build's script library (the start-up needs it) and, unless empty, a
    // type map.
    std::string Install(const std::string &name, const std::string &typeMap)
    {
        fs::path dir = root_ / name;
        fs::create_directories(dir / "lib" / "orx");
        for (const char *file : {"autoload.tcl", "orx.tlib", "orx.tndx"}) {
            fs::copy_file(fs::path(ORX_BUILD_DIR) / "install" / "lib" / "orx" / file,
                          dir / "lib" / "orx" / file, fs::copy_options::overwrite_existing);
        }
        if (!typeMap.empty()) {
            WriteFile(dir / "config" / "typemap.tq", typeMap);
        }
        return dir.string();
    }
    int Init(const std::string &morvaHome)
    {
        Drop();
        setenv("MORVA_HOME", morvaHome.c_str(), 1);
        interp_ = Tcl_CreateInterp();
        return Orx_TclInit(interp_);
    }
    std::string Result() { return Tcl_GetStringResult(interp_); }
    std::string Eval(const char *script)
    {
        EXPECT_EQ(Tcl_Eval(interp_, script), TCL_OK) << Result();
        return Result();
    }
    orxtest::EnvGuard g1_{"HOME"}, path_{"PATH"}, g3_{"MORVA_HOME"}, g4_{"ORX_PATH"},
        g5_{"ORX_HOME"};
    orxtest::TempDir tmp_;
    fs::path root_{tmp_.path}, home_{root_ / "home"}, oldCwd_{fs::current_path()};
    Tcl_Interp *interp_ = nullptr;
};

TEST_F(InitTest, InstallationsTypeMapsVariablesAndPrompts)
{
    std::string a = Install("A", "type OrderT\nlit label=fromA\ntype LayerT\nlit label=install\n"),
                b = Install("B", "type OrderT\nlit label=fromB\nonlyB label=b\n"),
                c = Install("C", ""); // no type map: noted, initialisation goes on
    WriteFile(home_ / ".typemap_user", "type LayerT\nlit label=user\n");
    WriteFile(root_ / "cwd" / "typemap.design", "type LayerT\nlit label=design\n");
    setenv("ORX_PATH", "/x/scripts {/y/more scripts}", 1);
    ASSERT_EQ(Init(a + ":" + b + ":" + c), TCL_OK) << Result();
    EXPECT_EQ(Result(), "Could not open file" + c + "/config/typemap.tq");
    EXPECT_EQ(Eval("lrange $auto_path end-4 end"),
              "/x/scripts {/y/more scripts} " + a + "/lib/orx " + b + "/lib/orx " + c + "/lib/orx");
    EXPECT_EQ(Eval("list $env(ORX_HOME) [orx:load]"), a + ":" + b + ":" + c + " {lumbrine zub}");
    // Maps load last to first, so A's label stays; the user's and the design's come last.
    EXPECT_EQ(Eval("lmap {t l} {OrderT lit OrderT onlyB LayerT lit} {etp:attr $t $l label}"),
              "fromA b design");
    EXPECT_EQ(Eval("list $tcl_precision $orx_fpformat [info exists orx_version]"), "14 engmult 1");
    EXPECT_EQ(Eval("list $tcl_prompt1 $tcl_prompt2"),
              "{puts -nonewline stdout {orx: }} {puts -nonewline stdout {> }}");
    EXPECT_EQ(Eval("list [expr {1/3.}] [format %.1f 2.5]"), "0.33333333333333 2.5"); // "C" numerics
}

TEST_F(InitTest, TypeMapsThatAreFifosAreNotedNotOpened)
{
    // The fault: start-up opened a FIFO named like a type map and waited for ever.
    std::string a = Install("A", "type FifoT\nlit label=fromA\n"), f = Install("F", "");
    fs::create_directories(fs::path(f) / "config");
    const std::string installMap = f + "/config/typemap.tq",
                      userMap = (home_ / ".typemap_user").string();
    orxtest::FifoWatch watch({installMap, (root_ / "cwd" / "typemap.design").string(), userMap});
    ASSERT_TRUE(watch.Made());
    ASSERT_EQ(Init(a + ":" + f), TCL_OK) << Result();
    ASSERT_TRUE(watch.Finish()) << "start-up waited on a FIFO";
    EXPECT_EQ(Result(), "Could not open file" + installMap + "Could not open file" + userMap +
                            "Could not open filetypemap.design");
    EXPECT_EQ(Eval("etp:attr FifoT lit label"), "fromA");
}

TEST_F(InitTest, MissingMorvaHomeOrxPathTildeAndBadLists)
{
    interp_ = Tcl_CreateInterp();
    EXPECT_EQ(Orx_TclInit(interp_), TCL_ERROR);
    EXPECT_EQ(Result(), "orx: INTERNAL ERROR: Cannot find MORVA_HOME in environment.");
    std::string a = Install("A", "type T1\n");
    setenv("ORX_PATH", "~/myscripts", 1);
    ASSERT_EQ(Init(a), TCL_OK) << Result();
    EXPECT_EQ(Eval("lindex $auto_path end-1"), (home_ / "myscripts").string());
    using Bad = std::pair<const char *, const char *>;
    for (const auto &[path, message] :
         {Bad("{unclosed", "unmatched open brace in list"),
          Bad("~nosuchuser_orx/lib", "user \"nosuchuser_orx\" doesn't exist")}) {
        setenv("ORX_PATH", path, 1);
        EXPECT_EQ(Init(a), TCL_ERROR);
        EXPECT_EQ(Result(), message);
    }
}

// The fault: an unreadable index of the first installation (a FIFO: waited for ever)
// stopped start-up.  The math constants now come from the second one.
TEST_F(InitTest, IndexThatCannotBeReadIsPassedOverAtStartUp)
{
    std::string a = Install("A", ""), b = Install("B", "");
    const std::string index = a + "/lib/orx/orx.tndx";
    fs::remove(index);
    orxtest::FifoWatch watch({index});
    ASSERT_TRUE(watch.Made());
    ASSERT_EQ(Init(a + ":" + b), TCL_OK) << Result();
    ASSERT_TRUE(watch.Finish()) << "start-up waited on a FIFO";
    EXPECT_EQ(Eval("lindex $auto_pkg_index(Orx:math) 0"), b + "/lib/orx/orx.tlib");
}

// The fault: start-up ended with only 'invalid command name "Orx:MathInit"'.
TEST_F(InitTest, MissingInstallationIsNamed)
{
    const std::string file = (root_ / "file").string(), fifo = (root_ / "fifo").string();
    WriteFile(file, "not a folder");
    orxtest::FifoWatch watch({fifo});
    for (const std::string &home : {(root_ / "none").string(), file, fifo, file + ":" + fifo}) {
        EXPECT_EQ(Init(home), TCL_ERROR) << home;
        EXPECT_EQ(Result(), "orx: the installation is missing: MORVA_HOME is \"" + home +
                                "\", and no folder it names holds lib/orx/autoload.tcl");
    }
    EXPECT_TRUE(watch.Finish()) << "start-up waited on a FIFO";
}

TEST_F(InitTest, UserDirectoryAndPidLine)
{
    std::string a = Install("A", "type T4\n");
    fs::path dir = home_ / "ruvadiredavoz";
    WriteFile(dir, "in the way"); // cannot be made a directory
    EXPECT_EQ(Init(a), TCL_ERROR);
    EXPECT_EQ(Result(), "Could not make the ~/ruvadiredavoz directory.");
    fs::remove(dir);
    // Made, but its attribute cannot be set: a message of its own (was the one above).
    Drop();
    setenv("MORVA_HOME", a.c_str(), 1);
    interp_ = Tcl_CreateInterp();
    Eval("rename file tclFile; proc file {sub args} {"
         " if {$sub eq {attributes}} {error denied}; tailcall tclFile $sub {*}$args }");
    EXPECT_EQ(Orx_TclInit(interp_), TCL_ERROR);
    EXPECT_EQ(Result(), "Could not set the hidden attribute of the ~/ruvadiredavoz directory.");
    fs::remove(dir);
    // Made private (its pid-file line: init-3.1 and 3.2).
    ASSERT_EQ(Init(a), TCL_OK) << Result();
    EXPECT_TRUE(fs::is_directory(dir) && fs::status(dir).permissions() == fs::perms::owner_all);
    // An existing directory keeps its permissions.
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read);
    ASSERT_EQ(Init(a), TCL_OK) << Result();
    EXPECT_EQ(fs::status(dir).permissions(), fs::perms::owner_all | fs::perms::group_read);
}

TEST_F(InitTest, ConcatAndPutErrCode)
{
    Tcl_Interp *interp = interp_ = Tcl_CreateInterp();
    const char *words[] = {"a", "", "b", nullptr, "{y"};
    char *joined = Orx_Concat(5, words), *empty = Orx_Concat(0, nullptr);
    EXPECT_EQ(std::string(joined) + "|" + empty, "a  b  {y|");
    Tcl_Free(joined);
    Tcl_Free(empty);
    EXPECT_EQ(Orx_Ckstrdup(nullptr), nullptr);
    Orx_PutErrCode(interp, "ORX", nullptr);
    EXPECT_STREQ(Tcl_GetVar(interp, "errorCode", TCL_GLOBAL_ONLY), "{ORX }");
    Orx_PutErrCode(interp, "ORX", "file missing");
    EXPECT_STREQ(Tcl_GetVar(interp, "errorCode", TCL_GLOBAL_ONLY), "{ORX file missing}");
}

// Without HOME every "~" of start-up expands to the user database's home.
class InitWithoutHome : public InitTest {
protected:
    void SetUp() override
    {
        InitTest::SetUp();
        unsetenv("HOME");
        fakeUserHome = homeText_.c_str();
    }
    void TearDown() override
    {
        InitTest::TearDown();
        fakeUserHome = nullptr;
    }
    std::string homeText_ = home_.string();
};

TEST_F(InitWithoutHome, TildeNamesUseTheUserDatabase)
{
    // Failed with "couldn't find HOME environment variable to expand path".
    std::string a = Install("A", "type T5\n");
    WriteFile(home_ / ".typemap_user", "type HomeT\nlit label=user\n");
    setenv("ORX_PATH", "~/myscripts", 1);
    ASSERT_EQ(Init(a), TCL_OK) << Result();
    EXPECT_EQ(Eval("lindex $auto_path end-1"), (home_ / "myscripts").string());
    EXPECT_EQ(Eval("etp:attr HomeT lit label"), "user");
    EXPECT_TRUE(PidLine(home_ / "ruvadiredavoz")) << "no line for this process";
}

TEST_F(InitWithoutHome, ShellSourcesTheStartupFile)
{
    WriteFile(home_ / ".orxshrc", "puts rc-sourced\n");
    setenv("MORVA_HOME", Install("A", "type T6\n").c_str(), 1);
    orxtest::ChildRun run = orxtest::RunChild([](Tcl_Interp *) {
        Shell("", [](Tcl_Interp *interp) {
            Tcl_SetVar2(interp, "tcl_rcFileName", nullptr, "~/.orxshrc", TCL_GLOBAL_ONLY);
            return Orx_TclInit(interp);
        });
    });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "rc-sourced\n");
}

TEST_F(InitTest, ShellShowsTheNotesOfItsInitialisation)
{
    // A missing type map and a failing family: both notes reach the user (they were dropped).
    std::string c = Install("C", "");
    setenv("MORVA_HOME", c.c_str(), 1);
    orxtest::ChildRun run = orxtest::RunChild([](Tcl_Interp *) {
        // Signal support belongs to another thread here, so the shell's family fails.
        std::promise<void> owned;
        std::thread([&owned] {
            OrxXSignalInit(Tcl_CreateInterp());
            owned.set_value();
            for (;;) {
                pause();
            }
        }).detach();
        owned.get_future().wait();
        Shell("puts ran\n", Orx_TclInit);
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "ran\n");
    EXPECT_EQ(run.err,
              "Could not open file" + c +
                  "/config/typemap.tq\n"
                  "signal support is only available in the thread of the first interpreter\n");
}

// State owned by a command and its alias.
int statesFreed = 0;
void FreeState(ClientData clientData)
{
    delete static_cast<std::string *>(clientData);
    ++statesFreed;
}

int ReadState(ClientData clientData, Tcl_Interp *interp, int, Tcl_Obj *const[])
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(static_cast<std::string *>(clientData)->c_str(), -1));
    return TCL_OK;
}

TEST_F(InitTest, CreateObjCommandAliasesAndTheirSharedState)
{
    interp_ = Tcl_CreateInterp();
    auto create = [&](const char *name, const char *text, int flags) {
        statesFreed = 0;
        EXPECT_EQ(OrxX_CreateObjCommand(interp_, name, ReadState, new std::string(text), FreeState,
                                        flags),
                  0);
    };
    // Either name first, by deletion or by rename: the other still reads it.
    for (const char *script : {"rename owned {}; orxx_owned", "rename orxx_owned {}; owned",
                               "rename owned moved; rename orxx_owned {}; moved"}) {
        create("owned", "mine", 0);
        EXPECT_EQ(Eval(script), "mine") << script;
        EXPECT_EQ(statesFreed, 0) << script;
        Eval("foreach c {owned orxx_owned moved} {catch {rename $c {}}}");
        EXPECT_EQ(statesFreed, 1) << script;
    }
    // Only the alias is made for a name that exists; no alias, one name.
    create("set", "alias only", 0);
    EXPECT_EQ(Eval("rename orxx_set {}; set x 1"), "1");
    EXPECT_EQ(statesFreed, 1);
    create("single", "one", ORXX_CMD_NO_ALIAS);
    EXPECT_EQ(Eval("list [single] [info commands orxx_single]"), "one {}");
    Eval("rename single {}");
    EXPECT_EQ(statesFreed, 1);
    // A name beginning with "tclx" gets no alias.
    create("tclxthing", "x", 0);
    EXPECT_EQ(Eval("info commands *tclxthing"), "tclxthing");
    // Replacing both names of an earlier registration frees its state once.
    create("dup", "first", 0);
    create("dup", "second", ORXX_CMD_REPLACE);
    EXPECT_EQ(statesFreed, 1);
    EXPECT_EQ(Eval("list [dup] [orxx_dup]"), "second second");
    create("set", "replaced", ORXX_CMD_NO_ALIAS | ORXX_CMD_REPLACE);
    EXPECT_EQ(Eval("set"), "replaced");
    statesFreed = 0; // with the interpreter: those of dup, tclxthing and set
    Drop();
    EXPECT_EQ(statesFreed, 3);
}

// Two threads load one package; each waits a while for the other, first inside the
// package's initialisation (its write of pkgcalls), then once its load is done.  Loads
// that ran side by side would both map the package, and one record would overwrite the
// other.
std::atomic<int> g_initsRunning{0}, g_loadsDone{0};
void WaitForOther(std::atomic<int> *arrived)
{
    arrived->fetch_add(1);
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (arrived->load() < 2 && std::chrono::steady_clock::now() < end) {
        std::this_thread::yield();
    }
}
char *WaitInInit(ClientData, Tcl_Interp *, const char *, const char *, int)
{
    WaitForOther(&g_initsRunning);
    return nullptr;
}
int WaitAfterLoadCmd(ClientData, Tcl_Interp *, int, Tcl_Obj *const[])
{
    WaitForOther(&g_loadsDone);
    return TCL_OK;
}

TEST_F(InitTest, PackageLoadedByTwoThreadsAtOnce)
{
    setenv("PATH", (std::string(ORX_BUILD_DIR) + "/tests/packages").c_str(), 1);
    auto loadAndUnload = [] {
        Tcl_Interp *interp = Tcl_CreateInterp();
        Tcl_CreateCommand(interp, "orx:load", Orx_LoadCmd, nullptr, nullptr);
        Tcl_CreateCommand(interp, "orx:unload", Orx_UnloadCmd, nullptr, nullptr);
        Tcl_CreateObjCommand(interp, "waitAfterLoad", WaitAfterLoadCmd, nullptr, nullptr);
        Tcl_TraceVar(interp, "pkgcalls", TCL_GLOBAL_ONLY | TCL_TRACE_WRITES, WaitInInit,
                     nullptr);
        EXPECT_EQ(Tcl_Eval(interp, "orx:load pkgbasic; waitAfterLoad\n"
                                   "list [orx:load] [pkgbasic:hello]"),
                  TCL_OK);
        EXPECT_STREQ(Tcl_GetStringResult(interp), "pkgbasic {hello from pkgbasic}");
        EXPECT_EQ(Tcl_Eval(interp, "orx:unload pkgbasic; orx:load"), TCL_OK)
            << Tcl_GetStringResult(interp);
        EXPECT_STREQ(Tcl_GetStringResult(interp), "");
        Tcl_DeleteInterp(interp);
    };
    std::thread other([&] {
        loadAndUnload();
        Tcl_FinalizeThread();
    });
    loadAndUnload();
    other.join();
}
} // namespace
