// C-level tests of the shared utility interface: parsers, index expressions,
// channel helpers, result building and the result save object.

#include <gtest/gtest.h>

#include <tcl.h>

#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "orx_util.h"

namespace {

class UtilTest : public ::testing::Test {
protected:
    void SetUp() override { interp = Tcl_CreateInterp(); }
    void TearDown() override { Tcl_DeleteInterp(interp); }

    std::string Result() { return Tcl_GetStringResult(interp); }
    std::string Var(const char *name)
    {
        const char *value = Tcl_GetVar(interp, name, TCL_GLOBAL_ONLY);
        return value != nullptr ? value : "<unset>";
    }
    int Eval(const char *script) { return Tcl_Eval(interp, script); }
    long Relative(const char *text, int length, int expectCode = TCL_OK)
    {
        Tcl_Obj *obj = Tcl_NewStringObj(text, -1);
        Tcl_IncrRefCount(obj);
        long value = LONG_MIN;
        EXPECT_EQ(OrxX_RelativeExpr(interp, obj, length, &value), expectCode) << text;
        Tcl_DecrRefCount(obj);
        return value;
    }
    // A fresh read-write temporary file channel with the given fconfigure
    // options, registered in the interpreter; returns its name.
    std::string OpenChannel(const char *access, const char *options)
    {
        std::string script = std::string("set f [file tempfile ::tmpname]; close $f; "
                                         "set f [open $::tmpname ") + access + "]";
        if (options[0] != '\0') {
            script += std::string("; fconfigure $f ") + options;
        }
        script += "; file delete $::tmpname; set f";
        EXPECT_EQ(Eval(script.c_str()), TCL_OK) << Result();
        return Result();
    }
    int CodedOption(const std::string &handle, int option)
    {
        Tcl_Channel channel = OrxX_GetOpenChannel(interp, handle.c_str(), 0);
        EXPECT_NE(channel, nullptr);
        int value = -1;
        EXPECT_EQ(OrxX_GetChannelOption(interp, channel, option, &value), TCL_OK) << Result();
        return value;
    }

