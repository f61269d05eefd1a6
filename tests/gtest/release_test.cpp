// Release-information functions as other product libraries call them: the
// release string and its cut, the notices through memory files and output
// units, and the upper-case entry points with their trimmed copies.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "orx_release.h"
#include "orx_tessary.h"

namespace {

using Strings = std::vector<std::string>;

class ReleaseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/release_test.XXXXXX.cfg";
        int fd = mkstemps(tmpl, 4);
        ASSERT_GE(fd, 0);
        close(fd);
        path_ = tmpl;
        const char *old = std::getenv("TESSARY_CONFIG");
        hadOld_ = old != nullptr;
        if (hadOld_) {
            old_ = old;
        }
        Write("[VERSIONS]\nP = V2\n[RELINFO]\nRELEASE = R7\nDECORATION = -beta\n"
              "BUILD_NUMBER = 123\nBUILD_DATE = May 5\n");
        setenv("TESSARY_CONFIG", path_.c_str(), 1);
    }
    void TearDown() override
    {
        if (hadOld_) {
            setenv("TESSARY_CONFIG", old_.c_str(), 1);
        } else {
            unsetenv("TESSARY_CONFIG");
        }
        std::remove(path_.c_str());
    }
    void Write(const std::string &text) { std::ofstream(path_, std::ios::binary) << text; }

    static Strings Lines(int memFile)
    {
        Strings lines;
        char buffer[300];
        c_mfopen(&memFile, 'r', 0);
        for (int n; (n = c_mfread(memFile, buffer, -256)) >= 0;) {
            lines.emplace_back(buffer, n);
        }
        return lines;
    }

    std::string path_, old_;
    bool hadOld_ = false;
};

TEST_F(ReleaseTest, ReleaseStringAndItsCut)
{
    const std::string copyright = Tq_GetRelstring();
    ASSERT_EQ(copyright.size(), 40u);
    EXPECT_EQ(copyright[0], ' ');

    char out[256];
    int length = -1;
    c_reln("P", out, &length, sizeof out);
    EXPECT_EQ(std::string(out), "R7-beta-V2 Build 123 on May 5" + copyright);
    EXPECT_EQ(length, static_cast<int>(std::strlen(out)));

    // A product without a version loses the "-version" part.
    c_reln("Q", out, &length, sizeof out);
    EXPECT_EQ(std::string(out), "R7-beta Build 123 on May 5" + copyright);
    EXPECT_STREQ(Tq_GetRelver("Q"), " ");
    EXPECT_STREQ(Tq_GetRelver(nullptr), " ");

    std::memset(out, 'X', sizeof out);
    c_reln("P", out, &length, 10);
    EXPECT_EQ(length, 9);
    EXPECT_STREQ(out, "R7-beta-V");
    EXPECT_EQ(out[10], 'X');

    c_reln("P", out, &length, 1);
    EXPECT_EQ(length, 0);
    EXPECT_STREQ(out, "");
    out[0] = 'X';
    c_reln("P", out, &length, 0);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(out[0], 'X');

    // Trimmed product, maximum length read through its address.
    int max = 256;
    RELN("P   xyz", out, &length, &max, 4);
    EXPECT_EQ(std::string(out), "R7-beta-V2 Build 123 on May 5" + copyright);
}

TEST_F(ReleaseTest, LongValuesAreCutAt127Characters)
{
    Write("[VERSIONS]\nP = " + std::string(200, 'v') + "\n");
    char out[256];
    int length = 0;
    c_reln("P", out, &length, sizeof out);
    EXPECT_EQ(length, 127);
    EXPECT_EQ(std::string(out), "-" + std::string(126, 'v'));
}

TEST_F(ReleaseTest, AppStringWinsOverVersions)
{
    Write("[VERSIONS]\nP = V2\n[P]\nVERSION = own\n");
    EXPECT_STREQ(Tq_GetRelver("P"), "own");
    EXPECT_STREQ(Tq_GetRelInf("RELEASE"), "");
    EXPECT_STREQ(Tq_GetRelInf(nullptr), "");
}

TEST_F(ReleaseTest, LegalNoticeShape)
{
    int mf = 0;
    c_mf_copyr(&mf);
    ASSERT_NE(mf, 0);
    Strings lines = Lines(mf);
    ASSERT_EQ(lines.size(), 40u);
    std::vector<int> blocks{0};
    for (const auto &line : lines) {
        EXPECT_LE(line.size(), 76u) << line;
        if (line.empty()) {
            blocks.push_back(0);
        } else {
            blocks.back()++;
        }
    }
    EXPECT_EQ(blocks, (std::vector<int>{2, 8, 2, 3, 1, 4, 3, 3, 6}));

    // An existing memory file gets the notice appended.
    c_mf_copyr(&mf);
    EXPECT_EQ(Lines(mf).size(), 80u);
    c_mfdel(&mf);

    // A handle that names no memory file is reported and reset.
    int stale = mf + 9999;
    c_mf_copyr(&stale);
    EXPECT_EQ(stale, 0);
    EXPECT_EQ(c_erlast(nullptr), 2003);
}

TEST_F(ReleaseTest, ProductNotices)
{
    char out[256];
    int length = 0;
    c_reln("P", out, &length, 128);
    const std::string release(out);

    int mf = c_mcopyr("P", "Label", "my info");
    ASSERT_NE(mf, 0);
    Strings lines = Lines(mf);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "Label " + release);
    EXPECT_EQ(lines[3].back(), ' ');
    EXPECT_EQ(lines[4], "my info");
    EXPECT_EQ(lines[5], "");
    c_mfdel(&mf);

    for (const char *info : {static_cast<const char *>(nullptr), ""}) {
        mf = c_mcopyr("P", "Label", info);
        lines = Lines(mf);
        ASSERT_EQ(lines.size(), 43u);
        EXPECT_EQ(lines[40], "");
        EXPECT_EQ(lines[41], "Label " + release);
        EXPECT_EQ(lines[42], "");
        c_mfdel(&mf);
    }

    // Trimmed copies: "P   " of length 4 is P; an all-blank info is none.
    mf = MCOPYR("P   ", "Lab  el", "     ", 4, 5, 5);
    lines = Lines(mf);
    ASSERT_EQ(lines.size(), 43u);
    EXPECT_EQ(lines[41], "Lab " + release);
    c_mfdel(&mf);
}

TEST_F(ReleaseTest, NoticesToTheCurrentOutput)
{
    int target = 0;
    int unit = c_oomfil(&target, 0);
    ASSERT_EQ(c_oopush(unit), unit);
    c_op_mcopyr("P", "L", "info text");
    COPYR();
    OP_MCOPYR("P  ", "L", "x", 3, 1, 0);
    c_oopop();
    c_ooclos(unit);
    Strings lines = Lines(target);
    ASSERT_EQ(lines.size(), 6u + 40u + 43u);
    EXPECT_EQ(lines[4], "info text");
    EXPECT_EQ(lines[6], Lines([] {
                  int mf = 0;
                  c_mf_copyr(&mf);
                  return mf;
              }())[0]);
    EXPECT_EQ(lines[46 + 41].substr(0, 2), "L ");
    c_mfdel(&target);
}

} // namespace
