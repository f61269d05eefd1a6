// Fuzzes the argument-table parsers with random word vectors against fixed
// tables.  Byte 0 picks the flags, the rest is split at newlines into words.
// Both parsers must keep the left-over words an in-order subset of the input
// and never write outside the arrays; over a table without numbers (whose
// rules differ on purpose) they must agree on everything.
#include <tcl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "orx_argv.h"

namespace {

Tcl_Interp *interp;

void Check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "argv fuzz: %s\n", what);
        std::abort();
    }
}

struct Values {
    int constant = 0;
    int number = 0;
    double real = 0;
    const char *text = nullptr;
    int rest = -1;
    int func = 0;
    std::string pair;
};

// Takes the next word when it starts with a digit.
int Func(void *dst, const char *, const char *next)
{
    if (next != nullptr && next[0] >= '0' && next[0] <= '9') {
        ++*static_cast<int *>(dst);
        return 1;
    }
    return 0;
}

// Takes up to two words, fails on the word "fail".
template <typename Word>
int Gen(std::string *pair, Tcl_Interp *ip, int count, Word *words, const char *(*text)(Word))
{
    int take = count < 2 ? count : 2;
    for (int i = 0; i < take; ++i) {
        if (std::strcmp(text(words[i]), "fail") == 0) {
            Tcl_AppendResult(ip, "gen failed", nullptr);
            return -1;
        }
        pair->append(text(words[i])).append(",");
    }
    std::memmove(words, words + take, sizeof(Word) * (count - take));
    return count - take;
}
const char *StrText(const char *w) { return w; }
const char *ObjText(Tcl_Obj *w) { return Tcl_GetString(w); }
int GenStr(void *dst, Tcl_Interp *ip, const char *, int argc, const char **argv)
{
    return Gen(static_cast<std::string *>(dst), ip, argc, argv, StrText);
}
int GenObj(void *dst, Tcl_Interp *ip, const char *, int objc, Tcl_Obj **objv)
{
    return Gen(static_cast<std::string *>(dst), ip, objc, objv, ObjText);
}

std::vector<Orx_ArgvInfo> Table(Values *v, bool numbers, void *gen)
{
    std::vector<Orx_ArgvInfo> t = {
        {"-const", ORX_ARGV_CONSTANT, reinterpret_cast<void *>(intptr_t{5}), &v->constant, "c"},
        {"-text", ORX_ARGV_STRING, nullptr, &v->text, "t"},
        {"-ter", ORX_ARGV_FUNC, reinterpret_cast<void *>(&Func), &v->func, "f"},
        {"-gen", ORX_ARGV_GENFUNC, gen, &v->pair, "g"},
        {nullptr, ORX_ARGV_HELP, nullptr, nullptr, "section"},
        {"--", ORX_ARGV_REST, nullptr, &v->rest, "r"},
        {"-hat", ORX_ARGV_CONSTANT, nullptr, &v->constant, "h"},
        {"x", ORX_ARGV_CONSTANT, nullptr, &v->constant, "x"},
    };
    if (numbers) {
        t.push_back({"-num", ORX_ARGV_INT, nullptr, &v->number, "n"});
        t.push_back({"-real", ORX_ARGV_FLOAT, nullptr, &v->real, "d"});
    }
    t.push_back({nullptr, ORX_ARGV_END, nullptr, nullptr, nullptr});
    return t;
}

struct Outcome {
    int status;
    std::string result;
    std::vector<std::string> left;
    Values values;
};

// Left-over words must be the input's, in order; the first stays first
// unless it is parsed too.
void CheckLeftOver(const std::vector<std::string> &input, const std::vector<std::string> &left,
                   int flags)
{
    Check(left.size() <= input.size(), "more words left than given");
    size_t j = 0;
    for (const std::string &word : left) {
        while (j < input.size() && input[j] != word) {
            ++j;
        }
        Check(j < input.size(), "left-over word not from the input, or out of order");
        ++j;
    }
    if (!(flags & ORX_ARGV_DONT_SKIP_FIRST_ARG) && !input.empty()) {
        Check(!left.empty() && left[0] == input[0], "first word not kept");
    }
}

