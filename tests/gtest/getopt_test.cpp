// Option scanner and command-line splitter.  The scanner's state is process-wide and its
// index never set back, so every scan pads its vector up to the current index and asks
// for a reset: the scan then starts exactly at the first real argument.

#include <gtest/gtest.h>
#include <fstream>

#include "orx_getopt.h"
#include "tests/support/child_run.h"

namespace {

// The shell's options: -q -n -s -u flags, -c command and -f file with arguments.
const char *kShellOptions = "qnsuc:f:";
using Args = std::vector<std::string>;
class Scan {
public:
    explicit Scan(const Args &args)
    {
        orxgetopt_set_optreset(1);
        orxgetopt_set_opterr(1);
        base_ = orxgetopt_get_optind();
        storage_.push_back("orxsh");
        storage_.resize(size_t(base_), "<scanned before>");
        storage_.insert(storage_.end(), args.begin(), args.end());
        for (auto &s : storage_) {
            argv_.push_back(&s[0]);
        }
        argv_.push_back(nullptr);
    }
    int Next(const char *options = kShellOptions)
    {
        return orxgetopt(int(storage_.size()), argv_.data(), const_cast<char *>(options));
    }
    // Position of the next argument to scan, 0 being the first real one.
    int Index() const { return orxgetopt_get_optind() - base_; }
    // Every result up to -1, as letters, with arguments in brackets.
    std::string All(const char *options = kShellOptions)
    {
        std::string out;
        for (int c, i = 0; i < 20 && (c = Next(options)) != -1; i++) {
            const char *arg = c != '?' && c != ':' ? orxgetopt_get_optarg() : nullptr;
            out += char(c) + (arg != nullptr ? "[" + std::string(arg) + "]" : "") + " ";
        }
        return out + "end";
    }

private:
    std::vector<std::string> storage_;
    std::vector<char *> argv_;
    int base_;
};

TEST(Getopt, ScansTheShellOptions)
{
    // Arguments; results, stderr, index of the first operand; option string, opterr.
    const struct {
        Args args;
        const char *results, *err;
        int index;
        const char *options = kShellOptions;
        int opterr = 1;
    } cases[] = {
        {{"-qn", "-s", "script.tcl", "-q"}, "q n s end", "", 2},
        {{"-qcputs hi", "rest"}, "q c[puts hi] end", "", 1},
        // The argument of -c is not left behind for the flag after it.
        {{"-c", "puts hi", "-q"}, "c[puts hi] q end", "", 3},
        {{"-uf", "file.tcl", "a"}, "u f[file.tcl] end", "", 2},
        {{"-q", "-", "-n"}, "q end", "", 1}, // "-" is an operand
        {{"-s", "--", "-q"}, "s end", "", 2},
        {{"--verbose", "x"}, "end", "", 1},
        {{"-c"}, "? end", "", 1, kShellOptions, 0},
        {{"-f"}, ": end", "", 1, ":qnsuc:f:"},
        // An unknown letter does not skip the rest of its cluster.
        {{"-qxn", "-z", "op"}, "q ? n ? end", "illegal option -- x\nillegal option -- z\n", 2},
        // ':' is never an option letter, even when listed.
        {{"-x:"}, "? ? end", "", 1, ":qn"},
    };
    for (const auto &c : cases) {
        Scan scan(c.args);
        orxgetopt_set_opterr(c.opterr);
        testing::internal::CaptureStderr();
        std::string results = scan.All(c.options);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.results;
        EXPECT_EQ(results, c.results);
        EXPECT_EQ(scan.Index(), c.index) << c.results;
    }
    orxgetopt_set_opterr(1);
}

TEST(Getopt, MissingArgumentLoneDashAndReset)
{
    Scan missing({"-fx", "-f"});
    EXPECT_EQ(missing.All(":f:"), "f[x] : end");
    EXPECT_EQ(orxgetopt_get_optopt(), 'f');
    EXPECT_EQ(orxgetopt_get_optarg(), nullptr); // no pointer into a finished vector
    // A lone "-" stops every further call where it stands.
    Scan dash({"-", "-q"});
    EXPECT_EQ(dash.Next(), -1);
    EXPECT_EQ(dash.Next(), -1);
    EXPECT_EQ(dash.Index(), 0);
    // With the reset the argument at the index (still "-qn") is read afresh, not its "n" alone.
    Scan first({"-qn", "-s"});
    EXPECT_EQ(first.Next(), 'q');
    orxgetopt_set_optreset(1);
    EXPECT_EQ(first.All(), "q n s end");
}

Args Split(const char *line)
{
    int argc = -1;
    char **argv = nullptr;
    OrxX_SplitCmdLineText(line, &argc, &argv);
    Args out(argv, argv + argc);
    EXPECT_EQ(argv[argc], nullptr);
    Tcl_Free(reinterpret_cast<char *>(argv));
    return out;
}

TEST(SplitCmdLine, QuotingRules)
{
    const struct {
        const char *line;
        Args args;
    } cases[] = {
        {"prog \"a b\" c\\\"d \"e\"\"f\"", {"prog", "a b", "c\"d", "e\"f"}},
        {"a\\\\\"b c\"", {"a\\b c"}},            // 2 backslashes: one, quote opens
        {"\"x\\\\\" y", {"x\\", "y"}},           // ... or closes
        {"a\\\\\\\"b", {"a\\\"b"}},              // 3: one and a literal quote
        {"a\\\\b\\c d\\", {"a\\\\b\\c", "d\\"}}, // not before a quote: as they are
        {"a\"\"b", {"ab"}},                      // doubled quote outside quotes
        {"\"\" x \"\"", {"", "x", ""}},
        {"\"open to the end", {"open to the end"}},
        {"a\"b c\"d e", {"ab cd", "e"}},
        {"", {}},
        {" \t  ", {}},
        {"\t a \t b  ", {"a", "b"}},
        {"new\nline", {"new\nline"}}, // only blanks and tabs separate
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Split(c.line), c.args) << c.line;
    }
    std::string many;
    for (int i = 0; i < 200; i++) {
        many += "\"\" ";
    }
    EXPECT_EQ(Split(many.c_str()), Args(200, ""));
}

