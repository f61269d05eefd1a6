// Fuzzes the command-line splitter: the block it returns must hold every
// argument inside itself and be freed by one Tcl_Free; and quoting an
// argument vector (NUL-separated in the input) for the raw line, then
// splitting that line, must give the vector back.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <tcl.h>

#include "orx_getopt.h"
// The quoting side lives in the library's hidden platform layer, linked in
// from its static library.
#include "platform/orxplat.h"

namespace {

std::vector<std::string> SplitChecked(const std::string &line)
{
    int argc = -1;
    char **argv = nullptr;
    OrxX_SplitCmdLineText(line.c_str(), &argc, &argv);
    if (argc < 0 || argv == nullptr || argv[argc] != nullptr) {
        abort();
    }
    size_t textSize = 0;
    std::vector<std::string> out;
    for (int i = 0; i < argc; i++) {
        out.emplace_back(argv[i]);
        textSize += out.back().size() + 1;
    }
    if (textSize > line.size() + 1) {
        abort();  // more text than the line could have produced
    }
    Tcl_Free(reinterpret_cast<char *>(argv));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***argv)
{
    Tcl_FindExecutable((*argv)[0]);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string raw(reinterpret_cast<const char *>(data), size);
    SplitChecked(raw.c_str());

    std::vector<std::string> args;
    size_t start = 0;
    for (size_t i = 0; i <= raw.size(); i++) {
        if (i == raw.size() || raw[i] == '\0') {
            args.push_back(raw.substr(start, i - start));
            start = i + 1;
        }
    }
    if (SplitChecked(OrxPlat_JoinCmdLine(args)) != args) {
        abort();
    }
    return 0;
}
