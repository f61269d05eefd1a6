// Argument tables: Orx_ParseArgv and Orx_ParseArgsObjv match a command's
// words against a caller's table of options and the generic "-help", store
// the values and leave the other words in place.  One parser serves both,
// over a word type that is a C string or a Tcl object.
#include "orx_argv.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/internal.h"

namespace {

const Orx_ArgvInfo kGenericTable[] = {
    {"-help", ORX_ARGV_HELP, nullptr, nullptr, "Print summary of command-line options and abort"},
    {nullptr, ORX_ARGV_END, nullptr, nullptr, nullptr},
};

// Second character of a string, 0 for an empty one (never past its end).
char SecondChar(const char *text)
{
    return text[0] == '\0' ? '\0' : text[1];
}

// ---- Help summary ---------------------------------------------------------

// The widest key of the table, for the help text's column.
size_t KeyWidth(const Orx_ArgvInfo *table, size_t width)
{
    for (const Orx_ArgvInfo *entry = table; entry != nullptr && entry->type != ORX_ARGV_END;
         ++entry) {
        if (entry->key != nullptr && std::strlen(entry->key) > width) {
            width = std::strlen(entry->key);
        }
    }
    return width;
}

// The help lines of a table with current values; a help entry without a key is a heading.
void AppendEntries(std::string *out, const Orx_ArgvInfo *table, size_t width)
{
    for (const Orx_ArgvInfo *entry = table; entry != nullptr && entry->type != ORX_ARGV_END;
         ++entry) {
        const char *help = entry->help != nullptr ? entry->help : "";
        if (entry->type == ORX_ARGV_HELP && entry->key == nullptr) {
            out->append("\n").append(help);
            continue;
        }
        const char *key = entry->key != nullptr ? entry->key : "";
        out->append("\n ").append(key).append(":");
        out->append(width + 1 - std::strlen(key), ' ').append(help);
        if (entry->dst == nullptr) {
            continue;
        }
        char number[64];
        switch (entry->type) {
        case ORX_ARGV_INT:
            std::snprintf(number, sizeof number, "%d", *static_cast<int *>(entry->dst));
            out->append("\n\t\tDefault value: ").append(number);
            break;
        case ORX_ARGV_STRING: {
            const char *value = *static_cast<const char **>(entry->dst);
            if (value != nullptr) {
                out->append("\n\t\tDefault value: \"").append(value).append("\"");
            }
            break;
        }
        case ORX_ARGV_FLOAT:
            std::snprintf(number, sizeof number, "%g", *static_cast<double *>(entry->dst));
            out->append("\n\t\tDefault value: ").append(number);
            break;
        default:
            break;
        }
    }
}

// Appends the summary; may throw std::bad_alloc.
void AppendUsage(Tcl_Interp *interp, const Orx_ArgvInfo *table, int flags)
{
    size_t width = KeyWidth(kGenericTable, KeyWidth(table, 4));
    std::string out = "Command-specific options:";
    AppendEntries(&out, table, width);
    if (!(flags & ORX_ARGV_NO_DEFAULTS)) {
        out.append("\nGeneric options for all commands:");
        AppendEntries(&out, kGenericTable, width);
    }
    orx::AppendResult(interp, out);
}

// ---- Matching -------------------------------------------------------------

enum class Match { Found, None, Ambiguous };

// A whole key wins wherever it stands; two prefixes without one are
// ambiguous, in whichever tables they lie.
Match FindOption(const Orx_ArgvInfo *table, const char *word, size_t length, int flags,
                 const Orx_ArgvInfo **found)
{
    const char second = SecondChar(word);
    const Orx_ArgvInfo *prefix = nullptr;
    bool ambiguous = false;
    for (const Orx_ArgvInfo *t : {table, kGenericTable}) {
        for (const Orx_ArgvInfo *entry = t; entry != nullptr && entry->type != ORX_ARGV_END;
             ++entry) {
            if (entry->key == nullptr || SecondChar(entry->key) != second ||
                std::strncmp(entry->key, word, length) != 0) {
                continue;
            }
            if (entry->key[length] == '\0') {
                *found = entry;
                return Match::Found;
            }
            if (flags & ORX_ARGV_NO_ABBREV) {
                continue;
            }
            ambiguous = prefix != nullptr;
            if (prefix == nullptr) {
                prefix = entry;
            }
        }
    }
    if (ambiguous) {
        return Match::Ambiguous;
    }
    *found = prefix;
    return prefix != nullptr ? Match::Found : Match::None;
}

// ---- The two kinds of words -----------------------------------------------

struct StringWords {
    using Word = const char *;
    static const bool kRoomForNull = true;

