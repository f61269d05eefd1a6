// The tessary stand-in: configuration parsing and the process store, memory
// files with output units as the release code drives them, access checks and
// string copies.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "orx_tessary.h"

namespace {

struct Config {
    explicit Config(const std::string &text, const char *name = "test.cfg")
    {
        // An exactly sized heap copy: reading past its end is a sanitizer error.
        std::vector<char> copy(text.begin(), text.end());
        config = Tessary_ConfigParse(copy.data(), copy.size(), name);
    }
    ~Config() { Tessary_ConfigFree(config); }
    std::vector<std::string> Errors() const
    {
        std::vector<std::string> out;
        for (int i = 0; i < Tessary_ConfigErrorCount(config); ++i) {
            out.push_back(Tessary_ConfigError(config, i));
        }
        return out;
    }
    std::vector<std::string> Values(const char *section, const char *key) const
    {
        std::vector<std::string> out;
        int n = Tessary_ConfigCount(config, section, key);
        for (int i = 1; i <= n; ++i) {
            out.push_back(Tessary_ConfigString(config, section, key, i));
        }
        return out;
    }
    TessaryConfig *config;
};

using Strings = std::vector<std::string>;

class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/tessary_test.XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string Write(const std::string &name, const std::string &text) const
    {
        std::string file = path + "/" + name;
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }
    std::string path;
};

