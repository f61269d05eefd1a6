// Fuzzes the keyed-list parser: arbitrary text is read as both keyed-list
// types; what parses must rebuild a text that parses to the same entries, and
// get/set/delete with keys taken from the input must keep that true, through
// the C interface and through the commands inside a procedure.
#include <tcl.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "orx_keylist.h"

namespace {

Tcl_Interp *TheInterp()
{
    static Tcl_Interp *interp = [] {
        Tcl_FindExecutable(nullptr);
        Tcl_Interp *i = Tcl_CreateInterp();
        OrxXKeyedListInit(i);
        // The commands in a procedure (list variable in a slot), the key one
        // object reused by every call (its parsed form, remembered positions).
        const char *body = R"(
            set l $text
            for {set i 0} {$i < 3} {incr i} {
                if {![catch {@set l $key $i}]} {
                    if {[catch {@get l $key} v] || $v ne $i} {return "set value not read back"}
                    if {$i == 1 && ![catch {@del l $key}] && ![catch {@get l $key}]} {
                        return "deleted key still found"
                    }
                }
                @keys l
            }
            return ok)";
        for (const char *prefix : {"", "g"}) {
            std::string b = body;
            for (const char *op : {"get", "set", "del", "keys"}) {
                std::string from = std::string("@") + op;
                std::string to = std::string(prefix) + "keyl" + op;
                for (size_t at; (at = b.find(from)) != std::string::npos;) {
                    b.replace(at, from.size(), to);
                }
            }
            std::string script = std::string("proc ") + prefix + "fuzzcmds {text key} {" + b + "}";
            Tcl_Eval(i, script.c_str());
        }
        return i;
    }();
    return interp;
}

void Check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "keylist fuzz: %s\n", what);
        std::abort();
    }
}

using GetFn = int (*)(Tcl_Interp *, Tcl_Obj *, const char *, Tcl_Obj **);
using SetFn = int (*)(Tcl_Interp *, Tcl_Obj *, const char *, Tcl_Obj *);
using DelFn = int (*)(Tcl_Interp *, Tcl_Obj *, const char *);
using KeysFn = int (*)(Tcl_Interp *, Tcl_Obj *, const char *, Tcl_Obj **);

struct Ops {
    const char *type;
    GetFn get;
    SetFn set;
    DelFn del;
    KeysFn keys;
};

const Ops kPlain = {"keyedList", OrxX_KeyedListGet, OrxX_KeyedListSet, OrxX_KeyedListDelete,
                    OrxX_KeyedListGetKeys};
const Ops kGeneric = {"genericKeyedList", OrxX_GenericKeyedListGet, OrxX_GenericKeyedListSet,
                      OrxX_GenericKeyedListDelete, OrxX_GenericKeyedListGetKeys};

// Same top-level keys, in order, with the same value texts.
void CheckSameEntries(Tcl_Interp *interp, const Ops &ops, Tcl_Obj *a, Tcl_Obj *b)
{
    Tcl_Obj *ka = nullptr;
    Tcl_Obj *kb = nullptr;
    Check(ops.keys(interp, a, nullptr, &ka) == TCL_OK, "keys of parsed list");
    Tcl_IncrRefCount(ka);
    Check(ops.keys(interp, b, nullptr, &kb) == TCL_OK, "keys of reparsed list");
    Tcl_IncrRefCount(kb);
    Check(std::strcmp(Tcl_GetString(ka), Tcl_GetString(kb)) == 0, "keys differ after round trip");
    int n;
    Tcl_Obj **keys;
    Tcl_ListObjGetElements(nullptr, ka, &n, &keys);
    for (int i = 0; i < n; i++) {
        Tcl_Obj *va = nullptr;
        Tcl_Obj *vb = nullptr;
        const char *key = Tcl_GetString(keys[i]);
        if (std::strcmp(ops.type, "keyedList") == 0 && std::strchr(key, '.') != nullptr) {
            Check(false, "plain list holds a dotted key");
        }
        Check(ops.get(interp, a, key, &va) == TCL_OK, "listed key not found");
        Check(ops.get(interp, b, key, &vb) == TCL_OK, "listed key not found after round trip");
        int la, lb;
        const char *sa = Tcl_GetStringFromObj(va, &la);
        const char *sb = Tcl_GetStringFromObj(vb, &lb);
        Check(la == lb && std::memcmp(sa, sb, la) == 0, "value differs after round trip");
    }
    Tcl_DecrRefCount(ka);
    Tcl_DecrRefCount(kb);
}

// A fresh object holding the rebuilt text of obj.
Tcl_Obj *Reparsed(Tcl_Obj *obj)
{
    Tcl_InvalidateStringRep(obj);
    int len;
    const char *text = Tcl_GetStringFromObj(obj, &len);
    Tcl_Obj *copy = Tcl_NewStringObj(text, len);
    Tcl_IncrRefCount(copy);
    return copy;
}