    static const char *Text(Word word, size_t *length)
    {
        *length = std::strlen(word);
        return word;
    }
    static bool BadNumber(Tcl_Interp *interp, const char *what, const char *key, Word word)
    {
        orx::AppendResult(interp, "expected ", what, " argument for \"", key, "\" but got \"",
                          word, "\"");
        orx::ValueCode(interp, "NUMBER", word);
        return false;
    }
    static bool GetInt(Tcl_Interp *interp, const char *key, Word word, int *value)
    {
        char *end;
        errno = 0;
        long number = std::strtol(word, &end, 0);
        if (end == word || *end != '\0' || errno == ERANGE || number < INT_MIN ||
            number > INT_MAX) {
            return BadNumber(interp, "integer", key, word);
        }
        *value = static_cast<int>(number);
        return true;
    }
    static bool GetDouble(Tcl_Interp *interp, const char *key, Word word, double *value)
    {
        char *end;
        double number = std::strtod(word, &end);
        if (end == word || *end != '\0') {
            return BadNumber(interp, "floating-point", key, word);
        }
        *value = number;
        return true;
    }
    static int CallGenFunc(const Orx_ArgvInfo *entry, Tcl_Interp *interp, int count, Word *words)
    {
        auto *proc = reinterpret_cast<Orx_ArgvGenFuncProc *>(entry->src);
        return proc(entry->dst, interp, entry->key, count, words);
    }
};

struct ObjWords {
    using Word = Tcl_Obj *;
    static const bool kRoomForNull = false;

