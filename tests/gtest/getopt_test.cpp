// Option scanner and command-line splitter.  The scanner's state is
// process-wide and its index is never set back, so every scan below pads its
// vector with the arguments "already scanned" up to the current index and
// asks for a reset: the scan then starts exactly at the first real argument.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <tcl.h>

#include "orx_getopt.h"

namespace {

// The shell's options: -q -n -s flags, -c command and -f file with arguments.
const char *kShellOptions = "qnsc:f:";

class Scan {
public:
    Scan(std::initializer_list<const char *> args)
    {
        orxgetopt_set_optreset(1);
        orxgetopt_set_opterr(1);
        base_ = orxgetopt_get_optind();
        storage_.push_back("orxsh");
        for (int i = 1; i < base_; i++) {
            storage_.push_back("<scanned before>");
        }
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
    std::string Arg() const
    {
        const char *arg = orxgetopt_get_optarg();
        return arg != nullptr ? arg : "<null>";
    }
    // Every result up to -1, as letters, with arguments in brackets.
    std::string All(const char *options = kShellOptions)
    {
        std::string out;
        for (int i = 0; i < 20; i++) {
            int c = Next(options);
            if (c == -1) {
                return out + "end";
            }
            out += char(c);
            if (orxgetopt_get_optarg() != nullptr && c != '?' && c != ':') {
                out += "[" + Arg() + "]";
            }
            out += " ";
        }
        return out + "runaway";
    }

private:
    std::vector<std::string> storage_;
    std::vector<char *> argv_;
    int base_;
};

std::string ScanWithStderr(Scan &scan, const char *options, std::string *err)
{
    testing::internal::CaptureStderr();
    std::string out = scan.All(options);
    *err = testing::internal::GetCapturedStderr();
    return out;
}

TEST(Getopt, ClustersAndSeparateFlags)
{
    Scan scan{"-qn", "-s", "script.tcl", "-q"};
    EXPECT_EQ(scan.All(), "q n s end");
    EXPECT_EQ(scan.Index(), 2);  // the first operand
}

TEST(Getopt, OptionArguments)
{
    Scan attached{"-qcputs hi", "rest"};
    EXPECT_EQ(attached.All(), "q c[puts hi] end");
    EXPECT_EQ(attached.Index(), 1);

    Scan separate{"-c", "puts hi", "-q"};
    EXPECT_EQ(separate.Next(), 'c');
    EXPECT_EQ(separate.Arg(), "puts hi");
    EXPECT_EQ(separate.Index(), 2);
    EXPECT_EQ(separate.Next(), 'q');
    EXPECT_EQ(separate.Arg(), "<null>");  // cleared for a flag
}

TEST(Getopt, MissingArgument)
{
    std::string err;
    Scan loud{"-q", "-c"};
    EXPECT_EQ(ScanWithStderr(loud, kShellOptions, &err), "q ? end");
    EXPECT_EQ(err, "option requires an argument -- c\n");
    EXPECT_EQ(orxgetopt_get_optopt(), 'c');
    EXPECT_EQ(orxgetopt_get_optarg(), nullptr);

    Scan silent{"-f"};
    EXPECT_EQ(ScanWithStderr(silent, ":qnsc:f:", &err), ": end");
    EXPECT_EQ(err, "");
    EXPECT_EQ(orxgetopt_get_optopt(), 'f');

    Scan quiet{"-c"};
    orxgetopt_set_opterr(0);
    EXPECT_EQ(ScanWithStderr(quiet, kShellOptions, &err), "? end");
    EXPECT_EQ(err, "");
    orxgetopt_set_opterr(1);
}

TEST(Getopt, UnknownLettersDoNotSkipTheCluster)
{
    std::string err;
    Scan scan{"-qxn", "-z", "op"};
    EXPECT_EQ(ScanWithStderr(scan, kShellOptions, &err), "q ? n ? end");
    EXPECT_EQ(err, "illegal option -- x\nillegal option -- z\n");
    EXPECT_EQ(scan.Index(), 2);

    Scan silent{"-x:"};
    EXPECT_EQ(ScanWithStderr(silent, ":qn", &err), "? ? end");
    EXPECT_EQ(err, "");  // ':' is never an option letter, even when listed
}

TEST(Getopt, EndOfOptions)
{
    Scan dash{"-q", "-", "-n"};
    EXPECT_EQ(dash.All(), "q end");
    EXPECT_EQ(dash.Index(), 1);  // the lone "-" is the first operand
    EXPECT_EQ(dash.Next(), -1);
    EXPECT_EQ(dash.Index(), 1);

    Scan doubleDash{"-s", "--", "-q"};
    EXPECT_EQ(doubleDash.All(), "s end");
    EXPECT_EQ(doubleDash.Index(), 2);  // "--" consumed

    Scan longer{"--verbose", "x"};
    EXPECT_EQ(longer.All(), "end");
    EXPECT_EQ(longer.Index(), 1);

    Scan operand{"file", "-q"};
    EXPECT_EQ(operand.All(), "end");
    EXPECT_EQ(operand.Index(), 0);

    Scan empty{};
    EXPECT_EQ(empty.All(), "end");
}

TEST(Getopt, ResetLeavesAClusterForANewArgument)
{
    Scan first{"-qn", "-s"};
    EXPECT_EQ(first.Next(), 'q');
    // Without the reset the scanner would go on with the "n" of "-qn"; with
    // it, the argument at the index (still "-qn") is read afresh.
    orxgetopt_set_optreset(1);
    EXPECT_EQ(first.Next(), 'q');
    EXPECT_EQ(first.Next(), 'n');
    EXPECT_EQ(first.Next(), 's');

    // A second scan in the process starts where the first one stopped.
    int before = orxgetopt_get_optind();
    Scan second{"-n"};
    EXPECT_GE(orxgetopt_get_optind(), before);
    EXPECT_EQ(second.All(), "n end");
}

std::vector<std::string> Split(const char *line)
{
    int argc = -1;
    char **argv = nullptr;
    OrxX_SplitCmdLineText(line, &argc, &argv);
    std::vector<std::string> out;
    for (int i = 0; i < argc; i++) {
        out.push_back(argv[i]);
    }
    EXPECT_EQ(argv[argc], nullptr);
    Tcl_Free(reinterpret_cast<char *>(argv));
    return out;
}

using Args = std::vector<std::string>;

TEST(SplitCmdLine, QuotingRules)
{
    EXPECT_EQ(Split("prog \"a b\" c\\\"d \"e\"\"f\""), (Args{"prog", "a b", "c\"d", "e\"f"}));
    EXPECT_EQ(Split("a\\\\\"b c\""), (Args{"a\\b c"}));   // 2 backslashes: one, quote opens
    EXPECT_EQ(Split("\"x\\\\\" y"), (Args{"x\\", "y"}));  // ... or closes
    EXPECT_EQ(Split("a\\\\\\\"b"), (Args{"a\\\"b"}));     // 3: one and a literal quote
    EXPECT_EQ(Split("a\\\\b\\c d\\"), (Args{"a\\\\b\\c", "d\\"}));  // copied as they are
    EXPECT_EQ(Split("a\"\"b"), (Args{"ab"}));             // doubled quote outside quotes
    EXPECT_EQ(Split("\"\" x \"\""), (Args{"", "x", ""}));
    EXPECT_EQ(Split("\"open to the end"), (Args{"open to the end"}));
    EXPECT_EQ(Split("a\"b c\"d e"), (Args{"ab cd", "e"}));
}

TEST(SplitCmdLine, BlanksSeparate)
{
    EXPECT_EQ(Split(""), Args{});
    EXPECT_EQ(Split(" \t  "), Args{});
    EXPECT_EQ(Split("\t a \t b  "), (Args{"a", "b"}));
    EXPECT_EQ(Split("one"), (Args{"one"}));
    EXPECT_EQ(Split("new\nline"), (Args{"new\nline"}));  // only blanks and tabs separate
    std::string many;
    for (int i = 0; i < 200; i++) {
        many += "\"\" ";
    }
    EXPECT_EQ(Split(many.c_str()).size(), 200u);
}

// Child side of the round trip below: split this process's own command line
// and compare with the vector the kernel holds.
TEST(SplitCmdLine, ChildSplitsItsOwnLine)
{
    if (getenv("ORX_CMDLINE_CHILD") == nullptr) {
        GTEST_SKIP() << "runs only as the child of ProcessLineRoundTrip";
    }
    Args expected;
    FILE *file = fopen("/proc/self/cmdline", "rb");
    ASSERT_NE(file, nullptr);
    std::string current;
    for (int c; (c = getc(file)) != EOF;) {
        if (c == '\0') {
            expected.push_back(current);
            current.clear();
        } else {
            current.push_back(char(c));
        }
    }
    fclose(file);
    int argc;
    char **argv;
    OrxX_SplitWinCmdLine(&argc, &argv);
    Args got(argv, argv + argc);
    Tcl_Free(reinterpret_cast<char *>(argv));
    EXPECT_EQ(got, expected);
}

TEST(SplitCmdLine, ProcessLineRoundTrip)
{
    const char *tricky[] = {"a b",       "",           "q\"uote",   "trail\\",  "mid\\dle",
                            "sp ace\\",  "\\\\\"",     "tab\there", "new\nline", "\"\"",
                            "\\\" x \\", "plain"};
    std::vector<char *> argv;
    std::string self = "/proc/self/exe";
    std::string filter = "--gtest_filter=SplitCmdLine.ChildSplitsItsOwnLine";
    argv.push_back(&self[0]);
    argv.push_back(&filter[0]);
    for (const char *t : tricky) {
        argv.push_back(const_cast<char *>(t));
    }
    argv.push_back(nullptr);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("ORX_CMDLINE_CHILD", "1", 1);
        int devnull = open("/dev/null", O_WRONLY);
        if (devnull >= 0) {
            dup2(devnull, 1);
        }
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
