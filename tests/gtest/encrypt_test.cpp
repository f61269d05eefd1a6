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
    // DecryptString on text with a token it must refuse: the text is left as it was.
    void ExpectRefused(const std::string &text, int token,
                       const char *message = "Illegal use of encryption.")
    {
        Tcl_DString ds;
        Tcl_DStringInit(&ds);
        Tcl_DStringAppend(&ds, text.c_str(), -1);
        EXPECT_EQ(DecryptString(interp_, token, &ds), TCL_ERROR) << token;
        EXPECT_EQ(Result(), message);
        EXPECT_EQ(std::string(Tcl_DStringValue(&ds), Tcl_DStringLength(&ds)), text);
        Tcl_DStringFree(&ds);
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

TEST_F(Encrypt, TokenNotSetByTheLibraryIsRefusedAndServesOneCall)
{
    std::string text = Eval("encrypt 4 {a package}");
    ASSERT_EQ(text.rfind("%ENCRYPTED%", 0), 0u) << text;
    for (int token : {-1, 0, 1, RAND_MAX}) {
        ExpectRefused(text, token);
    }
    // Spent by one decrypt, whether it succeeds or not; the text stays as it was.
    const struct {
        std::string text, result;
        unsigned seed;
    } cases[] = {{text, "a package       ", 2024},
                 {text.substr(0, text.size() - 16), "ERROR: Corrupted encrypted data.", 7}};
    for (const auto &c : cases) {
        int used = NextLibraryToken(c.seed);
        EXPECT_EQ(Eval("decrypt {" + c.text + "}"), c.result);
        ExpectRefused(c.text, used);
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
    ExpectRefused(text, 0, message.c_str() + 7);
}
} // namespace
