// Orx_Pathsplit and Orx_UnQuoteName as other product libraries call them.
#include <gtest/gtest.h>

#include <string>

#include "orx_strpath.h"

namespace {

std::string Split(const char *path, char sep, int unquote)
{
    Tcl_DString out;
    Tcl_DStringInit(&out);
    EXPECT_EQ(Orx_Pathsplit(path, sep, unquote, &out), 0);
    std::string text(Tcl_DStringValue(&out), Tcl_DStringLength(&out));
    Tcl_DStringFree(&out);
    return text;
}

std::string Unquote(std::string name)
{
    return Orx_UnQuoteName(&name[0]);
}

TEST(StrpathTest, UnQuoteName)
{
    EXPECT_EQ(Unquote("x@\"a/b\"y"), "xa/by");
    EXPECT_EQ(Unquote("@\"a\"@\"b\""), "ab");
    EXPECT_EQ(Unquote("x@\"open"), "x@\"open");        // no closing quote: unchanged from there
    EXPECT_EQ(Unquote("@\"a\"b@\"c"), "ab@\"c");
    EXPECT_EQ(Unquote("@\"\"z"), "z");                 // empty text between
    EXPECT_EQ(Unquote("@\"\"@\"x\""), "@\"x\"");       // the moved-in "@" is not examined again
    EXPECT_EQ(Unquote("@\"a@\"\"x\""), "ax");          // a mark formed across the removal
    EXPECT_EQ(Unquote(""), "");
    EXPECT_EQ(Unquote("@"), "@");
    EXPECT_EQ(Orx_UnQuoteName(nullptr), nullptr);
    char text[] = "k@\"v\"";
    EXPECT_EQ(Orx_UnQuoteName(text), text);
}

TEST(StrpathTest, PathsplitWithAndWithoutUnquoting)
{
    EXPECT_EQ(Split("/top/@\"a/b\"/c", '/', 0), "top @\\\"a/b\\\" c");
    EXPECT_EQ(Split("/top/@\"a/b\"/c", '/', 1), "top a/b c");
    // The caller's text is not changed.
    const char path[] = "/@\"x\"/y";
    EXPECT_EQ(Split(path, '/', 1), "x y");
    EXPECT_STREQ(path, "/@\"x\"/y");
    EXPECT_EQ(Split(nullptr, '/', 0), "");
}

} // namespace
