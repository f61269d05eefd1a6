// Fixture for families tested in a child interpreter that the test deletes,
// from outside or from inside one of its own commands (through an alias to
// the parent's "interp delete child").
#ifndef ORX_TESTS_CHILD_INTERP_H
#define ORX_TESTS_CHILD_INTERP_H

#include <gtest/gtest.h>
#include <tcl.h>

#include <string>

class ChildInterpTest : public ::testing::Test {
protected:
    // Creates "child" below a fresh parent, initialised by init, with the
    // command killme that deletes it.
    void MakeChild(int (*init)(Tcl_Interp *))
    {
        parent_ = Tcl_CreateInterp();
        child_ = Tcl_CreateChild(parent_, "child", 0);
        ASSERT_EQ(init(child_), TCL_OK);
        const char *words[] = {"delete", "child"};
        Tcl_CreateAlias(child_, "killme", parent_, "interp", 2, words);
    }
    void TearDown() override
    {
        if (parent_ != nullptr) {
            Tcl_DeleteInterp(parent_);
        }
    }
    // The result, or "ERROR: " and the message.
    static std::string Eval(Tcl_Interp *interp, const std::string &script)
    {
        int code = Tcl_Eval(interp, script.c_str());
        std::string result = Tcl_GetStringResult(interp);
        return code == TCL_OK ? result : "ERROR: " + result;
    }
    Tcl_Interp *parent_ = nullptr;
    Tcl_Interp *child_ = nullptr;
};

#endif
