// The profiler and interpreter deletion: an interpreter deleted while
// profiling is on, also from inside a profiled procedure with callbacks still
// pending, frees everything once (the sanitizer build checks).
#include <gtest/gtest.h>
#include <tcl.h>

#include <string>

#include "child_interp.h"
#include "orx_profile.h"

namespace {

class Profile : public ChildInterpTest {
protected:
    void SetUp() override { MakeChild(OrxX_ProfileInit); }
};

TEST_F(Profile, InterpreterDeletedWhileOn)
{
    EXPECT_EQ(Eval(child_, "proc p {} {}; proc q {} {p; profile on; p}; q; p"), "");
    Tcl_DeleteInterp(child_);
    EXPECT_EQ(Eval(parent_, "interp exists child"), "0");
}

TEST_F(Profile, InterpreterDeletedFromAProfiledProcedure)
{
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