// Restores an environment variable when the test ends.
class EnvGuard {
public:
    explicit EnvGuard(const char *name) : name_(name)
    {
        const char *v = std::getenv(name);
        had_ = v != nullptr;
        if (had_) {
            old_ = v;
        }
    }
    ~EnvGuard()
    {
        if (had_) {
            setenv(name_, old_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char *name_;
    bool had_;
    std::string old_;
};

std::vector<std::string> ReadBack(int memFile)
{
    std::vector<std::string> lines;
    char buffer[300];
    c_mfopen(&memFile, 'r', 0);
    for (int n; (n = c_mfread(memFile, buffer, -256)) >= 0;) {
        lines.emplace_back(buffer, n);
    }
    return lines;
}

TEST(TessaryConfig, SectionsKeysAndValues)
{
    Config c("# comment\n"
             "; another comment\n"
             "\n"
             "[VERSIONS]\n"
             "ORX = 7.2\n"
             "  SIMX=4.1   \n"
             "[PATHS]\r\n"
             "LIB = a\r\n"
             "LIB = b # not a comment\n"
             "LIB =\n"
             "QUOTED = \"  x \\\"y\\\" \\\\ \"\n"
             "[VERSIONS]\n"
             "NETVIEW = 2.0");
    EXPECT_EQ(c.Errors(), Strings{});
    EXPECT_EQ(c.Values("VERSIONS", "ORX"), Strings{"7.2"});
    EXPECT_EQ(c.Values("VERSIONS", "SIMX"), Strings{"4.1"});
    EXPECT_EQ(c.Values("PATHS", "LIB"), (Strings{"a", "b # not a comment", ""}));
    EXPECT_EQ(c.Values("PATHS", "QUOTED"), Strings{"  x \"y\" \\ "});
    // A repeated section continues the first; the last line needs no newline.
    EXPECT_EQ(c.Values("VERSIONS", nullptr), (Strings{"ORX", "SIMX", "NETVIEW"}));
    EXPECT_EQ(c.Values(nullptr, nullptr), (Strings{"VERSIONS", "PATHS"}));
    EXPECT_EQ(c.Values(nullptr, "LIB"), Strings{"PATHS"});
    EXPECT_EQ(c.Values("VERSIONS", "orx"), Strings{});
    EXPECT_EQ(c.Values("NOPE", "ORX"), Strings{});
    EXPECT_EQ(Tessary_ConfigString(c.config, "PATHS", "LIB", 0), nullptr);
    EXPECT_EQ(Tessary_ConfigString(c.config, "PATHS", "LIB", 4), nullptr);
}

TEST(TessaryConfig, MalformedLinesAreReportedAndSkipped)
{
    Config c("KEY = outside\n"
             "[S]\n"
             "no equals sign\n"
             " = empty key\n"
             "two words = x\n"
             "[unclosed\n"
             "[S] trailing\n"
             "[ ]\n"
             "Q = \"unterminated\n"
             "Q = \"bad\\q\"\n"
             "Q = \"x\" y\n"
             "GOOD = yes\n",
             "my.cfg");
    EXPECT_EQ(c.Errors(), (Strings{
                              "my.cfg:1: key \"KEY\" outside any section",
                              "my.cfg:3: expected \"key = value\" or \"[section]\"",
                              "my.cfg:4: empty key",
                              "my.cfg:5: bad character in key \"two words\"",
                              "my.cfg:6: missing \"]\" in section header",
                              "my.cfg:7: text after section header",
                              "my.cfg:8: empty section name",
                              "my.cfg:9: unterminated quoted value",
                              "my.cfg:10: unknown escape \"\\q\" in quoted value",
                              "my.cfg:11: text after quoted value",
                          }));
    EXPECT_EQ(c.Values("S", "GOOD"), Strings{"yes"});
    EXPECT_EQ(c.Values("S", "Q"), Strings{});
}

TEST(TessaryConfig, ZeroBytesAndUnterminatedEnds)
{
    std::string text("[S]\nA = 1\nB = x\0y\nC = \"open\\", 28);
    Config c(text);
    EXPECT_EQ(c.Errors(), (Strings{"test.cfg:3: zero byte in line",
                                   "test.cfg:4: unterminated quoted value"}));
    EXPECT_EQ(c.Values("S", "A"), Strings{"1"});
    Config empty("");
    EXPECT_EQ(Tessary_ConfigCount(empty.config, nullptr, nullptr), 0);
    Config bom("\xEF\xBB\xBF[S]\nA=1\n");
    EXPECT_EQ(bom.Values("S", "A"), Strings{"1"});
}

TEST(TessaryStore, FollowsTheConfiguredFile)
{
    EnvGuard g1("TESSARY_CONFIG"), g2("MORVA_HOME");
    TempDir dir;
    std::string file = dir.Write("a.cfg", "[VERSIONS]\nORX = 1.0\nORX = 1.1\n[ORX]\nVERSION = 9\n");
    setenv("TESSARY_CONFIG", file.c_str(), 1);
    EXPECT_EQ(c_mcfgn("VERSIONS", "ORX"), 2);
    const char *first = mcf_getString("VERSIONS", "ORX", 1);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "1.0");
    EXPECT_STREQ(mcf_getAppString("ORX", 1), "9");
    EXPECT_EQ(mcf_getAppString("SIMX", 1), nullptr);
    EXPECT_EQ(mcf_getAppString(nullptr, 1), nullptr);

    // A changed file is read again; text handed out before stays readable.
    dir.Write("a.cfg", "[VERSIONS]\nORX = 2.0 changed\n");
    EXPECT_EQ(c_mcfgn("VERSIONS", "ORX"), 1);
    EXPECT_STREQ(mcf_getString("VERSIONS", "ORX", 1), "2.0 changed");
    EXPECT_STREQ(first, "1.0");

    // A missing file is an empty store with a message, not a failure.
    setenv("TESSARY_CONFIG", (dir.path + "/missing.cfg").c_str(), 1);
    EXPECT_EQ(c_mcfgn("VERSIONS", "ORX"), 0);
    EXPECT_EQ(mcf_getString("VERSIONS", "ORX", 1), nullptr);
    const TessaryConfig *current = Tessary_CurrentConfig();
    ASSERT_EQ(Tessary_ConfigErrorCount(current), 1);
    EXPECT_NE(std::strstr(Tessary_ConfigError(current, 0), "missing.cfg"), nullptr);
}

TEST(TessaryStore, FirstMorvaHomeDirectoryWithAFile)
{
    EnvGuard g1("TESSARY_CONFIG"), g2("MORVA_HOME");
    TempDir a, b, c;
    mkdir((b.path + "/config").c_str(), 0755);
    mkdir((c.path + "/config").c_str(), 0755);
    b.Write("config/tessary.cfg", "[VERSIONS]\nORX = from-b\n");
    c.Write("config/tessary.cfg", "[VERSIONS]\nORX = from-c\n");
    unsetenv("TESSARY_CONFIG");
    setenv("MORVA_HOME", (a.path + "::" + b.path + ":" + c.path).c_str(), 1);
    EXPECT_STREQ(mcf_getString("VERSIONS", "ORX", 1), "from-b");
    EXPECT_EQ(std::string(Tessary_ConfigFileName(Tessary_CurrentConfig())),
              b.path + "/config/tessary.cfg");
    setenv("TESSARY_CONFIG", "", 1);
    EXPECT_STREQ(mcf_getString("VERSIONS", "ORX", 1), "from-b");
}

TEST(TessaryMemFile, UnitsWriteLinesIntoMemoryFiles)
{
    int mf = 0;
    int unit = c_oomfil(&mf, 0);
    ASSERT_NE(unit, 0);
    ASSERT_NE(mf, 0);
    ASSERT_EQ(c_oopush(unit), unit);
    c_oocs("alpha");
    c_ooca(" beta gamma", 5);
    c_oowrit();
    c_oonewl(1);  // nothing pending: an empty line
    c_oocs("x");
    c_oonewl(2);  // ends "x", then one empty line
    c_oowrit();   // an empty line
    c_oocs("left pending");
    EXPECT_EQ(c_oopop(), 0);
    EXPECT_EQ(c_ooclos(unit), 0);  // the pending line is not lost
    EXPECT_EQ(ReadBack(mf), (Strings{"alpha beta", "", "x", "", "", "left pending"}));

    // Attaching again empties the file, unless append mode is asked for.
    c_ooseto("open_append", 1);
    unit = c_oomfil(&mf, 0);
    c_oopush(unit);
    c_oocs("appended");
    c_oowrit();
    c_oopop();
    c_ooclos(unit);
    EXPECT_EQ(ReadBack(mf).size(), 7u);
    unit = c_oomfil(&mf, 0);
    c_oopush(unit);
    c_oocs("fresh");
    c_oowrit();
    c_oopop();
    c_ooclos(unit);
    EXPECT_EQ(ReadBack(mf), Strings{"fresh"});

    EXPECT_EQ(c_mfclos(&mf), 0);
    EXPECT_EQ(c_mfdel(&mf), 0);
    EXPECT_EQ(mf, 0);
}

TEST(TessaryMemFile, ReadingSizesAndBadHandles)
{
    int mf = 0;
    int unit = c_oomfil(&mf, 0);
    c_oopush(unit);
    c_oocs(std::string(300, 'a').c_str());
    c_oowrit();
    c_oocs("short");
    c_oowrit();
    c_oopop();
    c_ooclos(unit);

    char buffer[400];
    ASSERT_EQ(c_mfopen(&mf, 'r', 0), 0);
    EXPECT_EQ(c_mfrlen(mf), 300);
    buffer[256] = 'X';
    buffer[257] = 'X';
    EXPECT_EQ(c_mfread(mf, buffer, -256), 256);  // cut, terminated within n + 1 bytes
    EXPECT_EQ(buffer[256], '\0');
    EXPECT_EQ(buffer[257], 'X');
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(c_mfread(mf, buffer, 8), 5);  // padded with blanks, unterminated
    EXPECT_EQ(std::string(buffer, 9), "short   X");
    EXPECT_EQ(c_mfread(mf, buffer, -256), -1);
    EXPECT_EQ(c_mfrlen(mf), -1);
    EXPECT_EQ(c_mfread(mf, buffer, 0), -2);
    EXPECT_EQ(c_mfopen(&mf, 'q', 0), -1);

    int stale = mf;
    c_mfdel(&mf);
    EXPECT_EQ(c_mfread(stale, buffer, -256), -2);
    EXPECT_EQ(c_mfopen(&stale, 'r', 0), -1);
    EXPECT_EQ(c_mfdel(&stale), -1);
    EXPECT_EQ(c_oomfil(&stale, 0), 0);  // attaching to a deleted file fails
    EXPECT_EQ(c_oopush(424242), 0);
    EXPECT_EQ(c_ooclos(TQ_UNIT_STDOUT), -1);
    EXPECT_EQ(c_ooseto("open_sesame", 1), -1);
}

TEST(TessaryMemFile, ClosingAPushedUnitOrDeletingItsFile)
{
    int mf = 0;
    int outer = c_oomfil(&mf, 0);
    ASSERT_EQ(c_oopush(outer), outer);
    int other = 0;
    int inner = c_oomfil(&other, 0);
    ASSERT_EQ(c_oopush(inner), inner);
    c_ooclos(inner);  // no longer current: output falls back to the outer unit
    c_oocs("to outer");
    c_oowrit();
    c_mfdel(&other);
    c_mfdel(&mf);
    // The current unit lost its file: writes fail instead of going anywhere.
    EXPECT_EQ(c_oocs("lost"), -1);
    EXPECT_EQ(c_oowrit(), -1);
    c_oopop();
    c_ooclos(outer);
    EXPECT_EQ(c_oopop(), -1);
}

TEST(TessaryErrors, ReportKeepsTheLastCode)
{
    c_erc(2003, "- Memory File");
    const char *text = nullptr;
    EXPECT_EQ(c_erlast(&text), 2003);
    EXPECT_STREQ(text, "- Memory File");
    c_erc(17, nullptr);
    EXPECT_EQ(c_erlast(&text), 17);
    EXPECT_STREQ(text, "");
}

TEST(TessaryAccess, ModesAreChecked)
{
    TempDir dir;
    std::string file = dir.Write("f.txt", "x");
    EXPECT_EQ(c_faccess(file.c_str(), "w"), 0);
    EXPECT_EQ(c_faccess(file.c_str(), "rwf"), 0);
    EXPECT_NE(c_faccess(file.c_str(), "wd"), 0);
    EXPECT_EQ(c_faccess(dir.path.c_str(), "wd"), 0);
    EXPECT_NE(c_faccess(dir.path.c_str(), "f"), 0);
    EXPECT_NE(c_faccess((dir.path + "/none").c_str(), "e"), 0);
    EXPECT_NE(c_faccess(file.c_str(), ""), 0);
    EXPECT_NE(c_faccess(file.c_str(), "z"), 0);
    EXPECT_NE(c_faccess(nullptr, "r"), 0);
    chmod(file.c_str(), 0444);
    if (geteuid() != 0) {  // root may write anything
        EXPECT_NE(c_faccess(file.c_str(), "w"), 0);
    }
    EXPECT_EQ(c_faccess(file.c_str(), "r"), 0);
}

TEST(TessaryStrings, Copies)
{
    char *a = tq_strdup("hello");
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a, "hello");
    free(a);
    char *b = tq_strndup("hello", 3);
    EXPECT_STREQ(b, "hel");
    free(b);
    const char unterminated[3] = {'a', 'b', 'c'};
    char *c = tq_strndup(unterminated, 3);
    EXPECT_STREQ(c, "abc");
    free(c);
    EXPECT_EQ(tq_strdup(nullptr), nullptr);
    EXPECT_EQ(tq_strndup(nullptr, 4), nullptr);
}

} // namespace
