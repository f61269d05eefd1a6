// Test fixture: a fresh interpreter per test, with the evaluation helpers the
// C-level tests share, and objects held until the test ends.
#ifndef ORX_INTERP_FIXTURE_H
#define ORX_INTERP_FIXTURE_H
#include <gtest/gtest.h>
#include <tcl.h>
#include <string>
#include <vector>

namespace orxtest {

class InterpTest : public ::testing::Test {
protected:
    void SetUp() override { interp_ = Tcl_CreateInterp(); }
    void TearDown() override
    {
        for (Tcl_Obj *obj : held_) {
            Tcl_DecrRefCount(obj);
        }
        DeleteInterp();
    }
    void DeleteInterp()
    {
        if (interp_ != nullptr) {
            Tcl_DeleteInterp(interp_);
            interp_ = nullptr;
        }
    }
    std::string Result() const { return Tcl_GetStringResult(interp_); }
    // The script's result, or "ERROR: " and the message.
    std::string Eval(const std::string &script)
    {
        int code = Tcl_Eval(interp_, script.c_str());
        return (code == TCL_OK ? "" : "ERROR: ") + Result();
    }
    // Holds obj (a new one of the caller's) until the test ends.
    Tcl_Obj *Hold(Tcl_Obj *obj)
    {
        Tcl_IncrRefCount(obj);
        held_.push_back(obj);
        return obj;
    }
    Tcl_Obj *Text(const char *text) { return Hold(Tcl_NewStringObj(text, -1)); }
    // The message of a call that had to fail; the result is cleared for the next call.
    std::string Failure(int status)
    {
        EXPECT_EQ(status, TCL_ERROR);
        std::string message = Result();
        Tcl_ResetResult(interp_);
        return message;
    }
    // The -errorcode of the last failure, as a script catching it sees it.
    std::string ErrorCode()
    {
        Tcl_Obj *code = nullptr;
        Tcl_DictObjGet(nullptr, Hold(Tcl_GetReturnOptions(interp_, TCL_ERROR)), Text("-errorcode"),
                       &code);
        return code != nullptr ? Tcl_GetString(code) : "";
    }
    Tcl_Interp *interp_ = nullptr;
    std::vector<Tcl_Obj *> held_;
};
} // namespace orxtest
#endif
