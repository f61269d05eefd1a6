// DecryptString as other libraries call it: the call token, the text left
// alone on failure, and interpreters without a base key.
#include <cstdint>
#include <cstdlib>
#include "orx_init.h"
#include "orx_library.h"
#include "tests/support/interp_fixture.h"

namespace {
uint32_t testKey[2] = {0x4f72785fu, 0x6b657931u};
class Encrypt : public orxtest::InterpTest {
protected:
    void SetUp() override
    {
        InterpTest::SetUp();
        Orx_TclCmdInit(interp_);
        Tcl_SetAssocData(interp_, ORX_KEY_ASSOC, nullptr, testKey);
    }
    // DecryptString on text with the given token; the text after the call.
    int Decrypt(const std::string &text, int token, std::string *after)
    {
        Tcl_DString ds;
        Tcl_DStringInit(&ds);
        Tcl_DStringAppend(&ds, text.c_str(), -1);
        int code = DecryptString(interp_, token, &ds);
        after->assign(Tcl_DStringValue(&ds), Tcl_DStringLength(&ds));
        Tcl_DStringFree(&ds);
        return code;
    }
};
// The library draws its tokens from rand(): the value the next one takes.
int NextLibraryToken(unsigned seed)
{
    std::srand(seed);
    int token = std::rand();
    std::srand(seed);
    return token;
}
TEST_F(Encrypt, TokenNotSetByTheLibraryIsRefused)
{
    std::string text = Eval("encrypt 4 {a package}");
    ASSERT_EQ(text.rfind("%ENCRYPTED%", 0), 0u) << text;
    for (int token : {-1, 0, 1, RAND_MAX}) {
        std::string after;
        EXPECT_EQ(Decrypt(text, token, &after), TCL_ERROR);
        EXPECT_STREQ(Tcl_GetStringResult(interp_), "Illegal use of encryption.");
        EXPECT_EQ(after, text);
    }
}
// Spent by one decrypt, whether it succeeds or not; the text stays as it was.
TEST_F(Encrypt, TokenServesOneCall)
{
    std::string text = Eval("encrypt 4 {a package}");
    const struct {
        std::string text, result;
        unsigned seed;
    } cases[] = {{text, "a package       ", 2024},
                 {text.substr(0, text.size() - 16), "ERROR: Corrupted encrypted data.", 7}};
    for (const auto &c : cases) {
        int used = NextLibraryToken(c.seed);
        EXPECT_EQ(Eval("decrypt {" + c.text + "}"), c.result);
        std::string after;
        EXPECT_EQ(Decrypt(c.text, used, &after), TCL_ERROR);
        EXPECT_STREQ(Tcl_GetStringResult(interp_), "Illegal use of encryption.");
        EXPECT_EQ(after, c.text);
    }
}
TEST_F(Encrypt, NoBaseKey)
{
    std::string text = Eval("encrypt 4 abc");
    Tcl_DeleteAssocData(interp_, ORX_KEY_ASSOC);
    const std::string message =
        "ERROR: no base key for encrypted text: the interpreter has no \"key\" association";
    EXPECT_EQ(Eval("encrypt 4 abc"), message);
    EXPECT_EQ(Eval("decrypt {" + text + "}"), message);
    std::string after;
    EXPECT_EQ(Decrypt(text, 0, &after), TCL_ERROR);
    EXPECT_EQ(after, text);
}
} // namespace