constexpr int kChildRan = 42;
// Child side of the round trip below (disabled, so only the re-executed child runs it):
// split this process's own command line and compare with the kernel's vector.
TEST(SplitCmdLine, DISABLED_ChildSplitsItsOwnLine)
{
    Args expected;
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    for (std::string arg; std::getline(in, arg, '\0');) {
        expected.push_back(arg);
    }
    int argc;
    char **argv;
    OrxX_SplitWinCmdLine(&argc, &argv);
    Args got(argv, argv + argc);
    Tcl_Free(reinterpret_cast<char *>(argv));
    EXPECT_EQ(got, expected);
    // A distinct status tells the parent that this test really ran.
    std::exit(::testing::Test::HasFailure() ? 1 : kChildRan);
}

TEST(SplitCmdLine, ProcessLineRoundTrip)
{
    std::vector<const char *> argv = {"/proc/self/exe",
                                      "--gtest_filter=SplitCmdLine.DISABLED_ChildSplitsItsOwnLine",
                                      "--gtest_also_run_disabled_tests",
                                      "--gtest_brief=1",
                                      "a b",
                                      "",
                                      "q\"uote",
                                      "trail\\",
                                      "mid\\dle",
                                      "sp ace\\",
                                      "\\\\\"",
                                      "tab\there",
                                      "new\nline",
                                      "\"\"",
                                      "\\\" x \\",
                                      "plain",
                                      nullptr};
    orxtest::ChildRun run = orxtest::RunChild(
        [&argv](Tcl_Interp *) { execv(argv[0], const_cast<char **>(argv.data())); });
    EXPECT_EQ(run.status, kChildRan) << run.out;
}
} // namespace
