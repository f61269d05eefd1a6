// Release-information functions as other product libraries call them: the release string and its
// cut, the notices through memory files and output units, and the upper-case entry points with
// their trimmed copies.

#include <gtest/gtest.h>
#include <cstring>

#include "orx_release.h"
#include "tests/support/tessary_fixture.h"

namespace {

using Strings = std::vector<std::string>;
class ReleaseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Write("[VERSIONS]\nP = V2\n[RELINFO]\nRELEASE = R7\nDECORATION = -beta\n"
              "BUILD_NUMBER = 123\nBUILD_DATE = May 5\n");
        setenv("TESSARY_CONFIG", (dir_.path + "/r.cfg").c_str(), 1);
    }
    void Write(const std::string &text) { dir_.Write("r.cfg", text); }
    // Reads a memory file back and deletes it.
    static Strings Lines(int memFile)
    {
        Strings lines = orxtest::ReadMemFile(memFile);
        c_mfdel(&memFile);
        return lines;
    }
    orxtest::EnvGuard env_{"TESSARY_CONFIG"};
    orxtest::TempDir dir_;
    const std::string release_ = "R7-beta-V2 Build 123 on May 5" + std::string(Tq_GetRelstring());
};

TEST_F(ReleaseTest, ReleaseStringAndItsCut)
{
    char out[256];
    int length = -1;
    EXPECT_STREQ(Tq_GetRelver(nullptr), " ");
    // The cut leaves room for the terminator and writes nothing beyond; a maximum length
    // of 0 must not give length -1 and a write before the buffer.
    for (int max : {10, 1, 0}) {
        std::memset(out, 'X', sizeof out);
        c_reln("P", out, &length, max);
        const int want = max > 0 ? max - 1 : 0;
        EXPECT_EQ(length, want) << max;
        EXPECT_EQ(std::string(out, want), release_.substr(0, want));
        EXPECT_EQ(out[want], max > 0 ? '\0' : 'X');
        EXPECT_EQ(out[want + 1], 'X');
    }
    // Trimmed product, maximum length read through its address.
    int max = 256;
    RELN("P   xyz", out, &length, &max, 4);
    EXPECT_EQ(out, release_);
    Write("[VERSIONS]\nP = V2\n[P]\nVERSION = own\n");
    EXPECT_STREQ(Tq_GetRelver("P"), "own"); // the application's own string wins
    EXPECT_STREQ(Tq_GetRelInf("RELEASE"), "");
    EXPECT_STREQ(Tq_GetRelInf(nullptr), "");
    Write("[VERSIONS]\nP = " + std::string(200, 'v') + "\n");
    c_reln("P", out, &length, sizeof out);
    EXPECT_EQ(length, 127);
    EXPECT_EQ(out, "-" + std::string(126, 'v'));
    // A cut never tears a UTF-8 character: "-x" and two-byte characters put both cuts
    // (127 and 5 bytes) inside one.
    std::string wide = "x";
    for (int i = 0; i < 100; ++i) {
        wide += "\xc3\xa9";
    }
    Write("[VERSIONS]\nP = " + wide + "\n");
    c_reln("P", out, &length, sizeof out);
    EXPECT_EQ(length, 126);
    EXPECT_EQ(out, "-" + wide.substr(0, 125));
    c_reln("P", out, &length, 6);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(out, "-" + wide.substr(0, 3));
}

TEST_F(ReleaseTest, LegalNoticeIntoMemoryFiles)
{
    int mf = 0;
    c_mf_copyr(&mf);
    ASSERT_NE(mf, 0);
    c_mf_copyr(&mf); // an existing memory file gets the notice appended
    const Strings twice = Lines(mf);
    ASSERT_EQ(twice.size(), 80u);
    EXPECT_EQ(Strings(twice.begin(), twice.begin() + 40), Strings(twice.begin() + 40, twice.end()));
    // A handle that names no memory file is reported and reset.
    int stale = mf + 9999;
    c_mf_copyr(&stale);
    EXPECT_EQ(stale, 0);
    EXPECT_EQ(c_erlast(nullptr), 2003);
}

TEST_F(ReleaseTest, ProductNoticesWithoutInformation)
{
    // Empty information, or an all-blank trimmed one: the notice and the release line (none at
    // all: release-2.4 and 2.5).
    const Strings tail{"", "Label " + release_, ""};
    for (int mf : {c_mcopyr("P", "Label", ""), MCOPYR("P   ", "Label  x", "     ", 4, 6, 5)}) {
        const Strings lines = Lines(mf);
        ASSERT_EQ(lines.size(), 43u);
        EXPECT_EQ(Strings(lines.begin() + 40, lines.end()), tail);
    }
}

TEST_F(ReleaseTest, NoticesToTheCurrentOutput)
{
    int target = 0, unit = c_oomfil(&target, 0);
    ASSERT_EQ(c_oopush(unit), unit);
    c_op_mcopyr("P", "L", "info text");
    COPYR();
    OP_MCOPYR("P  ", "L", "x", 3, 1, 0);
    c_oopop();
    c_ooclos(unit);
    int notice = 0;
    c_mf_copyr(&notice);
    const Strings lines = Lines(target);
    ASSERT_EQ(lines.size(), 6u + 40u + 43u);
    EXPECT_EQ(lines[4], "info text"); // the notice's layout: release-2.7 and 2.8
    EXPECT_EQ(Strings(lines.begin() + 6, lines.begin() + 46), Lines(notice));
    EXPECT_EQ(lines[46 + 41], "L " + release_);
}
} // namespace
