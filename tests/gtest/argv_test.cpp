// Argument tables as other product libraries declare them, parsed from
// strings (Orx_ParseArgv) and from objects (Orx_ParseArgsObjv): matching,
// values of every type, left-over words, messages and the help summary.

#include <cstdint>
#include <cstring>

#include "orx_argv.h"
#include "tests/support/interp_fixture.h"

namespace {

struct Options {
    int width = 10, weight = 0;
    const char *name = nullptr;
    double scale = 1.5;
    int verbose = 0, rest = -1;
};

const Orx_ArgvInfo kEnd = {nullptr, ORX_ARGV_END, nullptr, nullptr, nullptr};
void *Const(intptr_t value)
{
    return reinterpret_cast<void *>(value);
}

using Words = std::vector<std::string>;
// Calls of the word procedures, for the checks.
Words calls;
int TakeIfNumber(void *dst, const char *key, const char *next)
{
    calls.push_back(std::string(key) + "|" + (next != nullptr ? next : "(null)"));
    if (next != nullptr && next[0] >= '0' && next[0] <= '9') {
        *static_cast<int *>(dst) = std::atoi(next);
        return 1;
    }
    return 0;
}

// Takes a pair of words, from strings or objects: moves the rest down over them.
std::string Text(const char *word)
{
    return word;
}

std::string Text(Tcl_Obj *word)
{
    return Tcl_GetString(word);
}

template <typename Word>
int TakePair(void *dst, Tcl_Interp *interp, const char *key, int count, Word *words)
{
    if (count < 2) {
        Tcl_AppendResult(interp, key, " needs two words", nullptr);
        return -1;
    }
    *static_cast<std::string *>(dst) = Text(words[0]) + "," + Text(words[1]);
    std::memmove(words, words + 2, sizeof(*words) * (count - 2));
    return count - 2;
}

int ClaimsTooMuch(void *, Tcl_Interp *, const char *, int argc, const char **)
{
    return argc + 1;
}

class ArgvTest : public orxtest::InterpTest {
protected:
    void SetUp() override
    {
        InterpTest::SetUp();
        calls.clear();
    }
    // The table of a drawing command.
    std::vector<Orx_ArgvInfo> Table()
    {
        return {{"-width", ORX_ARGV_INT, nullptr, &opt.width, "Width in pixels"},
                {"-weight", ORX_ARGV_INT, nullptr, &opt.weight, "Line weight"},
                {"-name", ORX_ARGV_STRING, nullptr, &opt.name, "Object name"},
                {"-scale", ORX_ARGV_FLOAT, nullptr, &opt.scale, "Scale factor"},
                {"-v", ORX_ARGV_CONSTANT, Const(7), &opt.verbose, "Verbose"},
                {nullptr, ORX_ARGV_HELP, nullptr, nullptr, "Layout:"},
                {"--", ORX_ARGV_REST, nullptr, &opt.rest, "End of options"},
                kEnd};
    }
    // Parses words (the command name first) from strings; *left gets the words left over.
    int Parse(std::vector<const char *> words, const Orx_ArgvInfo *table, int flags,
              Words *left = nullptr)
    {
        int count = static_cast<int>(words.size());
        words.push_back("not-overwritten");
        words.push_back("sentinel");
        int status = Orx_ParseArgv(interp_, &count, words.data(), table, flags);
        EXPECT_TRUE(status != TCL_OK || words[count] == nullptr);
        if (status == TCL_OK && left != nullptr) {
            left->assign(words.begin(), words.begin() + count);
        }
        return status;
    }
    // The same from an array of exactly as many objects as words.
    int ParseObjs(std::vector<const char *> words, const Orx_ArgvInfo *table, int flags,
                  Words *left = nullptr)
    {
        std::vector<Tcl_Obj *> objv;
        for (const char *word : words) {
            objv.push_back(InterpTest::Text(word));
        }
        int count = static_cast<int>(objv.size());
        int status = Orx_ParseArgsObjv(interp_, &count, objv.data(), table, flags);
        objv.push_back(nullptr); // past the end: not the parser's to write
        EXPECT_TRUE(status != TCL_OK || objv[count] == nullptr);
        if (status == TCL_OK && left != nullptr) {
            left->clear();
            for (int i = 0; i < count; ++i) {
                left->push_back(Tcl_GetString(objv[i]));
            }
        }
        return status;
    }
    Options opt;
};

TEST_F(ArgvTest, HelpSummaryLayout)
{
    auto table = Table();
    opt.name = "box";
    Tcl_SetResult(interp_, const_cast<char *>("before|"), TCL_STATIC);
    // Widest key 7 ("-weight"): texts start in column 10; the summary is appended; -width has
    // its 3.
    EXPECT_EQ(Failure(Parse({"draw", "-width", "3", "-help", "-weight", "9"}, table.data(), 0)),
              "before|Command-specific options:"
              "\n -width:  Width in pixels\n\t\tDefault value: 3"
              "\n -weight: Line weight\n\t\tDefault value: 0"
              "\n -name:   Object name\n\t\tDefault value: \"box\""
              "\n -scale:  Scale factor\n\t\tDefault value: 1.5"
              "\n -v:      Verbose"
              "\nLayout:"
              "\n --:      End of options"
              "\nGeneric options for all commands:"
              "\n -help:   Print summary of command-line options and abort");
    EXPECT_EQ(opt.weight, 0);
    // No generic part; a string without a value has no default line.
    opt.name = nullptr;
    std::vector<Orx_ArgvInfo> small = {{"-height", ORX_ARGV_STRING, nullptr, &opt.name, "Height"},
                                       {"-x", ORX_ARGV_FLOAT, nullptr, &opt.scale, "X"},
                                       kEnd};
    EXPECT_EQ(Failure(Parse({"cmd", "-help"}, small.data(), ORX_ARGV_NO_DEFAULTS)),
              "Command-specific options:\n -height: Height\n -x:      X\n\t\tDefault value: 1.5");
    // Widest key 6: a 2-character key is followed by ":" and five blanks.
    std::vector<Orx_ArgvInfo> six = {{"-width", ORX_ARGV_CONSTANT, nullptr, &opt.verbose, "W"},
                                     {"-x", ORX_ARGV_REST, nullptr, &opt.rest, "X"},
                                     kEnd};
    EXPECT_EQ(Failure(ParseObjs({"cmd", "-help"}, six.data(), ORX_ARGV_NO_DEFAULTS)),
              "Command-specific options:\n -width: W\n -x:     X");
    // No table: the generic key sets the width.
    EXPECT_EQ(Failure(Parse({"cmd", "-h"}, nullptr, 0)),
              "Command-specific options:\nGeneric options for all commands:"
              "\n -help: Print summary of command-line options and abort");
}

TEST_F(ArgvTest, MatchingAndAbbreviations)
{
    auto table = Table();
    const Orx_ArgvInfo *t = table.data();
    EXPECT_EQ(Failure(Parse({"cmd", "-w", "1"}, t, 0)), "ambiguous option \"-w\"");
    EXPECT_EQ(ParseObjs({"cmd", "-wi", "4", "-weight", "5"}, t, 0), TCL_OK);
    EXPECT_EQ(std::make_pair(opt.width, opt.weight), std::make_pair(4, 5));
    // An exact key wins even when two keys listed first have it as their prefix (was ambiguous).
    int a = 0, b = 0, c = 0;
    std::vector<Orx_ArgvInfo> prefixes = {{"-widthx", ORX_ARGV_CONSTANT, Const(1), &a, ""},
                                          {"-widthy", ORX_ARGV_CONSTANT, Const(1), &b, ""},
                                          {"-width", ORX_ARGV_CONSTANT, Const(1), &c, ""},
                                          kEnd};
    EXPECT_EQ(Parse({"cmd", "-width"}, prefixes.data(), 0), TCL_OK) << Result();
    EXPECT_EQ(std::vector<int>({a, b, c}), std::vector<int>({0, 0, 1}));
    // -h is -help, unless the table has another -h... key.
    EXPECT_EQ(Failure(Parse({"cmd", "-h"}, t, 0)).rfind("Command-specific options:", 0), 0u);
    std::vector<Orx_ArgvInfo> withHeight = {{"-height", ORX_ARGV_INT, nullptr, &opt.width, ""},
                                            kEnd};
    EXPECT_EQ(Failure(ParseObjs({"cmd", "-h"}, withHeight.data(), 0)), "ambiguous option \"-h\"");
    // Without abbreviations a prefix is just another word.
    Words left;
    EXPECT_EQ(Parse({"cmd", "-wi", "-width", "8"}, t, ORX_ARGV_NO_ABBREV, &left), TCL_OK);
    EXPECT_EQ(left, Words({"cmd", "-wi"}));
    EXPECT_EQ(opt.width, 8);
    EXPECT_EQ(Failure(ParseObjs({"cmd", "-wi"}, t, ORX_ARGV_NO_ABBREV | ORX_ARGV_NO_LEFTOVERS)),
              "unrecognized argument \"-wi\"");
    EXPECT_EQ(Parse({"cmd", "-bogus"}, t, ORX_ARGV_NO_LEFTOVERS), TCL_ERROR);
    EXPECT_EQ(ErrorCode(), "ORX VALUE OPTION -bogus");
}

TEST_F(ArgvTest, LeftOverWords)
{
    auto table = Table();
    const Orx_ArgvInfo *t = table.data();
    Words left;
    // Every word is matched, dash or not; the first is skipped unless asked.
    std::vector<Orx_ArgvInfo> plain = {{"on", ORX_ARGV_CONSTANT, Const(1), &opt.verbose, ""}, kEnd};
    EXPECT_EQ(Parse({"on", "a", "on", "", "-", "b"}, plain.data(), 0, &left), TCL_OK);
    EXPECT_EQ(left, Words({"on", "a", "", "-", "b"}));
    EXPECT_EQ(opt.verbose, 1);
    opt.verbose = 0;
    EXPECT_EQ(ParseObjs({"on", "x"}, plain.data(), ORX_ARGV_DONT_SKIP_FIRST_ARG, &left), TCL_OK);
    EXPECT_EQ(left, Words({"x"}));
    EXPECT_EQ(opt.verbose, 1);
    EXPECT_EQ(Parse({}, t, 0, &left), TCL_OK);
    EXPECT_EQ(left, Words());
    // After the rest option everything is left over, options too.
    EXPECT_EQ(Parse({"cmd", "x", "-v", "--", "-width", "3", "y"}, t, 0, &left), TCL_OK);
    EXPECT_EQ(left, Words({"cmd", "x", "-width", "3", "y"}));
    EXPECT_EQ(std::make_tuple(opt.rest, opt.verbose, opt.width), std::make_tuple(2, 7, 10));
    EXPECT_EQ(ParseObjs({"cmd", "--", "-v"}, t, ORX_ARGV_NO_LEFTOVERS, &left), TCL_OK);
    EXPECT_EQ(left, Words({"cmd", "-v"}));
    EXPECT_EQ(opt.rest, 1);
    // All words kept: the object array has no room for a terminator and gets none.
    EXPECT_EQ(ParseObjs({"cmd", "a", "b"}, t, 0, &left), TCL_OK);
    EXPECT_EQ(left, Words({"cmd", "a", "b"}));
}

TEST_F(ArgvTest, ValuesOfEveryType)
{
    auto table = Table();
    const Orx_ArgvInfo *t = table.data();
    std::vector<const char *> words = {"cmd",     "-name", "pad",    "-width", "0x1F",
                                       "-weight", "017",   "-scale", "2.5e1"};
    EXPECT_EQ(Parse(words, t, 0), TCL_OK);
    EXPECT_EQ(std::make_tuple(opt.width, opt.weight, opt.scale), std::make_tuple(31, 15, 25.0));
    EXPECT_EQ(opt.name, words[2]); // the word itself, not a copy
    EXPECT_EQ(ParseObjs({"cmd", "-width", " -12 ", "-weight", "0o17", "-name", "ü€"}, t, 0),
              TCL_OK);
    EXPECT_EQ(std::make_pair(opt.width, opt.weight), std::make_pair(-12, 15));
    EXPECT_STREQ(opt.name, "ü€");
}

TEST_F(ArgvTest, BadValuesAndMissingWords)
{
    auto table = Table();
    const Orx_ArgvInfo *t = table.data();
    // From strings the message is appended; from objects it is the result, Tcl's rules deciding
    // numbers.
    auto expected = [](const char *kind, const char *key, const char *got) {
        return "expected " + std::string(kind) + " argument for \"" + key + "\" but got \"" + got +
               "\"";
    };
    const char *i = "integer", *f = "floating-point";
    const struct {
        bool objs;
        std::vector<const char *> words;
        std::string message;
    } cases[] = {
        {0, {"cmd", "-width", "12abc"}, expected(i, "-width", "12abc")},
        {0, {"cmd", "-width", ""}, expected(i, "-width", "")},
        {0, {"cmd", "-wid", "99999999999"}, expected(i, "-width", "99999999999")},
        {0, {"cmd", "-width", "12 "}, expected(i, "-width", "12 ")},
        {0, {"cmd", "-scale", "1.5x"}, expected(f, "-scale", "1.5x")},
        {0, {"cmd", "-scale", ""}, expected(f, "-scale", "")},
        {0, {"cmd", "-width", "1", "-wid"}, "\"-wid\" option requires an additional argument"},
        {0, {"cmd", "-name"}, "\"-name\" option requires an additional argument"},
        {0, {"cmd", "-s"}, "\"-s\" option requires an additional argument"},
        {1, {"cmd", "-width", "1e3"}, expected(i, "-width", "1e3")},
        {1, {"cmd", "-width", "0x1FFFFFFFF"}, expected(i, "-width", "0x1FFFFFFFF")},
        {1, {"cmd", "-scale", "abc"}, expected(f, "-scale", "abc")},
        {1,
         {"cmd", "-width", "4294967295"},
         expected(i, "-width", "4294967295")}, // was taken as -1
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        Tcl_SetResult(interp_, const_cast<char *>("old "), TCL_STATIC);
        EXPECT_EQ(c.objs ? ParseObjs(c.words, t, 0) : Parse(c.words, t, 0), TCL_ERROR);
        EXPECT_EQ(Result(), (c.objs ? "" : "old ") + c.message);
    }
    EXPECT_EQ(ErrorCode(), "ORX VALUE NUMBER 4294967295");
    Tcl_ResetResult(interp_);
    EXPECT_EQ(Parse({"cmd", "-name"}, t, 0), TCL_ERROR);
    EXPECT_EQ(ErrorCode(), "TCL WRONGARGS");
    // Values stored before the failure stay stored.
    opt = Options();
    EXPECT_EQ(ParseObjs({"cmd", "-weight", "5", "-width", "x"}, t, 0), TCL_ERROR);
    EXPECT_EQ(std::make_pair(opt.weight, opt.width), std::make_pair(5, 10));
}

TEST_F(ArgvTest, WordProcedures)
{
    int number = 0;
    std::string pair;
    std::vector<Orx_ArgvInfo> table = {
        {"-n", ORX_ARGV_FUNC, reinterpret_cast<void *>(&TakeIfNumber), &number, ""},
        {"-pair", ORX_ARGV_GENFUNC, reinterpret_cast<void *>(&TakePair<const char *>), &pair, ""},
        kEnd};
    Words left;
    EXPECT_EQ(
        Parse({"cmd", "-n", "42", "-n", "x", "-pair", "a", "b", "c", "-n"}, table.data(), 0, &left),
        TCL_OK);
    EXPECT_EQ(std::make_pair(number, pair), std::make_pair(42, std::string("a,b")));
    EXPECT_EQ(left, Words({"cmd", "x", "c"}));
    EXPECT_EQ(calls, Words({"-n|42", "-n|x", "-n|(null)"}));
    EXPECT_EQ(Failure(Parse({"cmd", "-pair", "a"}, table.data(), 0)), "-pair needs two words");
    table[1].src = reinterpret_cast<void *>(&TakePair<Tcl_Obj *>);
    EXPECT_EQ(ParseObjs({"cmd", "-p", "1", "2", "-n", "7"}, table.data(), 0, &left), TCL_OK);
    EXPECT_EQ(std::make_pair(number, pair), std::make_pair(7, std::string("1,2")));
    EXPECT_EQ(left, Words({"cmd"}));
    // A procedure claiming more words than it was given fails the parse, not reading past the
    // array.
    table[1].src = reinterpret_cast<void *>(&ClaimsTooMuch);
    EXPECT_EQ(Failure(Parse({"cmd", "-pair", "a"}, table.data(), 0)),
              "procedure of option \"-pair\" returned 2 words left of 1");
}

TEST_F(ArgvTest, BadArgumentType)
{
    int value = 0;
    for (int type : {14, 24, 0}) {
        std::vector<Orx_ArgvInfo> table = {{"-odd", type, nullptr, &value, ""}, kEnd};
        EXPECT_EQ(Failure(Parse({"cmd", "plain", "-odd"}, table.data(), 0)),
                  "bad argument type " + std::to_string(type) + " in Orx_ArgvInfo");
    }
}
} // namespace
