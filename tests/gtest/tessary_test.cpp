// The tessary stand-in: configuration parsing and the process store, memory files with output units
// as the release code drives them, access checks and string copies.

#include <gtest/gtest.h>
#include <cstring>

#include "tq_cc.h"
#include "tests/support/tessary_fixture.h"

namespace {

using orxtest::EnvGuard;
using orxtest::ReadMemFile;
using orxtest::TempDir;
using Strings = std::vector<std::string>;
struct Config {
    explicit Config(const std::string &text, const char *name = "test.cfg")
    {
        // An exactly sized heap copy: reading past its end is a sanitizer error.
        std::vector<char> copy(text.begin(), text.end());
        config = Tessary_ConfigParse(copy.data(), copy.size(), name);
    }
    ~Config() { Tessary_ConfigFree(config); }
    Strings Errors() const
    {
        Strings out;
        for (int i = 0; i < Tessary_ConfigErrorCount(config); ++i) {
            out.push_back(Tessary_ConfigError(config, i));
        }
        return out;
    }
    Strings Values(const char *section, const char *key) const
    {
        Strings out;
        for (int i = 1; i <= Tessary_ConfigCount(config, section, key); ++i) {
            out.push_back(Tessary_ConfigString(config, section, key, i));
        }
        return out;
    }
    TessaryConfig *config;
};

// Writes finished lines into *memFile through a unit of its own.
void WriteLines(int *memFile, const Strings &lines)
{
    int unit = c_oomfil(memFile, 0);
    c_oopush(unit);
    for (const auto &line : lines) {
        c_oocs(line.c_str());
        c_oowrit();
    }
    c_oopop();
    c_ooclos(unit);
}

TEST(TessaryConfig, SectionsKeysAndValues)
{
    Config c("\xEF\xBB\xBF# comment\n; another comment\n\n[VERSIONS]\nORX = 7.2\n  SIMX=4.1   \n"
             "[PATHS]\r\nLIB = a\r\nLIB = b # not a comment\nLIB =\n"
             "QUOTED = \"  x \\\"y\\\" \\\\ \"\n[VERSIONS]\nNETVIEW = 2.0");
    EXPECT_EQ(c.Errors(), Strings{});
    EXPECT_EQ(c.Values("VERSIONS", "SIMX"), Strings{"4.1"});
    EXPECT_EQ(c.Values("PATHS", "LIB"), (Strings{"a", "b # not a comment", ""}));
    EXPECT_EQ(c.Values("PATHS", "QUOTED"), Strings{"  x \"y\" \\ "});
    // A repeated section continues the first; the last line needs no newline.
    EXPECT_EQ(c.Values("VERSIONS", nullptr), (Strings{"ORX", "SIMX", "NETVIEW"}));
    EXPECT_EQ(c.Values(nullptr, nullptr), (Strings{"VERSIONS", "PATHS"}));
    EXPECT_EQ(c.Values("VERSIONS", "orx"), Strings{});
    EXPECT_TRUE(!Tessary_ConfigString(c.config, "PATHS", "LIB", 0) &&
                !Tessary_ConfigString(c.config, "PATHS", "LIB", 4));
    EXPECT_EQ(Tessary_ConfigCount(Config("").config, nullptr, nullptr), 0);
}

// The fault: each section name was found by a walk from the first, so listing them all
// (tessarycfg with no arguments, or a key alone) took 14 s for 300,000.
TEST(TessaryConfig, ListingManySectionsIsLinear)
{
    const int sections = 100000;
    std::string text;
    for (int i = 0; i < sections; ++i) {
        text += "[S" + std::to_string(i) + "]\n" + (i % 2 ? "K = v\n" : "");
    }
    Config c(text);
    Strings all = c.Values(nullptr, nullptr), holders = c.Values(nullptr, "K");
    ASSERT_EQ(all.size(), size_t{sections});
    ASSERT_EQ(holders.size(), size_t{sections / 2});
    for (int i = 0; i < sections; ++i) {
        ASSERT_EQ(all[i], "S" + std::to_string(i));
        ASSERT_TRUE(i % 2 == 0 || holders[i / 2] == all[i]) << i;
    }
}

TEST(TessaryConfig, SectionsOfAKeyInFileOrder)
{
    // K is met in B first, then in the reopened A: A still comes first.
    Config c("[A]\nX = 1\n[B]\nK = 1\n[A]\nK = 2\n[C]\nK = 3\n");
    EXPECT_EQ(c.Values(nullptr, "K"), (Strings{"A", "B", "C"}));
    EXPECT_EQ(c.Values(nullptr, "X"), Strings{"A"});
    EXPECT_EQ(c.Values(nullptr, "Y"), Strings{});
    EXPECT_EQ(Tessary_ConfigString(c.config, nullptr, "K", 4), nullptr);
}

TEST(TessaryConfig, MalformedLinesAreReportedAndSkipped)
{
    // Ends in an open quote and a backslash, without a newline.
    Config c(std::string("KEY = outside\n[S]\nno equals sign\n = empty key\ntwo words = x\n"
                         "[unclosed\n[S] trailing\n[ ]\nQ = \"unterminated\nQ = \"bad\\q\"\n"
                         "Q = \"x\" y\nGOOD = yes\n") +
                 std::string("B = x\0y\n", 8) + "Q = \"open\\",
             "my.cfg");
    EXPECT_EQ(
        c.Errors(),
        (Strings{"my.cfg:1: key \"KEY\" outside any section",
                 "my.cfg:3: expected \"key = value\" or \"[section]\"", "my.cfg:4: empty key",
                 "my.cfg:5: bad character in key \"two words\"",
                 "my.cfg:6: missing \"]\" in section header", "my.cfg:7: text after section header",
                 "my.cfg:8: empty section name", "my.cfg:9: unterminated quoted value",
                 "my.cfg:10: unknown escape \"\\q\" in quoted value",
                 "my.cfg:11: text after quoted value",
                 "my.cfg:12: key \"GOOD\" dropped after the malformed section "
                 "header of line 8",
                 "my.cfg:13: zero byte in line", "my.cfg:14: unterminated quoted value"}));
    // GOOD follows the malformed headers: it used to land in the [S] before them.
    EXPECT_EQ(c.Values("S", nullptr), Strings{});
}

TEST(TessaryStore, FollowsTheConfiguredFile)
{
    EnvGuard g1("TESSARY_CONFIG"), g2("MORVA_HOME");
    TempDir dir;
    setenv("TESSARY_CONFIG",
           dir.Write("a.cfg", "[VERSIONS]\nORX = 1.0\nORX = 1.1\n[ORX]\nVERSION = 9\n").c_str(), 1);
    EXPECT_EQ(c_mcfgn("VERSIONS", "ORX"), 2);
    EXPECT_STREQ(mcf_getString("VERSIONS", "ORX", 1), "1.0");
    EXPECT_STREQ(mcf_getAppString("ORX", 1), "9");
    EXPECT_EQ(mcf_getAppString(nullptr, 1), nullptr);
    // A missing file is an empty store with a message, not a failure.
    setenv("TESSARY_CONFIG", (dir.path + "/missing.cfg").c_str(), 1);
    EXPECT_EQ(c_mcfgn("VERSIONS", "ORX"), 0);
    ASSERT_EQ(Tessary_ConfigErrorCount(Tessary_CurrentConfig()), 1);
    EXPECT_NE(std::strstr(Tessary_ConfigError(Tessary_CurrentConfig(), 0), "missing.cfg"), nullptr);
    // Otherwise the first MORVA_HOME directory that has a file; empty names skip.
    TempDir a, b, c;
    for (TempDir *d : {&b, &c}) {
        mkdir((d->path + "/config").c_str(), 0755);
        d->Write("config/tessary.cfg", "[VERSIONS]\nORX = " + d->path + "\n");
    }
    setenv("TESSARY_CONFIG", "", 1);
    setenv("MORVA_HOME", (a.path + "::" + b.path + ":" + c.path).c_str(), 1);
    EXPECT_STREQ(mcf_getString("VERSIONS", "ORX", 1), b.path.c_str());
    EXPECT_EQ(Tessary_ConfigFileName(Tessary_CurrentConfig()), b.path + "/config/tessary.cfg");
}

// The store kept every reading for the life of the process: switching between two
// files, or touching one, grew the shell without bound.
TEST(TessaryStore, OldReadingsAreFreedAndUnchangedOnesKept)
{
    EnvGuard guard("TESSARY_CONFIG");
    TempDir dir;
    const std::string big(64 * 1024, 'v');
    const std::string a = dir.Write("a.cfg", "[S]\nK = a" + big + "\n");
    const std::string b = dir.Write("b.cfg", "[S]\nK = b" + big + "\n");
    setenv("TESSARY_CONFIG", a.c_str(), 1);
    ASSERT_EQ(c_mcfgn("S", "K"), 1);
    const int before = Tessary_ConfigReadings();
    for (int i = 0; i < 80; ++i) {
        setenv("TESSARY_CONFIG", i % 2 ? a.c_str() : b.c_str(), 1);
        ASSERT_EQ(mcf_getString("S", "K", 1)[0], i % 2 ? 'a' : 'b');
    }
    // This thread holds the current reading and the one before it.
    EXPECT_LE(Tessary_ConfigReadings(), before + 1);
    // Rewriting the same text (a new modification time) keeps the reading.
    setenv("TESSARY_CONFIG", a.c_str(), 1);
    const TessaryConfig *kept = Tessary_CurrentConfig();
    const char *value = mcf_getString("S", "K", 1);
    for (int i = 0; i < 50; ++i) {
        struct timespec times[2] = {{0, UTIME_NOW}, {i + 1, 0}};
        utimensat(AT_FDCWD, a.c_str(), times, 0);
        ASSERT_EQ(Tessary_CurrentConfig(), kept);
    }
    EXPECT_EQ(mcf_getString("S", "K", 1), value);
}

TEST(TessaryStore, ReturnedTextOutlivesOneChangeAndOtherThreads)
{
    EnvGuard guard("TESSARY_CONFIG");
    TempDir dir;
    setenv("TESSARY_CONFIG", dir.Write("c.cfg", "[S]\nK = first\n").c_str(), 1);
    const char *first = mcf_getString("S", "K", 1);
    ASSERT_STREQ(first, "first");
    // Another thread's queries through many changes never end it (the sanitizer build would see
    // it).
    std::thread other([&dir] {
        for (int i = 0; i < 20; ++i) {
            dir.Write("c.cfg", "[S]\nK = other " + std::to_string(i) + "\n");
            EXPECT_EQ(mcf_getString("S", "K", 1), "other " + std::to_string(i));
        }
    });
    other.join();
    EXPECT_STREQ(first, "first");
    // Nor does one change seen by this thread.
    dir.Write("c.cfg", "[S]\nK = second\n");
    EXPECT_STREQ(mcf_getString("S", "K", 1), "second");
    EXPECT_STREQ(first, "first");
}

TEST(TessaryStore, AFifoIsReportedNotWaitedFor)
{
    EnvGuard guard("TESSARY_CONFIG");
    TempDir dir;
    const std::string fifo = dir.path + "/fifo.cfg";
    setenv("TESSARY_CONFIG", fifo.c_str(), 1);
    orxtest::FifoWatch watch({fifo});
    ASSERT_TRUE(watch.Made());
    EXPECT_EQ(c_mcfgn("S", "K"), 0);
    ASSERT_TRUE(watch.Finish()) << "the store waited on a FIFO";
    const TessaryConfig *config = Tessary_CurrentConfig();
    ASSERT_EQ(Tessary_ConfigErrorCount(config), 1);
    EXPECT_EQ(std::string(Tessary_ConfigError(config, 0)), fifo + ": not a regular file, not read");
}

TEST(TessaryMemFile, UnitsWriteLinesIntoMemoryFiles)
{
    int mf = 0, unit = c_oomfil(&mf, 0);
    ASSERT_NE(unit, 0);
    ASSERT_EQ(c_oopush(unit), unit);
    c_oocs("alpha");
    c_ooca(" beta gamma", 5);
    c_oowrit();
    c_oonewl(1); // nothing pending: an empty line
    c_oocs("x");
    c_oonewl(2); // ends "x", then one empty line
    c_oocs("left pending");
    EXPECT_EQ(c_oopop(), 0);
    EXPECT_EQ(c_ooclos(unit), 0); // the unfinished line is not lost
    EXPECT_EQ(ReadMemFile(mf), (Strings{"alpha beta", "", "x", "", "left pending"}));
    // Attaching again empties the file, unless append mode is asked for.
    c_ooseto("open_append", 1);
    WriteLines(&mf, {"appended"});
    EXPECT_EQ(ReadMemFile(mf).size(), 6u);
    WriteLines(&mf, {"fresh"});
    EXPECT_EQ(ReadMemFile(mf), Strings{"fresh"});
    // Closing a pushed unit, then deleting the file of the current one.
    int other = 0, outer = c_oomfil(&mf, 0), inner = c_oomfil(&other, 0);
    ASSERT_EQ(c_oopush(outer), outer);
    ASSERT_EQ(c_oopush(inner), inner);
    c_ooclos(inner); // no longer current: output falls back to the outer unit
    c_oocs("to outer");
    c_oowrit();
    EXPECT_EQ(ReadMemFile(mf), Strings{"to outer"});
    c_mfdel(&other);
    EXPECT_EQ(c_mfdel(&mf), 0);
    // The current unit lost its file: writes fail instead of going anywhere.
    EXPECT_EQ(c_oocs("lost"), -1);
    EXPECT_EQ(c_oowrit(), -1);
    c_oopop();
    c_ooclos(outer);
    EXPECT_EQ(c_oopop(), -1);
    EXPECT_EQ(mf, 0);
}

TEST(TessaryMemFile, LongLinesAndBadHandles)
{
    int mf = 0;
    WriteLines(&mf, {std::string(300, 'a'), "short"});
    char buffer[400];
    ASSERT_EQ(c_mfopen(&mf, 'r', 0), 0);
    EXPECT_EQ(c_mfrlen(mf), 300);
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(c_mfread(mf, buffer, -256), 256); // cut, terminated within n + 1 bytes
    EXPECT_EQ(std::string(buffer, 258), std::string(256, 'a') + std::string("\0X", 2));
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(c_mfread(mf, buffer, 8), 5); // padded with blanks, unterminated
    EXPECT_EQ(std::string(buffer, 9), "short   X");
    // At the end; a zero size; an unknown open mode.
    EXPECT_EQ((std::vector<int>{c_mfread(mf, buffer, -256), c_mfrlen(mf), c_mfread(mf, buffer, 0),
                                c_mfopen(&mf, 'q', 0)}),
              (std::vector<int>{-1, -1, -2, -1}));
    // A deleted file can be neither read, deleted nor attached to; no unit
    // 424242, stdout cannot be closed, no option "open_sesame".
    int stale = mf;
    c_mfdel(&mf);
    EXPECT_EQ(
        (std::vector<int>{c_mfread(stale, buffer, -256), c_mfdel(&stale), c_oomfil(&stale, 0),
                          c_oopush(424242), c_ooclos(TQ_UNIT_STDOUT), c_ooseto("open_sesame", 1)}),
        (std::vector<int>{-2, -1, 0, 0, -1, -1}));
    const char *text = nullptr;
    c_erc(17, nullptr);
    EXPECT_EQ(c_erlast(&text), 17);
    EXPECT_STREQ(text, "");
}

TEST(TessaryAccess, ModesAndNullSafeCopies)
{
    TempDir dir;
    const std::string file = dir.Write("f.txt", "x"), none = dir.path + "/none";
    const struct {
        const char *path, *mode;
        bool ok;
    } cases[] = {
        {file.c_str(), "w", true},      {file.c_str(), "rwf", true},    {file.c_str(), "wd", false},
        {dir.path.c_str(), "wd", true}, {dir.path.c_str(), "f", false}, {none.c_str(), "e", false},
        {file.c_str(), "", false},      {file.c_str(), "z", false},     {nullptr, "r", false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c_faccess(c.path, c.mode) == 0, c.ok) << (c.path ? c.path : "") << c.mode;
    }
    chmod(file.c_str(), 0444);
    if (geteuid() != 0) { // root may write anything
        EXPECT_NE(c_faccess(file.c_str(), "w"), 0);
    }
    const char unterminated[3] = {'a', 'b', 'c'}; // read no further than asked
    char *copy = tq_strndup(unterminated, 3);
    EXPECT_STREQ(copy, "abc");
    free(copy);
    EXPECT_TRUE(tq_strdup(nullptr) == nullptr && tq_strndup(nullptr, 4) == nullptr);
}
} // namespace
