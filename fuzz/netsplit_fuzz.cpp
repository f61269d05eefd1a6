// Fuzzes orx:MorvaListSplit: the first byte picks the options, the rest is
// the netlist text.  Whatever the text, the command succeeds with a list of
// the expected shape: fields in groups, or one group per statement.
#include <tcl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_script.h"
#include "orx_netsplit.h"

namespace {

void Check(bool ok, const char *what)
{
    FuzzCheck(ok, "netsplit", what);
}

Tcl_Interp *TheInterp()
{
    return FuzzPlainInterp();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    static const char *const kOptions[] = {"-fullpath", "-path", "-instance", "-nodes", "-arguments"};
    unsigned bits = data[0];
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    text = text.c_str(); // command words are C strings
    for (const char *option : {"-fullpath", "-path", "-instance", "-nodes", "-arguments",
                               "-netlist"}) {
        if (text == option) {
            return 0; // an option word is never the text
        }
    }
    std::vector<const char *> argv{"orx:MorvaListSplit"};
    int fields = 0;
    for (int i = 0; i < 5; ++i) {
        if ((bits & (1u << i)) && !(i > 0 && i < 3 && (bits & 1u))) {
            argv.push_back(kOptions[i]);
            ++fields;
        }
    }
    bool netlist = (bits & 0x20) != 0;
    if (netlist) {
        argv.push_back("-netlist");
    }
    argv.push_back(text.c_str());
    Tcl_Interp *interp = TheInterp();
    int code = Orx_MorvaListSplitCmd(nullptr, interp, static_cast<int>(argv.size()), argv.data());
    Check(code == TCL_OK, "command failed");
    Tcl_Obj *result = Tcl_GetObjResult(interp);
    int count;
    Check(Tcl_ListObjLength(nullptr, result, &count) == TCL_OK, "result is no list");
    int perStatement = fields == 0 ? 3 : fields;
    if (netlist && fields != 1) {
        Tcl_Obj **groups;
        Tcl_ListObjGetElements(nullptr, result, &count, &groups);
        for (int i = 0; i < count; ++i) {
            int n;
            Check(Tcl_ListObjLength(nullptr, groups[i], &n) == TCL_OK, "group is no list");
            Check(n == perStatement, "group of the wrong size");
        }
    } else {
        Check(count % perStatement == 0, "fields not in whole groups");
    }
    Tcl_ResetResult(interp);
    return 0;
}
