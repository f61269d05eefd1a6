// Fuzzes the string commands that parse text of their own: translit's range
// expansion, ctoken's separators, ctype's classes, and the quick reading of
// index expressions, which must agree with the expression evaluator.
// Input: byte 0 picks the command, the rest is split at 0x01 bytes into its
// arguments.
#include <tcl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "orx_string.h"
#include "orx_util.h"

namespace {

Tcl_Interp *interp;

void Check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "string fuzz: %s\n", what);
        std::abort();
    }
}

std::vector<std::string> Split(const uint8_t *data, size_t size)
{
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 1) {
            parts.emplace_back();
        } else {
            parts.back().push_back(static_cast<char>(data[i]));
        }
    }
    return parts;
}

int Run(const std::vector<Tcl_Obj *> &words)
{
    for (Tcl_Obj *w : words) {
        Tcl_IncrRefCount(w);
    }
    int code = Tcl_EvalObjv(interp, static_cast<int>(words.size()),
                            const_cast<Tcl_Obj **>(words.data()), TCL_EVAL_GLOBAL);
    for (Tcl_Obj *w : words) {
        Tcl_DecrRefCount(w);
    }
    return code;
}

Tcl_Obj *Str(const std::string &s)
{
    // Tcl_ExternalToUtf turns arbitrary bytes into valid UTF-8 as a script
    // would see them.
    Tcl_DString ds;
    Tcl_ExternalToUtfDString(nullptr, s.data(), static_cast<int>(s.size()), &ds);
    Tcl_Obj *obj = Tcl_NewStringObj(Tcl_DStringValue(&ds), Tcl_DStringLength(&ds));
    Tcl_DStringFree(&ds);
    return obj;
}

// The index expression through the evaluator alone, as the slow path does.
int Reference(const std::string &text, int length, long *value)
{
    std::string rewritten = text;
    if (text.compare(0, 3, "end") == 0) {
        rewritten = std::to_string(long(length) - 1) + text.substr(3);
    } else if (text.compare(0, 3, "len") == 0) {
        rewritten = std::to_string(long(length)) + text.substr(3);
    }
    Tcl_Obj *expr = Tcl_NewStringObj(rewritten.data(), static_cast<int>(rewritten.size()));
    Tcl_IncrRefCount(expr);
    Tcl_Obj *result = nullptr;
    int code = Tcl_ExprObj(interp, expr, &result);
    Tcl_DecrRefCount(expr);
    if (code != TCL_OK) {
        return code;
    }
    // Fractions are truncated, as the resolver documents; an integer beyond a
    // long (Tcl keeps only those as big numbers) is refused, where Tcl's long
    // reader would wrap it.
    double real;
    if (Tcl_GetLongFromObj(nullptr, result, value) == TCL_OK) {
        bool big = result->typePtr != nullptr && std::strcmp(result->typePtr->name, "bignum") == 0;
        code = big ? TCL_ERROR : TCL_OK;
    } else if (Tcl_GetDoubleFromObj(nullptr, result, &real) == TCL_OK && real == real &&
               real >= -9223372036854775808.0 && real < 9223372036854775808.0) {
        *value = static_cast<long>(real);
        code = TCL_OK;
    } else {
        code = TCL_ERROR;
    }
    Tcl_DecrRefCount(result);
    return code;
}

// Index text that cannot call commands or build huge numbers.
bool IsPlainIndex(const std::string &text)
{
    return text.size() <= 40 && text.find_first_not_of("0123456789endl+-") == std::string::npos;
}

void CheckIndex(const std::string &text, int length)
{
    if (text.empty() || !IsPlainIndex(text)) {
        return;
    }
    Tcl_Obj *obj = Tcl_NewStringObj(text.data(), static_cast<int>(text.size()));
    Tcl_IncrRefCount(obj);
    long quick = 0x5A5A;
    int quickCode = OrxX_RelativeExpr(interp, obj, length, &quick);
    Tcl_DecrRefCount(obj);
    long slow = 0x5A5A;
    int slowCode = Reference(text, length, &slow);
    Check(quickCode == slowCode, "index status differs from the evaluator");
    Check(quickCode != TCL_OK || quick == slow, "index value differs from the evaluator");
    Tcl_ResetResult(interp);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***argv)
{
    Tcl_FindExecutable((*argv)[0]);
    interp = Tcl_CreateInterp();
    OrxXStringInit(interp);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 4096) {
        return 0;
    }
    std::vector<std::string> args = Split(data + 1, size - 1);
    args.resize(4);
    switch (data[0] % 4) {
    case 0: {
        Tcl_Obj *subject = Str(args[2]);
        Tcl_IncrRefCount(subject);
        int code = Run({Tcl_NewStringObj("translit", -1), Str(args[0]), Str(args[1]), subject});
        if (code == TCL_OK) {
            int in;
            int out;
            Tcl_GetStringFromObj(subject, &in);
            Tcl_GetStringFromObj(Tcl_GetObjResult(interp), &out);
            Check(in == out, "translit changed the length");
        }
        Tcl_DecrRefCount(subject);
        break;
    }
    case 1: {
        Tcl_Obj *value = Str(args[0]);
        int before;
        Tcl_GetStringFromObj(value, &before);
        Tcl_SetVar2Ex(interp, "x", nullptr, value, 0);
        int code = Run({Tcl_NewStringObj("ctoken", -1), Tcl_NewStringObj("x", -1), Str(args[1])});
        Check(code == TCL_OK, "ctoken failed on a readable variable");
        int token;
        int rest;
        Tcl_GetStringFromObj(Tcl_GetObjResult(interp), &token);
        Tcl_GetStringFromObj(Tcl_GetVar2Ex(interp, "x", nullptr, 0), &rest);
        Check(token + rest <= before, "ctoken made text");
        break;
    }
    case 2:
        Run({Tcl_NewStringObj("ctype", -1), Tcl_NewStringObj("-failindex", -1),
             Tcl_NewStringObj("i", -1), Str(args[0]), Str(args[1])});
        break;
    default: {
        int length = args[1].empty() ? 0 : static_cast<unsigned char>(args[1][0]) - 64;
        CheckIndex(args[0], length);
        Tcl_Obj *subject = Str(args[2]);
        Tcl_IncrRefCount(subject);
        if (IsPlainIndex(args[0]) && IsPlainIndex(args[3])) {
            Run({Tcl_NewStringObj("crange", -1), subject, Str(args[0]), Str(args[3])});
            Run({Tcl_NewStringObj("cindex", -1), subject, Str(args[0])});
        }
        Tcl_DecrRefCount(subject);
        break;
    }
    }
    Tcl_ResetResult(interp);
    return 0;
}
