// The type-map parser of the enumerated-type registry on arbitrary text.  The
// text is only checked: merging fuzzed names would grow the process-wide
// registry without bound.
#include <tcl.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "orx_etp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<char> text(data, data + size);
    char *errors = nullptr;
    int n = etpLoadTypeMapText(text.data(), text.size(), "fuzz.tq",
                               ETP_LOAD_CHECK | ETP_LOAD_QUIET, &errors);
    if ((n == 0) != (errors == nullptr)) {
        __builtin_trap();
    }
    if (errors != nullptr) {
        (void)std::strlen(errors);
        Tcl_Free(errors);
    }
    return 0;
}
