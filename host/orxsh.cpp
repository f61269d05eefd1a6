// orxsh: the Orx shell.  The host's part is the start-up callback, which also
// installs the base key of encrypted script text; the shell itself (options,
// command loop, exits) is OrxSh_Main in the library.
#include <tcl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "orx_init.h"
#include "orx_library.h"
#include "orx_shell.h"
#include "tq_tessary.h"

namespace {

// The built-in base key ("Orx_", "key1"); the configuration store's
// [ORXSH] BASE_KEY = <k0> <k1> (two hex words) replaces it.
uint32_t baseKey[2] = {0x4f72785fu, 0x6b657931u};

// Two hex words separated by blanks, each within 32 bits; key untouched on failure.
bool ParseKey(const char *text, uint32_t key[2])
{
    char *end;
    unsigned long long k0 = std::strtoull(text, &end, 16);
    if (end == text) {
        return false;
    }
    const char *second = end;
    unsigned long long k1 = std::strtoull(second, &end, 16);
    while (*end == ' ' || *end == '\t') {
        ++end;
    }
    if (end == second || *end != '\0' || k0 > 0xffffffffu || k1 > 0xffffffffu) {
        return false;
    }
    key[0] = static_cast<uint32_t>(k0);
    key[1] = static_cast<uint32_t>(k1);
    return true;
}

// A malformed configured key is reported and the built-in one kept.
void ConfiguredKey()
{
    const char *text = mcf_getString("ORXSH", "BASE_KEY", 1);
    if (text != nullptr && !ParseKey(text, baseKey)) {
        std::fprintf(stderr, "orxsh: [ORXSH] BASE_KEY must be two hexadecimal words; "
                             "the built-in key is used\n");
    }
}

// Orx_Init with the base key installed first.
int OrxWithKey(Tcl_Interp *interp)
{
    Tcl_SetAssocData(interp, ORX_KEY_ASSOC, nullptr, baseKey);
    if (Orx_Init(interp) != TCL_OK) {
        return TCL_ERROR;
    }
    // The store is found through MORVA_HOME, which Orx_Init may have supplied.
    ConfiguredKey();
    return TCL_OK;
}

// The shell's start-up callback: Tcl, ~/.orxshrc, then Orx with its key.
int AppInit(Tcl_Interp *interp)
{
    if (Tcl_Init(interp) != TCL_OK) {
        return TCL_ERROR;
    }
    Tcl_SetVar2(interp, "tcl_rcFileName", nullptr, "~/.orxshrc", TCL_GLOBAL_ONLY);
    if (OrxWithKey(interp) != TCL_OK) {
        return TCL_ERROR;
    }
    // Linked in: "load {} Orx child" makes a further Orx interpreter, with
    // the base key as well.
    Tcl_StaticPackage(interp, "Orx", OrxWithKey, nullptr);
    return TCL_OK;
}

} // namespace

int main(int argc, char **argv)
{
    OrxSh_Main(argc, argv, AppInit);
}
