// Fuzzes orx:StrJoin and orx:StrSplit: the first byte picks the options and
// the search text's length, the rest is search text and string.  Without
// quotes or braces, split must give exactly Tcl's split on the search text
// and join must give Tcl's string map; always a list from split.
#include <tcl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_script.h"
#include "orx_strpath.h"

namespace {

void Check(bool ok, const char *what)
{
    FuzzCheck(ok, "strjoin", what);
}

Tcl_Interp *TheInterp()
{
    return FuzzPlainInterp();
}

std::string Replace(const std::string &text, const std::string &search, const std::string &with)
{
    std::string out;
    size_t start = 0;
    for (size_t at; (at = text.find(search, start)) != std::string::npos; start = at + search.size()) {
        out.append(text, start, at - start).append(with);
    }
    return out.append(text, start, std::string::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) {
        return 0;
    }
    unsigned bits = data[0];
    std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    rest = rest.c_str();
    size_t searchLength = 1 + (bits >> 5);
    if (rest.size() < searchLength) {
        return 0;
    }
    std::string search = rest.substr(0, searchLength);
    std::string text = rest.substr(searchLength);
    Tcl_Interp *interp = TheInterp();

    std::vector<const char *> split{"orx:StrSplit"};
    if (bits & 1) split.push_back("-rmleadstr");
    if (bits & 2) split.push_back("-rmlistbrc");
    if (bits & 4) split.push_back("-extended_id");
    split.push_back(text.c_str());
    split.push_back(search.c_str());
    Check(Orx_StrSplitCmd(nullptr, interp, static_cast<int>(split.size()), split.data()) == TCL_OK,
          "split failed");
    Tcl_Obj *pieces = Tcl_DuplicateObj(Tcl_GetObjResult(interp));
    Tcl_IncrRefCount(pieces);
    int count;
    Check(Tcl_ListObjLength(nullptr, pieces, &count) == TCL_OK, "split result is no list");

    std::vector<const char *> join{"orx:StrJoin"};
    if (bits & 8) join.push_back("-addleadstr");
    if (bits & 2) join.push_back("-rmlistbrc");
    join.push_back(text.c_str());
    join.push_back("<J>");
    join.push_back(search.c_str());
    Check(Orx_StrJoinCmd(nullptr, interp, static_cast<int>(join.size()), join.data()) == TCL_OK,
          "join failed");
    std::string joined = Tcl_GetStringResult(interp);

    bool plain = text.find_first_of("\"{}\\") == std::string::npos &&
                 search.find_first_of("\"{}\\") == std::string::npos;
    if (plain && !text.empty()) {
        std::string want = Replace(text, search, "<J>");
        if (bits & 8) {
            want = "<J>" + want;
        }
        Check(joined == want, "join differs from plain replacement");
        // Tcl's split on a multi-character search text would split on each
        // character; compare with the pieces between whole matches.
        std::vector<std::string> expected;
        size_t start = 0;
        for (size_t at; (at = text.find(search, start)) != std::string::npos;
             start = at + search.size()) {
            if (!(at == 0 && (bits & 1))) {
                expected.push_back(text.substr(start, at - start));
            }
        }
        expected.push_back(text.substr(start));
        Tcl_Obj **elems;
        Tcl_ListObjGetElements(nullptr, pieces, &count, &elems);
        Check(count == static_cast<int>(expected.size()), "split count differs");
        for (int i = 0; i < count; ++i) {
            Check(expected[i] == Tcl_GetString(elems[i]), "split piece differs");
        }
    }
    Tcl_DecrRefCount(pieces);
    Tcl_ResetResult(interp);
    return 0;
}
