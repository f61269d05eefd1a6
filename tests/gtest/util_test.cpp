// C-level tests of the shared utility interface: parsers, index expressions,
// channel helpers, result building and the result save object.

#include <climits>

#include "orx_util.h"
#include "tests/support/child_run.h"
#include "tests/support/interp_fixture.h"

namespace {

class UtilTest : public orxtest::InterpTest {
protected:
    int Relative(const char *text, int length, long *value)
    {
        return OrxX_RelativeExpr(interp_, Text(text), length, value);
    }
    // A new channel opened with access and configured with options; its name.
    std::string OpenChannel(const char *access, const char *options)
    {
        std::string script =
            std::string("set f [open /dev/null ") + access + "]; fconfigure $f " + options;
        EXPECT_EQ(Tcl_Eval(interp_, (script + "; set f").c_str()), TCL_OK) << Result();
        return Result();
    }
    int CodedOption(const std::string &handle, int option)
    {
        int value = -1;
        Tcl_Channel channel = OrxX_GetOpenChannel(interp_, handle.c_str(), 0);
        EXPECT_EQ(OrxX_GetChannelOption(interp_, channel, option, &value), TCL_OK) << Result();
        return value;
    }
};

TEST_F(UtilTest, NumberParsers)
{
    // Values wrap around in 32 bits like a Tcl int; offsets negate in 64 bits.
    const struct {
        const char *text;
        int base;
        long value;
        int64_t offset;
    } good[] = {
        {"  -12  ", 10, -12, -12},
        {"0x1f", 0, 31, 31},
        {"010", 0, 8, 8},
        {"ff", 16, 255, 255},
        {"\t-0x10\n", 0, -16, -16},
        {"0xFFFFFFFF", 0, -1, INT64_C(4294967295)},
        {"-4294967295", 10, 1, -INT64_C(4294967295)},
    };
    for (const auto &c : good) {
        long value = 0;
        int64_t offset = 0;
        EXPECT_TRUE(OrxX_StrToInt(c.text, c.base, &value) && value == c.value) << c.text;
        EXPECT_TRUE(OrxX_StrToOffset(c.text, c.base, &offset) && offset == c.offset) << c.text;
    }
    for (const char *text : {"12x", "", "   ", "-", "4294967296", "--5", "- 5", "+-5", "0x", "08",
                             "99999999999999999999", "1 2"}) {
        long value = 4242;
        int64_t offset = 4242;
        unsigned number = 4242;
        EXPECT_FALSE(OrxX_StrToInt(text, 0, &value)) << text;
        EXPECT_FALSE(OrxX_StrToOffset(text, 0, &offset)) << text;
        EXPECT_FALSE(OrxX_StrToUnsigned(text, 0, &number)) << text;
        EXPECT_EQ(value + offset + number, 3 * 4242) << text;
    }
    long bad = 0;
    EXPECT_FALSE(OrxX_StrToInt("12", 1, &bad) || OrxX_StrToInt("7", 37, &bad));
    unsigned value = 0;
    EXPECT_TRUE(OrxX_StrToUnsigned("-1", 10, &value)); // strtoul wraps
    EXPECT_EQ(value, 4294967295u);
    Tcl_Obj *minus3 = Text("-3"), *word = Text("abc");
    EXPECT_EQ(Failure(OrxX_GetUnsignedFromObj(interp_, minus3, &value)),
              "expected unsigned integer, got \"-3\"");
    int64_t offset = 0;
    EXPECT_EQ(OrxX_GetOffsetFromObj(interp_, minus3, &offset), TCL_OK);
    EXPECT_EQ(offset, -3);
    Failure(OrxX_GetOffsetFromObj(interp_, word, &offset));
    // Past 32 bits: each used to wrap (3000000000 read as an int); a wide read wraps below -2^63.
    EXPECT_EQ(OrxX_GetUnsignedFromObj(interp_, Text("3000000000"), &value), TCL_OK);
    EXPECT_EQ(value, 3000000000u);
    EXPECT_EQ(Failure(OrxX_GetUnsignedFromObj(interp_, Text("-4294967295"), &value)),
              "expected unsigned integer, got \"-4294967295\"");
    EXPECT_EQ(OrxX_GetOffsetFromObj(interp_, Text("4294967296"), &offset), TCL_OK);
    EXPECT_EQ(offset, INT64_C(4294967296));
    EXPECT_EQ(Failure(OrxX_GetOffsetFromObj(interp_, Text("-9223372036854775809"), &offset)),
              "integer value too large to represent");
}

TEST_F(UtilTest, RelativeExpressions)
{
    // Texts of 33 bytes and more once rewritten need more than the fixed buffer.
    const std::string end31 = "end" + std::string(31, ' ');
    const std::string endLong = "end" + std::string(40, ' ') + "+20";
    const std::string lenLong = "len" + std::string(31, ' ') + "*2";
    const struct {
        const char *text;
        int length;
        long value;
    } good[] = {
        {"len/2", 10, 5},
        {"end", 0, -1},
        {"end-1", INT_MAX, INT_MAX - 2L},
        {"end/2.0", 6, 2},
        {"-2.9", 6, -2},
        {end31.c_str(), 5, 4},
        {endLong.c_str(), 1000000, 999999 + 20},
        {lenLong.c_str(), 3, 6},
    };
    for (const auto &c : good) {
        long value = LONG_MIN;
        EXPECT_EQ(Relative(c.text, c.length, &value), TCL_OK) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
    // Non-numeric results are refused with a message (and no leak: the sanitizer build checks).
    for (const char *text : {"ending", "en", "1e300", "{not a number}"}) {
        long value = 0;
        EXPECT_EQ(Relative(text, 5, &value), TCL_ERROR) << text;
    }
    EXPECT_NE(Result().find("not a number"), std::string::npos) << Result();
    // Integer objects are taken as they are, whatever the length (4294967295 was -1).
    long value = 0;
    EXPECT_EQ(OrxX_RelativeExpr(interp_, Hold(Tcl_NewIntObj(7)), 100, &value), TCL_OK);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(OrxX_RelativeExpr(interp_, Hold(Tcl_NewWideIntObj(INT64_C(4294967295))), 3, &value),
              TCL_OK);
    EXPECT_EQ(value, 4294967295L);
}

// The common forms are read without the evaluator; they and their near misses must
// come out as the evaluator gives them.
TEST_F(UtilTest, RelativeQuickFormsAgreeWithTheEvaluator)
{
    const char *texts[] = {
        "12",    "-1",      "0",         "-0",         "end-1",      "end+3",          "len-2",
        "len+0", "end-0",   "999999999", "-999999999", "1234567890", "end+1234567890", "end-08",
        "08",    "end--1",  "+5",        "end-",       "end+",       "lenx",           "end1",
        "0x10",  "end-0x1", "len-1.5",   "1 "};
    for (int length : {0, 5, INT_MAX}) {
        for (const char *text : texts) {
            std::string rewritten = text, head = rewritten.substr(0, 3);
            if (head == "end" || head == "len") {
                rewritten = std::to_string(long(length) - (head == "end")) + rewritten.substr(3);
            }
            long expected = 0;
            Tcl_Obj *valueObj = nullptr;
            int expectedCode = Tcl_ExprObj(interp_, Text(rewritten.c_str()), &valueObj);
            if (expectedCode == TCL_OK) {
                double real;
                if (Tcl_GetLongFromObj(nullptr, valueObj, &expected) != TCL_OK) {
                    Tcl_GetDoubleFromObj(nullptr, valueObj, &real);
                    expected = static_cast<long>(real);
                }
                Tcl_DecrRefCount(valueObj);
            }
            long value = LONG_MIN;
            EXPECT_EQ(Relative(text, length, &value), expectedCode) << text << " " << length;
            if (expectedCode == TCL_OK) {
                EXPECT_EQ(value, expected) << text << " " << length;
            }
        }
    }
}

TEST_F(UtilTest, CaseShiftingAndNullObjects)
{
    // Into a new buffer or in place; bytes beyond ASCII stay as they are.
    char *lower = OrxX_DownShift(nullptr, "MiXeD 42 \xC3\x84"), buffer[] = "abc-XYZ";
    EXPECT_STREQ(lower, "mixed 42 \xC3\x84");
    Tcl_Free(lower);
    EXPECT_EQ(OrxX_UpShift(buffer, buffer), buffer);
    EXPECT_STREQ(buffer, "ABC-XYZ");
    Tcl_Obj *blanks = Text("  "), *pair = Text("a b"), *empty = Hold(Tcl_NewObj());
    EXPECT_EQ(OrxX_IsNullObj(empty) * 10 + OrxX_IsNullObj(blanks), 10);
    int length; // read as a list, blanks have no elements: the list view decides
    Tcl_ListObjLength(nullptr, blanks, &length);
    Tcl_ListObjLength(nullptr, pair, &length);
    EXPECT_EQ(OrxX_IsNullObj(blanks) * 10 + OrxX_IsNullObj(pair), 10);
}

TEST_F(UtilTest, ChannelDirectionAndOptions)
{
    std::string out = OpenChannel("w", "");
    Tcl_SetObjResult(interp_, Tcl_NewStringObj("before: ", -1));
    EXPECT_EQ(OrxX_GetOpenChannel(interp_, out.c_str(), TCL_READABLE), nullptr);
    EXPECT_EQ(Result(), "before: channel \"" + out + "\" wasn't opened for reading");
    EXPECT_NE(OrxX_GetOpenChannel(interp_, out.c_str(), TCL_WRITABLE), nullptr);
    EXPECT_EQ(OrxX_GetOpenChannel(interp_, "nosuchchannel", 0), nullptr);
    const struct {
        const char *access, *options;
        int option, code;
    } cases[] = {{"w+", "-translation {auto crlf}", ORXX_COPT_TRANSLATION, (1 << 8) | 4},
                 {"w+", "-translation lf", ORXX_COPT_TRANSLATION, (2 << 8) | 2},
                 {"w+", "-translation {cr crlf}", ORXX_COPT_TRANSLATION, (3 << 8) | 4},
                 // One-direction channels report a single word, which serves both ways.
                 {"w", "-translation crlf", ORXX_COPT_TRANSLATION, (4 << 8) | 4},
                 {"r", "-translation cr", ORXX_COPT_TRANSLATION, (3 << 8) | 3},
                 {"w", "-blocking 0", ORXX_COPT_BLOCKING, 1},
                 {"w", "-blocking 1", ORXX_COPT_BLOCKING, 0},
                 {"w", "-buffering full", ORXX_COPT_BUFFERING, ORXX_BUFFERING_FULL},
                 {"w", "-buffering line", ORXX_COPT_BUFFERING, ORXX_BUFFERING_LINE},
                 {"w", "-buffering none", ORXX_COPT_BUFFERING, ORXX_BUFFERING_NONE}};
    for (const auto &c : cases) {
        EXPECT_EQ(CodedOption(OpenChannel(c.access, c.options), c.option), c.code) << c.options;
    }
    // A server socket is neither readable nor writable: the channel layer says just "auto".
    if (Tcl_Eval(interp_, "socket -server {apply {args {}}} -myaddr 127.0.0.1 0") == TCL_OK) {
        EXPECT_EQ(CodedOption(Result(), ORXX_COPT_TRANSLATION), (1 << 8) | 1);
    }
}

TEST_F(UtilTest, ResultBuildersAppend)
{
    Tcl_Obj *name = Text("keylget");
    Tcl_SetObjResult(interp_, Tcl_NewStringObj("x: ", -1));
    OrxX_WrongArgs(interp_, name, nullptr);
    OrxX_WrongArgs(interp_, name, "");
    EXPECT_EQ(Result(), "x: wrong # args: keylgetwrong # args: keylget");
    // The name may be the result object itself.
    Tcl_SetObjResult(interp_, Tcl_NewStringObj("cmd", -1));
    OrxX_WrongArgs(interp_, Tcl_GetObjResult(interp_), "arg");
    EXPECT_EQ(Result(), "cmdwrong # args: cmd arg");
    // A result someone else holds is left to its holder: the strings start afresh.
    Tcl_Obj *held = Text("value");
    Tcl_SetObjResult(interp_, held);
    OrxX_AppendObjResult(interp_, "and", " more", (char *)NULL);
    EXPECT_STREQ(Tcl_GetString(held), "value");
    EXPECT_EQ(Result(), "and more");
}

TEST_F(UtilTest, SaveAndRestoreTheErrorState)
{
    // Saving where the variables were never set must not mark an error code as set.
    Tcl_Obj *saved = OrxX_SaveResultErrorInfo(interp_), *flags = nullptr;
    EXPECT_EQ(saved->refCount, 1);
    ASSERT_EQ(Tcl_ListObjIndex(nullptr, saved, 3, &flags), TCL_OK);
    EXPECT_STREQ(Tcl_GetString(flags), "0");
    OrxX_RestoreResultErrorInfo(interp_, saved);
    // A command that fails, runs a nested script that succeeds and then reinstates the
    // first failure must look like one that fails directly.
    Tcl_ObjCmdProc *direct = [](ClientData, Tcl_Interp *ip, int, Tcl_Obj *const[]) {
        return Tcl_Eval(ip, "error boom {} {MY CODE}");
    };
    Tcl_ObjCmdProc *nested = [](ClientData, Tcl_Interp *ip, int, Tcl_Obj *const[]) {
        int code = Tcl_Eval(ip, "error boom {} {MY CODE}");
        Tcl_Obj *saved = OrxX_SaveResultErrorInfo(ip);
        Tcl_Eval(ip, "catch {error inner {} INNER}; set ::nested done");
        OrxX_RestoreResultErrorInfo(ip, saved);
        return code;
    };
    const char *script = "list [catch {p failing} m] $m $::errorInfo $::errorCode";
    ASSERT_EQ(Tcl_Eval(interp_, "proc p {cmd} {$cmd}"), TCL_OK);
    Tcl_CreateObjCommand(interp_, "failing", direct, nullptr, nullptr);
    ASSERT_EQ(Tcl_Eval(interp_, script), TCL_OK);
    std::string expected = Result();
    Tcl_CreateObjCommand(interp_, "failing", nested, nullptr, nullptr);
    ASSERT_EQ(Tcl_Eval(interp_, script), TCL_OK);
    EXPECT_EQ(Result(), expected);
    EXPECT_STREQ(Tcl_GetVar(interp_, "nested", TCL_GLOBAL_ONLY), "done");
    // After a success the nested error is hidden again.
    ASSERT_EQ(Tcl_Eval(interp_, "set ::errorInfo {old info}; set ::errorCode {OLD}; set x ok"),
              TCL_OK);
    saved = OrxX_SaveResultErrorInfo(interp_);
    EXPECT_EQ(Tcl_Eval(interp_, "error inner {} INNER"), TCL_ERROR);
    OrxX_RestoreResultErrorInfo(interp_, saved);
    EXPECT_EQ(Tcl_Eval(interp_, "list [set x ok] $::errorInfo $::errorCode"), TCL_OK);
    EXPECT_EQ(Result(), "ok {old info} OLD");
}

// Not a death test: gtest's regex would be compiled against Tcl's private regex.h.
TEST_F(UtilTest, MalformedSaveObjectPanics)
{
    orxtest::ChildRun run = orxtest::RunChild([](Tcl_Interp *interp) {
        Tcl_Obj *bad = Tcl_NewStringObj("a b c", -1);
        Tcl_IncrRefCount(bad);
        OrxX_RestoreResultErrorInfo(interp, bad);
    });
    EXPECT_EQ(run.status, -1); // ended by a signal
    EXPECT_NE(run.err.find("invalid OrxX result save object"), std::string::npos) << run.err;
}
} // namespace
