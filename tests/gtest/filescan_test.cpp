// File scanning and interpreter deletion: contexts, patterns and close
// handlers go with their interpreter, also when it is deleted while a scan
// of it runs (the sanitizer build checks for leaks and stale handlers).
#include <gtest/gtest.h>
#include <tcl.h>

#include <cstdio>
#include <string>

#include "child_interp.h"
#include "orx_filescan.h"

namespace {

class Filescan : public ChildInterpTest {
protected:
    void SetUp() override
    {
        MakeChild(OrxXFilescanInit);
        // One file per test: CTest runs the tests of this suite side by side.
        path_ = testing::TempDir() + "filescan_gtest_" +
                testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
        std::FILE *file = std::fopen(path_.c_str(), "w");
        std::fputs("a\nb\nc\n", file);
        std::fclose(file);
    }
    void TearDown() override
    {
        ChildInterpTest::TearDown();
        std::remove(path_.c_str());
        std::remove((path_ + ".copy").c_str());
    }
    std::string path_;
};

TEST_F(Filescan, ContextsAndSharedCopyChannelGoWithTheInterpreter)
{
    std::string out = Eval(parent_, "set out [open " + path_ + ".copy w]; interp share {} $out child; set out");
    Eval(child_, "set c [scancontext create]; scanmatch $c x {set y 1}; scanmatch $c {set z 1};"
                 "scancontext copyfile $c " + out + "; scancontext create");
    Tcl_DeleteInterp(child_);
    // The copy channel lives on in the parent, without a handler of the child.
    EXPECT_EQ(Eval(parent_, "puts $out still-open; close $out"), "");
}

TEST_F(Filescan, InterpreterDeletedByAMatchCommand)
{
    std::string script = "set c [scancontext create]; set f [open " + path_ +
                         "]; scanmatch $c b killme; scanmatch $c . {lappend seen $matchInfo(line)};"
                         "scanfile $c $f";
    EXPECT_EQ(Eval(parent_, "catch {child eval {" + script + "}} m; list [interp exists child] $m"),
              "0 {attempt to call eval in deleted interpreter}");
}

} // namespace