Outcome RunStrings(const std::vector<std::string> &input, int flags, bool numbers)
{
    Outcome out;
    auto table = Table(&out.values, numbers, reinterpret_cast<void *>(&GenStr));
    const char **argv = new const char *[input.size() + 1];
    for (size_t i = 0; i < input.size(); ++i) {
        argv[i] = input[i].c_str();
    }
    argv[input.size()] = nullptr;
    int count = static_cast<int>(input.size());
    Tcl_ResetResult(interp);
    out.status = Orx_ParseArgv(interp, &count, argv, table.data(), flags);
    out.result = Tcl_GetStringResult(interp);
    if (out.status == TCL_OK) {
        Check(count >= 0 && argv[count] == nullptr, "no terminator");
        for (int i = 0; i < count; ++i) {
            out.left.push_back(argv[i]);
        }
        CheckLeftOver(input, out.left, flags);
    }
    delete[] argv;
    return out;
}

Outcome RunObjects(const std::vector<std::string> &input, int flags, bool numbers)
{
    Outcome out;
    auto table = Table(&out.values, numbers, reinterpret_cast<void *>(&GenObj));
    // Exactly as many entries as words: a write beyond is caught.
    Tcl_Obj **objv = new Tcl_Obj *[input.size()];
    std::vector<Tcl_Obj *> held;
    for (size_t i = 0; i < input.size(); ++i) {
        objv[i] = Tcl_NewStringObj(input[i].data(), static_cast<int>(input[i].size()));
        Tcl_IncrRefCount(objv[i]);
        held.push_back(objv[i]);
    }
    int count = static_cast<int>(input.size());
    Tcl_ResetResult(interp);
    out.status = Orx_ParseArgsObjv(interp, &count, objv, table.data(), flags);
    out.result = Tcl_GetStringResult(interp);
    if (out.status == TCL_OK) {
        for (int i = 0; i < count; ++i) {
            int n;
            const char *s = Tcl_GetStringFromObj(objv[i], &n);
            out.left.emplace_back(s, n);
        }
        CheckLeftOver(input, out.left, flags);
    }
    std::string text = out.values.text != nullptr ? out.values.text : "";
    for (Tcl_Obj *obj : held) {
        Tcl_DecrRefCount(obj);
    }
    delete[] objv;
    out.values.text = nullptr;
    if (!text.empty()) {
        out.values.pair.append("|text=").append(text);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***argv)
{
    Tcl_FindExecutable((*argv)[0]);
    interp = Tcl_CreateInterp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 4096) {
        return 0;
    }
    int flags = data[0] & 0xF;
    std::vector<std::string> words;
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    size_t start = 0;
    while (start <= text.size() && !text.empty()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) {
            nl = text.size();
        }
        // C strings end at a zero byte; Tcl's own text never holds one.
        words.push_back(text.substr(start, nl - start).c_str());
        start = nl + 1;
    }
    RunStrings(words, flags, true);
    RunObjects(words, flags, true);

    Outcome s = RunStrings(words, flags, false);
    Outcome o = RunObjects(words, flags, false);
    std::string sText = s.values.text != nullptr ? s.values.text : "";
    if (!sText.empty()) {
        s.values.pair.append("|text=").append(sText);
    }
    Check(s.status == o.status, "parsers disagree on the status");
    Check(s.result == o.result, "parsers disagree on the message");
    Check(s.left == o.left, "parsers disagree on the left-over words");
    Check(s.values.constant == o.values.constant && s.values.rest == o.values.rest &&
              s.values.func == o.values.func && s.values.pair == o.values.pair,
          "parsers disagree on the stored values");
    return 0;
}
