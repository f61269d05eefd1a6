// Orx_Pathsplit and Orx_UnQuoteName as other product libraries call them,
// and tmpname where a script cannot show it (a TMPDIR root may search).

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>

#include "tests/support/child_run.h"
#endif
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
    EXPECT_EQ(Unquote("x@\"open"), "x@\"open"); // no closing quote: unchanged from there
    EXPECT_EQ(Unquote("@\"a\"b@\"c"), "ab@\"c");
    EXPECT_EQ(Unquote("@\"\"z"), "z");           // empty text between
    EXPECT_EQ(Unquote("@\"\"@\"x\""), "@\"x\""); // the moved-in "@" is not examined again
    EXPECT_EQ(Unquote("@\"a@\"\"x\""), "ax");    // a mark formed across the removal
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

// The fault: with TMPDIR a directory this process may not search, every name was
// refused and tmpname returned "".
TEST(StrpathTest, TmpnameFallsBackToTmpWhenTmpdirCannotBeSearched)
{
#ifdef _WIN32
    GTEST_SKIP() << "a directory closed by its mode, and a child that is nobody: POSIX only";
#else
    Tcl_FindExecutable(nullptr);
    char dir[] = "/tmp/orx_strpath_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    ASSERT_EQ(chmod(dir, 0700), 0);
    orxtest::ChildRun run = orxtest::RunChild([&dir](Tcl_Interp *interp) {
        setenv("TMPDIR", dir, 1);
        const char *argv[] = {"tmpname", nullptr};
        bool ok = orxtest::BecomeNobody() && Orx_TmpnamCmd(nullptr, interp, 1, argv) == TCL_OK;
        _exit(ok && std::string(Tcl_GetStringResult(interp)).compare(0, 7, "/tmp/tq") == 0 ? 0 : 1);
    });
    rmdir(dir);
    EXPECT_EQ(run.status, 0);
#endif
}
} // namespace
