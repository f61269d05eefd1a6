// Orx_TclInit in-process, with HOME, MORVA_HOME, ORX_PATH, PATH and the
// current directory pointed at a temporary tree; and the small exported
// helpers of the initialisation.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tcl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "orx_etp.h"
#include "orx_init.h"

namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path &path, const std::string &text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

std::string Var(Tcl_Interp *interp, const char *name)
{
    const char *value = Tcl_GetVar(interp, name, TCL_GLOBAL_ONLY);
    return value != nullptr ? value : "<unset>";
}

class SavedEnv {
public:
    explicit SavedEnv(const char *name) : name_(name)
    {
        const char *v = getenv(name);
        had_ = v != nullptr;
        if (had_) {
            value_ = v;
        }
    }
    ~SavedEnv()
    {
        if (had_) {
            setenv(name_, value_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char *name_;
    bool had_;
    std::string value_;
};

class InitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Tcl_FindExecutable(nullptr);
        char tmpl[] = "/tmp/orx-init-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        home_ = root_ / "home";
        cwd_ = root_ / "cwd";
        fs::create_directories(home_);
        fs::create_directories(cwd_);
        oldCwd_ = fs::current_path();
        fs::current_path(cwd_);
        setenv("HOME", home_.c_str(), 1);
        std::string path = std::string(ORX_BUILD_DIR) + "/packages:" + savedPathText_;
        setenv("PATH", path.c_str(), 1);
        unsetenv("ORX_PATH");
        unsetenv("MORVA_HOME");
    }

    void TearDown() override
    {
        if (interp_ != nullptr) {
            // The package table is process-wide: the next test loads again.
            Tcl_Eval(interp_, "catch {orx:unload zub}; catch {orx:unload lumbrine}");
            Tcl_DeleteInterp(interp_);
        }
        fs::current_path(oldCwd_);
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    // An installation directory with lib/orx and, unless told, a type map.
    fs::path Install(const std::string &name, const std::string &typeMap)
    {
        fs::path dir = root_ / name;
        fs::create_directories(dir / "lib" / "orx");
        if (!typeMap.empty()) {
            WriteFile(dir / "config" / "typemap.tq", typeMap);
        }
        return dir;
    }

    int Init()
    {
        interp_ = Tcl_CreateInterp();
        return Orx_TclInit(interp_);
    }

    std::string Result() { return Tcl_GetStringResult(interp_); }

    std::string Eval(const char *script)
    {
        EXPECT_EQ(Tcl_Eval(interp_, script), TCL_OK) << Result();
        return Result();
    }

    SavedEnv savedHome_{"HOME"}, savedPath_{"PATH"}, savedMorva_{"MORVA_HOME"},
        savedOrxPath_{"ORX_PATH"}, savedOrxHome_{"ORX_HOME"};
    std::string savedPathText_ = getenv("PATH") != nullptr ? getenv("PATH") : "";
    fs::path root_, home_, cwd_, oldCwd_;
    Tcl_Interp *interp_ = nullptr;
};

TEST_F(InitTest, MissingMorvaHomeFails)
{
    EXPECT_EQ(Init(), TCL_ERROR);
    EXPECT_EQ(Result(), "orx: INTERNAL ERROR: Cannot find MORVA_HOME in environment.");
}

TEST_F(InitTest, TwoInstallationsExtendAutoPathInOrderAndLoadTypeMapsLastFirst)
{
    fs::path a = Install("A", "type OrderT\nlit label=fromA\n");
    fs::path b = Install("B", "type OrderT\nlit label=fromB\nonlyB label=b\n");
    setenv("MORVA_HOME", (a.string() + ":" + b.string()).c_str(), 1);
    setenv("ORX_PATH", "/x/scripts {/y/more scripts}", 1);
    ASSERT_EQ(Init(), TCL_OK) << Result();
    EXPECT_EQ(Result(), "");
    std::string tail = Eval("lrange $auto_path end-3 end");
    EXPECT_EQ(tail, "/x/scripts {/y/more scripts} " + (a / "lib/orx").string() + " " +
                        (b / "lib/orx").string());
    EXPECT_EQ(Eval("set env(ORX_HOME)"), a.string() + ":" + b.string());

    // B was loaded first, so A's label is the one that stays.
    EtpType *type = nullptr;
    EtpLiteral *literal = nullptr;
    EtpAttr *attr = nullptr;
    ASSERT_TRUE(etpFindType("OrderT", &type));
    ASSERT_TRUE(etpFindTypeLiteralByName(type, "lit", &literal));
    ASSERT_TRUE(etpGetLiteralAttr(literal, ETP_ATTR_LABEL, &attr));
    char label[32];
    ASSERT_TRUE(etpGetAttrString(attr, label, sizeof label));
    EXPECT_STREQ(label, "fromA");
    EXPECT_TRUE(etpFindTypeLiteralByName(type, "onlyB", &literal));
}

TEST_F(InitTest, UserAndDesignTypeMapsComeAfterTheInstallation)
{
    fs::path a = Install("A", "type LayerT\nlit label=install\n");
    WriteFile(home_ / ".typemap_user", "type LayerT\nlit label=user\n");
    WriteFile(cwd_ / "typemap.design", "type LayerT\nlit label=design\nmine label=d\n");
    setenv("MORVA_HOME", a.c_str(), 1);
    ASSERT_EQ(Init(), TCL_OK) << Result();
    EtpType *type = nullptr;
    EtpLiteral *literal = nullptr;
    EtpAttr *attr = nullptr;
    ASSERT_TRUE(etpFindType("LayerT", &type));
    ASSERT_TRUE(etpFindTypeLiteralByName(type, "lit", &literal));
    ASSERT_TRUE(etpGetLiteralAttr(literal, ETP_ATTR_LABEL, &attr));
    char label[32];
    etpGetAttrString(attr, label, sizeof label);
    EXPECT_STREQ(label, "design");
}

TEST_F(InitTest, TildeInOrxPathIsSubstituted)
{
    fs::path a = Install("A", "type T1\n");
    setenv("MORVA_HOME", a.c_str(), 1);
    setenv("ORX_PATH", "~/myscripts", 1);
    ASSERT_EQ(Init(), TCL_OK) << Result();
    EXPECT_EQ(Eval("lindex $auto_path end-1"), (home_ / "myscripts").string());
}

TEST_F(InitTest, BadOrxPathFailsWithTclsMessage)
{
    fs::path a = Install("A", "type T1\n");
    setenv("MORVA_HOME", a.c_str(), 1);
    setenv("ORX_PATH", "{unclosed", 1);
    EXPECT_EQ(Init(), TCL_ERROR);
    EXPECT_EQ(Result(), "unmatched open brace in list");
    Tcl_DeleteInterp(interp_);
    setenv("ORX_PATH", "~nosuchuser_orx/lib", 1);
    EXPECT_EQ(Init(), TCL_ERROR);
    EXPECT_EQ(Result(), "user \"nosuchuser_orx\" doesn't exist");
}

TEST_F(InitTest, MissingTypeMapIsNotedAndInitialisationGoesOn)
{
    fs::path a = Install("A", "");
    fs::path b = Install("B", "type T2\n");
    setenv("MORVA_HOME", (a.string() + ":" + b.string()).c_str(), 1);
    ASSERT_EQ(Init(), TCL_OK) << Result();
    EXPECT_EQ(Result(), "Could not open file" + (a / "config/typemap.tq").string());
    EXPECT_EQ(Eval("orx:load"), "lumbrine zub");
}

TEST_F(InitTest, VariablesAndPrompts)
{
    fs::path a = Install("A", "type T3\n");
    setenv("MORVA_HOME", a.c_str(), 1);
    ASSERT_EQ(Init(), TCL_OK) << Result();
    EXPECT_EQ(Var(interp_, "tcl_precision"), "14");
    EXPECT_EQ(Var(interp_, "orx_fpformat"), "engmult");
    EXPECT_EQ(Var(interp_, "tcl_prompt1"), "puts -nonewline stdout {orx: }");
    EXPECT_EQ(Var(interp_, "tcl_prompt2"), "puts -nonewline stdout {> }");
    EXPECT_NE(Var(interp_, "orx_version"), "<unset>");
    EXPECT_EQ(Eval("expr {1/3.}"), "0.33333333333333");
    EXPECT_EQ(Eval("format %.1f 2.5"), "2.5"); // numeric locale stays "C"
}

TEST_F(InitTest, UserDirectoryIsMadePrivateAndThePidLineWritten)
{
    fs::path a = Install("A", "type T4\n");
    setenv("MORVA_HOME", a.c_str(), 1);
    ASSERT_EQ(Init(), TCL_OK) << Result();
    struct stat st;
    ASSERT_EQ(stat((home_ / "ruvadiredavoz").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    std::string prefix = std::to_string(getpid()) + " ";
    std::string line;
    for (int i = 0; i < 100 && line.rfind(prefix, 0) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::ifstream in(home_ / "ruvadiredavoz" / "pid_tq");
        std::getline(in, line);
    }
    EXPECT_EQ(line.rfind(prefix, 0), 0u) << line;
}

TEST_F(InitTest, ExistingUserDirectoryIsLeftAlone)
{
    fs::path a = Install("A", "type T5\n");
    setenv("MORVA_HOME", a.c_str(), 1);
    fs::create_directories(home_ / "ruvadiredavoz");
    chmod((home_ / "ruvadiredavoz").c_str(), 0755);
    ASSERT_EQ(Init(), TCL_OK) << Result();
    struct stat st;
    ASSERT_EQ(stat((home_ / "ruvadiredavoz").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
}

TEST_F(InitTest, UserDirectoryThatIsAFileCannotBeMade)
{
    fs::path a = Install("A", "type T6\n");
    setenv("MORVA_HOME", a.c_str(), 1);
    WriteFile(home_ / "ruvadiredavoz", "in the way");
    EXPECT_EQ(Init(), TCL_ERROR);
    EXPECT_EQ(Result(), "Could not make the ~/ruvadiredavoz directory.");
}

TEST_F(InitTest, StartupPackageNotOnPathFails)
{
    fs::path a = Install("A", "type T7\n");
    setenv("MORVA_HOME", a.c_str(), 1);
    setenv("PATH", "/nonexistent", 1);
    EXPECT_EQ(Init(), TCL_ERROR);
    EXPECT_NE(Result().find("libtq_zub.so"), std::string::npos) << Result();
}

int CountCmd(ClientData clientData, Tcl_Interp *interp, int, Tcl_Obj *const[])
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(static_cast<const char *>(clientData), -1));
    return TCL_OK;
}

TEST(CreateObjCommand, ExistingCommandIsKeptButAliasMade)
{
    Tcl_Interp *interp = Tcl_CreateInterp();
    static char mine[] = "mine";
    EXPECT_EQ(OrxX_CreateObjCommand(interp, "set", CountCmd, mine, nullptr, 0), 0);
    EXPECT_EQ(Tcl_Eval(interp, "set x 5"), TCL_OK);
    EXPECT_STREQ(Tcl_GetStringResult(interp), "5");
    EXPECT_EQ(Tcl_Eval(interp, "orxx_set"), TCL_OK);
    EXPECT_STREQ(Tcl_GetStringResult(interp), "mine");

    EXPECT_EQ(OrxX_CreateObjCommand(interp, "fresh", CountCmd, mine,
                                    nullptr, ORXX_CMD_NO_ALIAS | ORXX_CMD_REPLACE), 0);
    EXPECT_EQ(OrxX_CreateObjCommand(interp, "set", CountCmd, mine, nullptr, 3), 0);
    EXPECT_EQ(Tcl_Eval(interp, "set"), TCL_OK);
    EXPECT_STREQ(Tcl_GetStringResult(interp), "mine");
    EXPECT_EQ(Tcl_Eval(interp, "info commands orxx_fresh"), TCL_OK);
    EXPECT_STREQ(Tcl_GetStringResult(interp), "");

    EXPECT_EQ(OrxX_CreateObjCommand(interp, "tclxthing", CountCmd, mine, nullptr, 0), 0);
    EXPECT_EQ(Tcl_Eval(interp, "list [info commands tclxthing] [info commands orxx_tclxthing]"),
              TCL_OK);
    EXPECT_STREQ(Tcl_GetStringResult(interp), "tclxthing {}");
    Tcl_DeleteInterp(interp);
}

TEST(StringHelpers, ConcatJoinsWithSingleBlanks)
{
    const char *words[] = {"a", "", "b"};
    char *joined = Orx_Concat(3, words);
    EXPECT_STREQ(joined, "a  b");
    Tcl_Free(joined);
    char *empty = Orx_Concat(0, nullptr);
    EXPECT_STREQ(empty, "");
    Tcl_Free(empty);
    const char *withNull[] = {"x", nullptr, "{y"};
    char *j2 = Orx_Concat(3, withNull);
    EXPECT_STREQ(j2, "x  {y");
    Tcl_Free(j2);
}

TEST(StringHelpers, CkstrdupCopiesOrGivesNull)
{
    EXPECT_EQ(Orx_Ckstrdup(nullptr), nullptr);
    char *copy = Orx_Ckstrdup("multi\xc3\xa9");
    EXPECT_STREQ(copy, "multi\xc3\xa9");
    Tcl_Free(copy);
}

TEST(StringHelpers, PutErrCodeMakesOneElement)
{
    Tcl_Interp *interp = Tcl_CreateInterp();
    Orx_PutErrCode(interp, "ORX", "file missing");
    EXPECT_STREQ(Tcl_GetVar(interp, "errorCode", TCL_GLOBAL_ONLY), "{ORX file missing}");
    Orx_PutErrCode(interp, "ORX", nullptr);
    EXPECT_STREQ(Tcl_GetVar(interp, "errorCode", TCL_GLOBAL_ONLY), "{ORX }");
    Tcl_DeleteInterp(interp);
}

} // namespace