void Exercise(Tcl_Interp *interp, const Ops &ops, const std::string &text,
              const std::string &key)
{
    const Tcl_ObjType *type = Tcl_GetObjType(ops.type);
    Tcl_Obj *obj = Tcl_NewStringObj(text.data(), static_cast<int>(text.size()));
    Tcl_IncrRefCount(obj);
    if (Tcl_ConvertToType(interp, obj, type) != TCL_OK) {
        int len;
        const char *after = Tcl_GetStringFromObj(obj, &len);
        Check(static_cast<size_t>(len) == text.size() && std::memcmp(after, text.data(), len) == 0,
              "failed parse changed the text");
        Tcl_DecrRefCount(obj);
        Tcl_ResetResult(interp);
        return;
    }
    Tcl_Obj *again = Reparsed(obj);
    Check(Tcl_ConvertToType(interp, again, type) == TCL_OK, "rebuilt text does not parse");
    CheckSameEntries(interp, ops, obj, again);

    // Changes through fuzzed keys: whatever succeeds must still round trip,
    // and a copy taken before must not see the change.
    Tcl_Obj *before = Tcl_DuplicateObj(obj);
    Tcl_IncrRefCount(before);
    Tcl_Obj *beforeText = Reparsed(before);
    Tcl_Obj *value = nullptr;
    int status = ops.get(interp, obj, key.c_str(), &value);
    Check(status == TCL_OK || status == TCL_BREAK || status == TCL_ERROR, "get status");
    status = ops.set(interp, obj, key.c_str(), Tcl_NewStringObj(key.c_str(), -1));
    if (status == TCL_OK) {
        Check(ops.get(interp, obj, key.c_str(), &value) == TCL_OK, "set key not found");
        Check(std::strcmp(Tcl_GetString(value), key.c_str()) == 0, "set value not read back");
    }
    Tcl_Obj *keys = nullptr;
    if (ops.keys(interp, obj, key.c_str(), &keys) == TCL_OK) {
        Tcl_DecrRefCount(Tcl_NewListObj(1, &keys));
    }
    status = ops.del(interp, obj, key.c_str());
    if (status == TCL_OK) {
        Check(ops.get(interp, obj, key.c_str(), &value) != TCL_OK, "deleted key still found");
    }
    Tcl_Obj *after = Reparsed(obj);
    Check(Tcl_ConvertToType(interp, after, type) == TCL_OK, "changed list does not parse");
    CheckSameEntries(interp, ops, obj, after);
    Tcl_InvalidateStringRep(before);
    Check(std::strcmp(Tcl_GetString(before), Tcl_GetString(beforeText)) == 0,
          "copy changed through the original");

    Tcl_DecrRefCount(after);
    Tcl_DecrRefCount(beforeText);
    Tcl_DecrRefCount(before);
    Tcl_DecrRefCount(again);
    Tcl_DecrRefCount(obj);
    Tcl_ResetResult(interp);
}

void ExerciseCommands(Tcl_Interp *interp, bool generic, const std::string &text,
                      const std::string &key)
{
    Tcl_Obj *objv[3] = {Tcl_NewStringObj(generic ? "gfuzzcmds" : "fuzzcmds", -1),
                        Tcl_NewStringObj(text.data(), static_cast<int>(text.size())),
                        Tcl_NewStringObj(key.data(), static_cast<int>(key.size()))};
    for (Tcl_Obj *obj : objv) {
        Tcl_IncrRefCount(obj);
    }
    if (Tcl_EvalObjv(interp, 3, objv, 0) == TCL_OK) {
        Check(std::strcmp(Tcl_GetStringResult(interp), "ok") == 0, Tcl_GetStringResult(interp));
    }
    for (Tcl_Obj *obj : objv) {
        Tcl_DecrRefCount(obj);
    }
    Tcl_ResetResult(interp);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Tcl_Interp *interp = TheInterp();
    // The first line (up to a newline) is the key, the rest the list text; keys
    // may be long enough for deep paths.
    std::string input(reinterpret_cast<const char *>(data), size);
    std::string key;
    std::string text = input;
    size_t nl = input.find('\n');
    if (nl != std::string::npos && nl < 8192) {
        key = input.substr(0, nl);
        text = input.substr(nl + 1);
    }
    // Commands take the key with any zero bytes; the C interface as a C string.
    ExerciseCommands(interp, false, text, key);
    ExerciseCommands(interp, true, text, key);
    key = key.c_str();
    Exercise(interp, kPlain, text, key);
    Exercise(interp, kGeneric, text, key);
    return 0;
}