    Tcl_Interp *interp = nullptr;
};

TEST_F(UtilTest, SignedParsersAcceptBlanksSignsAndPrefixes)
{
    const struct {
        const char *text;
        int base;
        long value;
    } cases[] = {
        {"  -12  ", 10, -12}, {"+7", 10, 7},        {"0x1f", 0, 31},       {"010", 0, 8},
        {"ff", 16, 255},      {"\t-0x10\n", 0, -16}, {"0xFFFFFFFF", 0, -1},  // wraps like a Tcl int
    };
    for (const auto &c : cases) {
        long value = 0;
        int64_t offset = 0;
        EXPECT_TRUE(OrxX_StrToInt(c.text, c.base, &value)) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
        EXPECT_TRUE(OrxX_StrToOffset(c.text, c.base, &offset)) << c.text;
        EXPECT_EQ(int32_t(offset), c.value) << c.text;
    }
}

TEST_F(UtilTest, SignedParsersRejectWithoutTouchingTheValue)
{
    const char *bad[] = {"12x", "", "   ", "-", "+", "4294967296", "99999999999999999999",
                         "--5", "- 5", "+-5", "0x", "08", "1 2", "12", "7"};
    const int bases[] = {10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 0, 0, 10, 1, 37};
    for (size_t i = 0; i < sizeof bad / sizeof bad[0]; i++) {
        long value = 4242;
        int64_t offset = 4242;
        EXPECT_FALSE(OrxX_StrToInt(bad[i], bases[i], &value)) << bad[i];
        EXPECT_FALSE(OrxX_StrToOffset(bad[i], bases[i], &offset)) << bad[i];
        EXPECT_EQ(value, 4242);
        EXPECT_EQ(offset, 4242);
    }
}

TEST_F(UtilTest, UnsignedParserFollowsStrtoulRules)
{
    unsigned value = 0;
    EXPECT_TRUE(OrxX_StrToUnsigned(" 4294967295 ", 10, &value));
    EXPECT_EQ(value, 4294967295u);
    EXPECT_TRUE(OrxX_StrToUnsigned("0x1F", 0, &value));
    EXPECT_EQ(value, 31u);
    EXPECT_TRUE(OrxX_StrToUnsigned("-1", 10, &value));
    EXPECT_EQ(value, 4294967295u);
    value = 5;
    EXPECT_FALSE(OrxX_StrToUnsigned("4294967296", 10, &value));
    EXPECT_FALSE(OrxX_StrToUnsigned("1.5", 10, &value));
    EXPECT_EQ(value, 5u);
}

TEST_F(UtilTest, OffsetParserNegatesIn64Bits)
{
    int64_t offset = 0;
    EXPECT_TRUE(OrxX_StrToOffset("-1", 10, &offset));
    EXPECT_EQ(offset, -1);
    EXPECT_TRUE(OrxX_StrToOffset("-0", 10, &offset));
    EXPECT_EQ(offset, 0);
    EXPECT_TRUE(OrxX_StrToOffset("4294967295", 10, &offset));
    EXPECT_EQ(offset, INT64_C(4294967295));
    EXPECT_TRUE(OrxX_StrToOffset("-4294967295", 10, &offset));
    EXPECT_EQ(offset, -INT64_C(4294967295));
    EXPECT_EQ(static_cast<uint64_t>(offset) >> 32, 0xFFFFFFFFu);
}

TEST_F(UtilTest, ObjectReaders)
{
    Tcl_Obj *minus3 = Tcl_NewStringObj("-3", -1);
    Tcl_IncrRefCount(minus3);
    unsigned value = 9;
    EXPECT_EQ(OrxX_GetUnsignedFromObj(interp, minus3, &value), TCL_ERROR);
    EXPECT_EQ(Result(), "expected unsigned integer, got \"-3\"");
    EXPECT_EQ(value, 9u);
    int64_t offset = 0;
    EXPECT_EQ(OrxX_GetOffsetFromObj(interp, minus3, &offset), TCL_OK);
    EXPECT_EQ(offset, -3);
    Tcl_DecrRefCount(minus3);

    Tcl_ResetResult(interp);
    Tcl_Obj *word = Tcl_NewStringObj("abc", -1);
    Tcl_IncrRefCount(word);
    EXPECT_EQ(OrxX_GetUnsignedFromObj(interp, word, &value), TCL_ERROR);
    EXPECT_NE(Result().find("\"abc\""), std::string::npos) << Result();
    EXPECT_EQ(OrxX_GetOffsetFromObj(interp, word, &offset), TCL_ERROR);
    Tcl_DecrRefCount(word);

    Tcl_Obj *seven = Tcl_NewIntObj(7);
    Tcl_IncrRefCount(seven);
    EXPECT_EQ(OrxX_GetUnsignedFromObj(interp, seven, &value), TCL_OK);
    EXPECT_EQ(value, 7u);
    Tcl_DecrRefCount(seven);
}

TEST_F(UtilTest, RelativeExpressions)
{
    EXPECT_EQ(Relative("end", 5), 4);
    EXPECT_EQ(Relative("end-1", 5), 3);
    EXPECT_EQ(Relative("end - 2", 5), 2);
    EXPECT_EQ(Relative("len", 5), 5);
    EXPECT_EQ(Relative("len-1", 5), 4);
    EXPECT_EQ(Relative("len/2", 10), 5);
    EXPECT_EQ(Relative("2+1", 5), 3);
    EXPECT_EQ(Relative("end+10", 5), 14);
    EXPECT_EQ(Relative("end", 0), -1);
    EXPECT_EQ(Relative("end-1", INT_MAX), INT_MAX - 2L);

    Tcl_ResetResult(interp);
    Relative("ending", 5, TCL_ERROR);
    EXPECT_NE(Result(), "");
    Relative("en", 5, TCL_ERROR);
    // Values that are no integers: truncated doubles, refused words (the
    // sanitizer build also checks that the refused value is not leaked).
    EXPECT_EQ(Relative("end/2.0", 6), 2);
    EXPECT_EQ(Relative("-2.9", 6), -2);
    EXPECT_EQ(Relative("", 6), 0);
    Tcl_ResetResult(interp);
    Relative("yes", 5, TCL_ERROR);
    EXPECT_NE(Result().find("yes"), std::string::npos) << Result();
    Relative("1e300", 5, TCL_ERROR);
    Relative("{not a number}", 5, TCL_ERROR);

    // Integer objects are taken as they are, whatever the length.
    Tcl_Obj *seven = Tcl_NewIntObj(7);
    Tcl_IncrRefCount(seven);
    long value = 0;
    EXPECT_EQ(OrxX_RelativeExpr(interp, seven, 100, &value), TCL_OK);
    EXPECT_EQ(value, 7);
    Tcl_DecrRefCount(seven);
}

TEST_F(UtilTest, RelativeExpressionLongerThanTheFixedBuffer)
{
    std::string tail;
    for (int i = 0; i < 20; i++) {
        tail += "+1";  // 40 characters behind "end"
    }
    EXPECT_EQ(Relative(("end" + tail).c_str(), 1000000), 999999 + 20);
    EXPECT_EQ(Relative(("len" + tail + tail + tail).c_str(), 3), 63);
    // Just at the boundary: number, remainder and terminator of 32 and 33 bytes.
    EXPECT_EQ(Relative(("end" + std::string(30, ' ')).c_str(), 5), 4);
    EXPECT_EQ(Relative(("end" + std::string(31, ' ')).c_str(), 5), 4);
}

TEST_F(UtilTest, CaseShifting)
{
    char *lower = OrxX_DownShift(nullptr, "MiXeD 42 \xC3\x84");
    EXPECT_STREQ(lower, "mixed 42 \xC3\x84");
    Tcl_Free(lower);
    char buffer[] = "abc-XYZ";
    EXPECT_EQ(OrxX_UpShift(buffer, buffer), buffer);
    EXPECT_STREQ(buffer, "ABC-XYZ");
    EXPECT_STREQ(OrxX_DownShift(buffer, buffer), "abc-xyz");
}

TEST_F(UtilTest, ChannelDirectionIsChecked)
{
    std::string out = OpenChannel("w", "");
    Tcl_SetObjResult(interp, Tcl_NewStringObj("before: ", -1));
    EXPECT_EQ(OrxX_GetOpenChannel(interp, out.c_str(), TCL_READABLE), nullptr);
    EXPECT_EQ(Result(), "before: channel \"" + out + "\" wasn't opened for reading");
    EXPECT_NE(OrxX_GetOpenChannel(interp, out.c_str(), TCL_WRITABLE), nullptr);

    std::string in = OpenChannel("r", "");
    Tcl_ResetResult(interp);
    Tcl_Obj *handle = Tcl_NewStringObj(in.c_str(), -1);
    Tcl_IncrRefCount(handle);
    EXPECT_EQ(OrxX_GetOpenChannelObj(interp, handle, TCL_READABLE | TCL_WRITABLE), nullptr);
    EXPECT_EQ(Result(), "channel \"" + in + "\" wasn't opened for writing");
    Tcl_DecrRefCount(handle);

    Tcl_ResetResult(interp);
    EXPECT_EQ(OrxX_GetOpenChannel(interp, "nosuchchannel", 0), nullptr);
    EXPECT_NE(Result().find("nosuchchannel"), std::string::npos);
}

TEST_F(UtilTest, ChannelOptionsAreCoded)
{
    EXPECT_EQ(CodedOption(OpenChannel("w+", "-translation {auto crlf}"), ORXX_COPT_TRANSLATION),
              (1 << 8) | 4);
    EXPECT_EQ(CodedOption(OpenChannel("w+", "-translation lf"), ORXX_COPT_TRANSLATION), 514);
    EXPECT_EQ(CodedOption(OpenChannel("w+", "-translation binary"), ORXX_COPT_TRANSLATION), 514);
    EXPECT_EQ(CodedOption(OpenChannel("w+", "-translation {cr crlf}"), ORXX_COPT_TRANSLATION),
              (3 << 8) | 4);
    // One-direction channels report a single word, which serves both ways.
    EXPECT_EQ(CodedOption(OpenChannel("w", "-translation crlf"), ORXX_COPT_TRANSLATION),
              (4 << 8) | 4);
    EXPECT_EQ(CodedOption(OpenChannel("r", "-translation cr"), ORXX_COPT_TRANSLATION),
              (3 << 8) | 3);

    EXPECT_EQ(CodedOption(OpenChannel("w", "-blocking 0"), ORXX_COPT_BLOCKING), 1);
    EXPECT_EQ(CodedOption(OpenChannel("w", "-blocking 1"), ORXX_COPT_BLOCKING), 0);
    EXPECT_EQ(CodedOption(OpenChannel("w", "-buffering full"), ORXX_COPT_BUFFERING), 0);
    EXPECT_EQ(CodedOption(OpenChannel("w", "-buffering line"), ORXX_COPT_BUFFERING), 1);
    EXPECT_EQ(CodedOption(OpenChannel("w", "-buffering none"), ORXX_COPT_BUFFERING), 2);
}

TEST_F(UtilTest, ServerSocketTranslationIsCoded)
{
    if (Eval("set s [socket -server {apply {args {}}} -myaddr 127.0.0.1 0]") != TCL_OK) {
        GTEST_SKIP() << "no loopback socket: " << Result();
    }
    // Neither readable nor writable: the channel layer says just "auto".
    EXPECT_EQ(CodedOption(Result(), ORXX_COPT_TRANSLATION), (1 << 8) | 1);
}

TEST_F(UtilTest, WrongArgsAppends)
{
    Tcl_Obj *name = Tcl_NewStringObj("keylget", -1);
    Tcl_IncrRefCount(name);
    EXPECT_EQ(OrxX_WrongArgs(interp, name, "listvar ?key?"), TCL_ERROR);
    EXPECT_EQ(Result(), "wrong # args: keylget listvar ?key?");
    Tcl_ResetResult(interp);
    EXPECT_EQ(OrxX_WrongArgs(interp, name, ""), TCL_ERROR);
    EXPECT_EQ(Result(), "wrong # args: keylget");
    Tcl_SetObjResult(interp, Tcl_NewStringObj("x: ", -1));
    OrxX_WrongArgs(interp, name, nullptr);
    EXPECT_EQ(Result(), "x: wrong # args: keylget");
    Tcl_DecrRefCount(name);

    // The name may be the result object itself.
    Tcl_SetObjResult(interp, Tcl_NewStringObj("cmd", -1));
    OrxX_WrongArgs(interp, Tcl_GetObjResult(interp), "arg");
    EXPECT_EQ(Result(), "cmdwrong # args: cmd arg");
}

TEST_F(UtilTest, AppendToSharedResultLeavesTheHolderAlone)
{
    Tcl_Obj *held = Tcl_NewStringObj("value", -1);
    Tcl_IncrRefCount(held);
    Tcl_SetObjResult(interp, held);
    OrxX_AppendObjResult(interp, " and", " more", (char *)NULL);
    EXPECT_STREQ(Tcl_GetString(held), "value");
    EXPECT_EQ(Result(), "value and more");
    EXPECT_NE(Tcl_GetObjResult(interp), held);
    Tcl_DecrRefCount(held);

    // An unshared result is extended in place.
    Tcl_Obj *own = Tcl_GetObjResult(interp);
    OrxX_AppendObjResult(interp, "!", (char *)NULL);
    EXPECT_EQ(Tcl_GetObjResult(interp), own);
    EXPECT_EQ(Result(), "value and more!");
}

TEST_F(UtilTest, NullObjects)
{
    struct Case {
        Tcl_Obj *obj;
        int isNull;
    } cases[] = {
        {Tcl_NewObj(), 1},
        {Tcl_NewStringObj("  ", -1), 0},
        {Tcl_NewListObj(0, nullptr), 1},
        {Tcl_NewIntObj(0), 0},
        {Tcl_NewStringObj("a b", -1), 0},
    };
    for (auto &c : cases) {
        Tcl_IncrRefCount(c.obj);
        EXPECT_EQ(OrxX_IsNullObj(c.obj), c.isNull) << Tcl_GetString(c.obj);
    }
    // Blanks read as a list have no elements: the list view decides.
    int length;
    Tcl_ListObjLength(nullptr, cases[1].obj, &length);
    EXPECT_EQ(OrxX_IsNullObj(cases[1].obj), 1);
    Tcl_ListObjLength(nullptr, cases[4].obj, &length);
    EXPECT_EQ(OrxX_IsNullObj(cases[4].obj), 0);
    for (auto &c : cases) {
        Tcl_DecrRefCount(c.obj);
    }
}

TEST_F(UtilTest, JoinPathAndStructOffset)
{
    Tcl_DString joined;
    Tcl_DStringInit(&joined);
    EXPECT_STREQ(OrxX_JoinPath("a/b", "c", &joined), "a/b/c");
    Tcl_DStringFree(&joined);
    EXPECT_STREQ(OrxX_JoinPath("a", "/abs", &joined), "/abs");
    Tcl_DStringFree(&joined);

    char block[256];
    EXPECT_EQ(OrxX_StructOffset(block, 200), block + 200);
}

// A command that fails, runs a nested script that succeeds and then
// reinstates the first failure; compared against one that fails directly.
int FailAfterNestedEval(ClientData, Tcl_Interp *interp, int, Tcl_Obj *const[])
{
    int code = Tcl_Eval(interp, "error boom {} {MY CODE}");
    Tcl_Obj *saved = OrxX_SaveResultErrorInfo(interp);
    Tcl_Eval(interp, "catch {error inner {} INNER}; set ::nested done");
    OrxX_RestoreResultErrorInfo(interp, saved);
    return code;
}

int FailDirectly(ClientData, Tcl_Interp *interp, int, Tcl_Obj *const[])
{
    return Tcl_Eval(interp, "error boom {} {MY CODE}");
}

TEST_F(UtilTest, SaveObjectHoldsFourElements)
{
    ASSERT_EQ(Eval("error boom {} {MY CODE}"), TCL_ERROR);
    Tcl_Obj *saved = OrxX_SaveResultErrorInfo(interp);
    EXPECT_EQ(saved->refCount, 1);
    int count;
    Tcl_Obj **elements;
    ASSERT_EQ(Tcl_ListObjGetElements(nullptr, saved, &count, &elements), TCL_OK);
    ASSERT_EQ(count, 4);
    EXPECT_STREQ(Tcl_GetString(elements[0]), "boom");
    EXPECT_EQ(std::string(Tcl_GetString(elements[1])), Var("errorInfo"));
    EXPECT_STREQ(Tcl_GetString(elements[2]), "MY CODE");
    long flags = 0;
    ASSERT_EQ(Tcl_GetLongFromObj(nullptr, elements[3], &flags), TCL_OK);
    EXPECT_EQ(flags & ~0x0EL, 0);
    EXPECT_EQ(flags & 0x0A, 0x0A);  // error in progress, error code set
    OrxX_RestoreResultErrorInfo(interp, saved);

    // Without an error: no error bits, empty variables if never set.
    Tcl_Interp *fresh = Tcl_CreateInterp();
    Tcl_ResetResult(fresh);
    Tcl_SetObjResult(fresh, Tcl_NewStringObj("fine", -1));
    saved = OrxX_SaveResultErrorInfo(fresh);
    ASSERT_EQ(Tcl_ListObjGetElements(nullptr, saved, &count, &elements), TCL_OK);
    ASSERT_EQ(Tcl_GetLongFromObj(nullptr, elements[3], &flags), TCL_OK);
    EXPECT_EQ(flags, 0);
    EXPECT_STREQ(Tcl_GetString(elements[0]), "fine");
    OrxX_RestoreResultErrorInfo(fresh, saved);
    Tcl_DeleteInterp(fresh);
}

TEST_F(UtilTest, RestoreReinstatesAnErrorAcrossANestedEval)
{
    const char *script = "list [catch {p failing} m] $m $::errorInfo $::errorCode";
    ASSERT_EQ(Eval("proc p {cmd} {$cmd}"), TCL_OK);
    Tcl_CreateObjCommand(interp, "failing", FailDirectly, nullptr, nullptr);
    ASSERT_EQ(Eval(script), TCL_OK);
    std::string direct = Result();
    Tcl_CreateObjCommand(interp, "failing", FailAfterNestedEval, nullptr, nullptr);
    ASSERT_EQ(Eval(script), TCL_OK);
    EXPECT_EQ(Result(), direct);
    EXPECT_EQ(Var("nested"), "done");

    // Straight after the restore the error is still open for additions.
    ASSERT_EQ(Eval("error boom {} {MY CODE}"), TCL_ERROR);
    std::string info = Var("errorInfo");
    Tcl_Obj *saved = OrxX_SaveResultErrorInfo(interp);
    Eval("catch {error inner {} INNER}");
    OrxX_RestoreResultErrorInfo(interp, saved);
    EXPECT_EQ(Result(), "boom");
    EXPECT_EQ(Var("errorInfo"), info);
    EXPECT_EQ(Var("errorCode"), "MY CODE");
    Tcl_AddErrorInfo(interp, "\n    (extra context)");
    EXPECT_EQ(Var("errorInfo"), info + "\n    (extra context)");
}

TEST_F(UtilTest, RestoreAfterSuccessHidesTheNestedError)
{
    ASSERT_EQ(Eval("set ::errorInfo {old info}; set ::errorCode {OLD}; set x ok"), TCL_OK);
    Tcl_Obj *saved = OrxX_SaveResultErrorInfo(interp);
    EXPECT_EQ(Eval("error inner {} INNER"), TCL_ERROR);
    OrxX_RestoreResultErrorInfo(interp, saved);
    EXPECT_EQ(Result(), "ok");
    EXPECT_EQ(Var("errorInfo"), "old info");
    EXPECT_EQ(Var("errorCode"), "OLD");
}

// A child process restores a malformed save object; it must stop with the
// panic text on stderr.  (Forked by hand: gtest's death-test regex would be
// compiled against Tcl's private regex.h, which shadows the system one.)
TEST_F(UtilTest, MalformedSaveObjectPanics)
{
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(pipeFds[0]);
        dup2(pipeFds[1], 2);
        Tcl_Obj *bad = Tcl_NewStringObj("a b c", -1);
        Tcl_IncrRefCount(bad);
        OrxX_RestoreResultErrorInfo(interp, bad);
        _exit(0);
    }
    close(pipeFds[1]);
    std::string err;
    char buffer[256];
    for (ssize_t n; (n = read(pipeFds[0], static_cast<void *>(buffer), sizeof buffer)) > 0;) {
        err.append(buffer, size_t(n));
    }
    close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_NE(err.find("invalid OrxX result save object"), std::string::npos) << err;
}

}  // namespace
