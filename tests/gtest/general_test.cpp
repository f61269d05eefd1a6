// The application information that a host records with OrxX_SetAppInfo, as
// infox reports it.  The information is process-wide: this is its only test.

#include <gtest/gtest.h>

#include "orx_general.h"

namespace {

std::string Infox(Tcl_Interp *interp, const char *option)
{
    std::string script = std::string("infox ") + option;
    EXPECT_EQ(Tcl_Eval(interp, script.c_str()), TCL_OK) << Tcl_GetStringResult(interp);
    return Tcl_GetStringResult(interp);
}

std::string AllAppInfo(Tcl_Interp *interp)
{
    return Infox(interp, "appname") + "|" + Infox(interp, "applongname") + "|" +
           Infox(interp, "appversion") + "|" + Infox(interp, "apppatchlevel");
}

TEST(GeneralTest, SetAppInfoDefaultsAndReplacement)
{
    Tcl_Interp *interp = Tcl_CreateInterp();
    ASSERT_EQ(OrxXGeneralInit(interp), TCL_OK);
    EXPECT_EQ(AllAppInfo(interp), "|||0");
    // Defaults fill only what is unset; null and negative change nothing.
    OrxX_SetAppInfo(1, "sim", nullptr, "4.1", -1);
    EXPECT_EQ(AllAppInfo(interp), "sim||4.1|0");
    OrxX_SetAppInfo(1, "other", "Simulator", "9.9", 3);
    EXPECT_EQ(AllAppInfo(interp), "sim|Simulator|4.1|3");
    OrxX_SetAppInfo(1, nullptr, nullptr, nullptr, 8);
    EXPECT_EQ(AllAppInfo(interp), "sim|Simulator|4.1|3");
    // Without defaults every given item replaces the stored one.
    OrxX_SetAppInfo(0, "netview", nullptr, "2.0", 0);
    EXPECT_EQ(AllAppInfo(interp), "netview|Simulator|2.0|0");
    OrxX_SetAppInfo(0, nullptr, "", nullptr, -5);
    EXPECT_EQ(AllAppInfo(interp), "netview||2.0|0");
    // The strings are the caller's, not copies.
    static char version[] = "3.0";
    OrxX_SetAppInfo(0, nullptr, nullptr, version, -1);
    version[0] = '5';
    EXPECT_EQ(Infox(interp, "appversion"), "5.0");
    Tcl_DeleteInterp(interp);
}
} // namespace