    static const char *Text(Word word, size_t *length)
    {
        int n;
        const char *text = Tcl_GetStringFromObj(word, &n);
        *length = static_cast<size_t>(n);
        return text;
    }
    static bool BadNumber(Tcl_Interp *interp, const char *what, const char *key, Word word)
    {
        orx::SetError(interp, "expected ", what, " argument for \"", key, "\" but got \"",
                      Tcl_GetString(word), "\"");
        orx::ValueCode(interp, "NUMBER", Tcl_GetString(word));
        return false;
    }
    static bool GetInt(Tcl_Interp *interp, const char *key, Word word, int *value)
    {
        return orx::GetInt(nullptr, word, value) == TCL_OK ||
               BadNumber(interp, "integer", key, word);
    }
    static bool GetDouble(Tcl_Interp *interp, const char *key, Word word, double *value)
    {
        return Tcl_GetDoubleFromObj(nullptr, word, value) == TCL_OK ||
               BadNumber(interp, "floating-point", key, word);
    }
    static int CallGenFunc(const Orx_ArgvInfo *entry, Tcl_Interp *interp, int count, Word *words)
    {
        auto *proc = reinterpret_cast<Orx_ArgvGenFuncObjProc *>(entry->src);
        return proc(entry->dst, interp, entry->key, count, words);
    }
};

// An entry without a destination is parsed and dropped.
template <typename T>
void Store(const Orx_ArgvInfo *entry, const T &value)
{
    if (entry->dst != nullptr) {
        *static_cast<T *>(entry->dst) = value;
    }
}

// One parser for string and object words; recognised options are removed from the words.
template <typename W>
int Parse(Tcl_Interp *interp, int *countPtr, typename W::Word *words,
          const Orx_ArgvInfo *table, int flags)
{
    const int total = *countPtr > 0 ? *countPtr : 0;
    int src = (flags & ORX_ARGV_DONT_SKIP_FIRST_ARG) || total == 0 ? 0 : 1;
    int dst = src;
    int left = total - src;
    while (left > 0) {
        typename W::Word current = words[src++];
        --left;
        size_t length;
        const char *word = W::Text(current, &length);
        const Orx_ArgvInfo *entry = nullptr;
        switch (FindOption(table, word, length, flags, &entry)) {
        case Match::Ambiguous:
            orx::AppendResult(interp, "ambiguous option \"", word, "\"");
            return orx::ValueCode(interp, "OPTION", word);
        case Match::None:
            if (flags & ORX_ARGV_NO_LEFTOVERS) {
                orx::AppendResult(interp, "unrecognized argument \"", word, "\"");
                return orx::ValueCode(interp, "OPTION", word);
            }
            words[dst++] = current;
            continue;
        case Match::Found:
            break;
        }
        const char *key = entry->key;
        const bool takesWord = entry->type == ORX_ARGV_INT || entry->type == ORX_ARGV_STRING ||
                               entry->type == ORX_ARGV_FLOAT;
        if (takesWord && left == 0) {
            orx::AppendResult(interp, "\"", word, "\" option requires an additional argument");
            return orx::UsageCode(interp);
        }
        switch (entry->type) {
        case ORX_ARGV_CONSTANT:
            Store(entry, static_cast<int>(reinterpret_cast<intptr_t>(entry->src)));
            break;
        case ORX_ARGV_INT: {
            int value;
            if (!W::GetInt(interp, key, words[src], &value)) {
                return TCL_ERROR;
            }
            Store(entry, value);
            ++src;
            --left;
            break;
        }
        case ORX_ARGV_STRING: {
            size_t ignored;
            Store(entry, W::Text(words[src], &ignored));
            ++src;
            --left;
            break;
        }
        case ORX_ARGV_FLOAT: {
            double value;
            if (!W::GetDouble(interp, key, words[src], &value)) {
                return TCL_ERROR;
            }
            Store(entry, value);
            ++src;
            --left;
            break;
        }
        case ORX_ARGV_REST:
            Store(entry, dst);
            goto done;
        case ORX_ARGV_FUNC: {
            auto *proc = reinterpret_cast<Orx_ArgvFuncProc *>(entry->src);
            size_t ignored;
            const char *next = left > 0 ? W::Text(words[src], &ignored) : nullptr;
            // A procedure claiming a word that is not there consumes nothing.
            if (proc(entry->dst, key, next) != 0 && left > 0) {
                ++src;
                --left;
            }
            break;
        }
        case ORX_ARGV_GENFUNC: {
            int remaining = W::CallGenFunc(entry, interp, left, words + src);
            if (remaining < 0) {
                return TCL_ERROR;
            }
            if (remaining > left) {
                // More words than it was given would read past the array.
                orx::AppendResult(interp, "procedure of option \"", key, "\" returned ",
                                  std::to_string(remaining), " words left of ",
                                  std::to_string(left));
                return TCL_ERROR;
            }
            left = remaining;
            break;
        }
        case ORX_ARGV_HELP:
            AppendUsage(interp, table, flags);
            return TCL_ERROR;
        default:
            orx::AppendResult(interp, "bad argument type ", std::to_string(entry->type),
                              " in Orx_ArgvInfo");
            return TCL_ERROR;
        }
    }
done:
    while (left > 0) {
        words[dst++] = words[src++];
        --left;
    }
    if (W::kRoomForNull || dst < total) {
        words[dst] = nullptr;
    }
    *countPtr = dst;
    return TCL_OK;
}

} // namespace

int Orx_ParseArgv(Tcl_Interp *interp, int *argcPtr, const char **argv,
                  const Orx_ArgvInfo *argTable, int flags)
{
    return orx::Guard(interp,
                      [&] { return Parse<StringWords>(interp, argcPtr, argv, argTable, flags); });
}

int Orx_ParseArgsObjv(Tcl_Interp *interp, int *objcPtr, Tcl_Obj **objv,
                      const Orx_ArgvInfo *argTable, int flags)
{
    return orx::Guard(interp,
                      [&] { return Parse<ObjWords>(interp, objcPtr, objv, argTable, flags); });
}
