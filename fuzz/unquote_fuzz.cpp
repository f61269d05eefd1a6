// Fuzzes Orx_UnQuoteName and Orx_Pathsplit: the result never grows, never
// reads past the name, and agrees with a plain model that rebuilds the
// string step by step as the rule describes.
#include <tcl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "orx_strpath.h"

namespace {

void Check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "unquote fuzz: %s\n", what);
        std::abort();
    }
}

// The rule, applied to a string that really moves.
std::string Model(std::string s)
{
    for (size_t i = 0; i + 1 < s.size();) {
        if (s[i] == '@' && s[i + 1] == '"') {
            size_t close = s.find('"', i + 2);
            if (close == std::string::npos) {
                break;
            }
            s.erase(close, 1);
            s.erase(i, 2);
            ++i;
            continue;
        }
        ++i;
    }
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string input(reinterpret_cast<const char *>(data), size);
    input = input.c_str();
    // An exact-size heap copy, so a read past the end is caught.
    char *name = static_cast<char *>(std::malloc(input.size() + 1));
    std::memcpy(name, input.c_str(), input.size() + 1);
    Check(Orx_UnQuoteName(name) == name, "wrong pointer returned");
    Check(Model(input) == name, "differs from the model");
    std::free(name);

    Tcl_DString out;
    Tcl_DStringInit(&out);
    Orx_Pathsplit(input.c_str(), input.empty() ? '/' : input[0], static_cast<int>(size & 1), &out);
    int count;
    const char **elems;
    Check(Tcl_SplitList(nullptr, Tcl_DStringValue(&out), &count, &elems) == TCL_OK,
          "pathsplit result is no list");
    Tcl_Free(reinterpret_cast<char *>(elems));
    Tcl_DStringFree(&out);
    return 0;
}
