// The profiler and interpreter deletion: an interpreter deleted while
// profiling is on, also from inside a profiled procedure with callbacks still
// pending, frees everything once (the sanitizer build checks).
#include <gtest/gtest.h>
#include <tcl.h>

#include <string>
#include <vector>

#include "orx_profile.h"

namespace {

std::string Eval(Tcl_Interp *interp, const std::string &script)
{
    int code = Tcl_Eval(interp, script.c_str());
    std::string result = Tcl_GetStringResult(interp);
    return code == TCL_OK ? result : "ERROR: " + result;
}

class Profile : public ::testing::Test {
protected:
    void SetUp() override
    {
        parent_ = Tcl_CreateInterp();
        child_ = Tcl_CreateChild(parent_, "child", 0);
        ASSERT_EQ(OrxX_ProfileInit(child_), TCL_OK);
    }
    void TearDown() override { Tcl_DeleteInterp(parent_); }
    Tcl_Interp *parent_;
    Tcl_Interp *child_;
};

TEST_F(Profile, InterpreterDeletedWhileOn)
{
    EXPECT_EQ(Eval(child_, "proc p {} {}; proc q {} {p; profile on; p}; q; p"), "");
    Tcl_DeleteInterp(child_);
    EXPECT_EQ(Eval(parent_, "interp exists child"), "0");
}

TEST_F(Profile, InterpreterDeletedFromAProfiledProcedure)
{
    std::vector<const char *> words{"delete", "child"};
    Tcl_CreateAlias(child_, "killme", parent_, "interp", 2, words.data());
    EXPECT_EQ(Eval(parent_, "child eval {proc p {} {killme; return after}; "
                            "proc q {} {p}; profile -commands on; q}"),
              "ERROR: attempt to call eval in deleted interpreter");
    EXPECT_EQ(Eval(parent_, "interp exists child"), "0");
}

TEST_F(Profile, OffWritesInTheCallersScope)
{
    EXPECT_EQ(Eval(child_, "proc p {} {}; proc w {} {profile off a; array size a}; "
                           "profile on; p; w"),
              "3");
    EXPECT_EQ(Eval(child_, "info exists a"), "0");
}

} // namespace
