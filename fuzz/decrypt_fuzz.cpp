// Fuzzes decryption of outside text: decrypt (and so DecryptString) and
// decrypt -morva on arbitrary text, with and without the marker in front;
// encrypt then decrypt must give the text back with its blank filling.
#include <tcl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "orx_library.h"

namespace {

uint32_t fuzzKey[2] = {0x4f72785fu, 0x6b657931u};

Tcl_Interp *TheInterp()
{
    static Tcl_Interp *interp = [] {
        Tcl_FindExecutable(nullptr);
        Tcl_Interp *i = Tcl_CreateInterp();
        Tcl_SetAssocData(i, ORX_KEY_ASSOC, nullptr, fuzzKey);
        return i;
    }();
    return interp;
}

void Check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "decrypt fuzz: %s\n", what);
        std::abort();
    }
}

int Call(Tcl_CmdProc *proc, std::initializer_list<const char *> args)
{
    const char *argv[4];
    int argc = 0;
    for (const char *a : args) {
        argv[argc++] = a;
    }
    return proc(nullptr, TheInterp(), argc, argv);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Tcl_Interp *interp = TheInterp();
    // Command arguments are C strings: cut at a zero byte.
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.c_str();
    for (const std::string &candidate : {text, "%ENCRYPTED%" + text}) {
        int code = Call(Orx_DecryptCmd, {"decrypt", candidate.c_str()});
        Check(code == TCL_OK || code == TCL_ERROR, "decrypt status");
        code = Call(Orx_DecryptCmd, {"decrypt", "-morva", candidate.c_str()});
        Check(code == TCL_OK || code == TCL_ERROR, "decrypt -morva status");
        Tcl_ResetResult(interp);
    }

    // Round trips.
    char seed[16];
    std::snprintf(seed, sizeof seed, "%u", size > 0 ? static_cast<unsigned>(data[0]) * 7919u : 0u);
    Check(Call(Orx_EncryptCmd, {"encrypt", seed, text.c_str()}) == TCL_OK, "encrypt failed");
    std::string encrypted = Tcl_GetStringResult(interp);
    Check(encrypted.size() == 19 + 16 * ((text.size() + 7) / 8 + 3), "encrypted length");
    Check(Call(Orx_DecryptCmd, {"decrypt", encrypted.c_str()}) == TCL_OK, "own text rejected");
    std::string plain = Tcl_GetStringResult(interp);
    Check(plain == text + std::string((8 - text.size() % 8) % 8, ' '), "round trip");
    // Every shorter text must be refused without reading past its end.
    std::string cut = encrypted.substr(0, encrypted.size() - 1 - (size % 16));
    Check(Call(Orx_DecryptCmd, {"decrypt", cut.c_str()}) == TCL_ERROR, "cut text accepted");

    Check(Call(Orx_EncryptCmd, {"encrypt", "-morva", text.c_str()}) == TCL_OK, "encrypt -morva");
    std::string framed = Tcl_GetStringResult(interp);
    Check(Call(Orx_DecryptCmd, {"decrypt", "-morva", framed.c_str()}) == TCL_OK, "own -morva text");
    Check(text == Tcl_GetStringResult(interp), "-morva round trip");
    Tcl_ResetResult(interp);
    return 0;
}
