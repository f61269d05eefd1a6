// String join/split that respect double-quoted sections, path splitting with
// the @"..." unquoting other product libraries call, temporary file names and
// the platform name.  Scans build an edited copy as they go, so removing
// braces never moves the rest of the text: every scan is linear.
#include "orx_strpath.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "base/internal.h"
#include "platform/orxplat.h"

namespace {

// The text before the current position as the scan has edited it (braces
// removed; only then is a copy kept), the unread rest, and where the current
// piece began.
class QuoteScan {
public:
    QuoteScan(std::string_view text, bool dropBraces) : text_(text), dropBraces_(dropBraces)
    {
        if (dropBraces_) {
            copy_.reserve(text.size());
        }
    }
    bool AtEnd() const { return pos_ >= text_.size(); }
    char Current() const { return text_[pos_]; }
    // Whether the character at the position follows a backslash in the copy.
    bool Escaped() const
    {
        std::string_view done = Done();
        return !done.empty() && done.back() == '\\';
    }
    bool AtStart() const { return Done().empty(); }
    // Moves on to the next a or b: nothing between needs a look when no
    // braces are dropped.
    void SkipTo(char a, char b)
    {
        if (dropBraces_) {
            return;
        }
        while (pos_ < text_.size() && text_[pos_] != a && text_[pos_] != b) {
            ++pos_;
        }
    }
    bool Matches(std::string_view what) const
    {
        return !what.empty() && text_.substr(pos_, what.size()) == what;
    }
    // Brace removal before the character at the position is examined.
    void DropBraces(bool quoted)
    {
        while (dropBraces_ && !quoted && pos_ < text_.size() &&
               (text_[pos_] == '{' || text_[pos_] == '}') && !Escaped()) {
            ++pos_;
        }
    }
    void Take(size_t n)
    {
        n = std::min(n, text_.size() - pos_);
        if (dropBraces_) {
            copy_.append(text_.substr(pos_, n));
        }
        pos_ += n;
    }
    std::string_view Piece() const { return Done().substr(pieceStart_); }
    void StartPiece() { pieceStart_ = Done().size(); }

private:
    std::string_view Done() const
    {
        return dropBraces_ ? std::string_view(copy_) : text_.substr(0, pos_);
    }

    std::string_view text_;
    bool dropBraces_;
    size_t pos_ = 0;
    std::string copy_;
    size_t pieceStart_ = 0;
};

// Whether text holds any of the characters of set (one pass per character:
// memchr is fast, and the sets are short).
bool HasAny(std::string_view text, std::string_view set)
{
    for (char c : set) {
        if (std::memchr(text.data(), c, text.size()) != nullptr) {
            return true;
        }
    }
    return false;
}

// Bodies of the string and path commands, run under the out-of-memory guard.
int StrJoin(Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc < 4 || argc > 6) {
        orx::SetError(interp, "command format error args: should be \"", argv[0],
                      " ?-addleadstr? ?-rmlistbrc? string joinStr srchStr\"");
        return orx::UsageCode(interp);
    }
    bool lead = false;
    bool braces = false;
    for (int i = 1; i < argc - 3; ++i) {
        lead = lead || std::strcmp(argv[i], "-addleadstr") == 0;
        braces = braces || std::strcmp(argv[i], "-rmlistbrc") == 0;
    }
    std::string_view text = argv[argc - 3];
    std::string_view join = argv[argc - 2];
    std::string_view search = argv[argc - 1];
    orx::ResultText out;
    if (text.empty()) {
        return TCL_OK;
    }
    QuoteScan scan(text, braces);
    bool quoted = false;
    bool leadWritten = !lead;
    for (;;) {
        scan.DropBraces(quoted);
        if (scan.AtEnd()) {
            break;
        }
        if (scan.Matches(search)) {
            if (!quoted) {
                if (!leadWritten) {
                    out.Append(join);
                    leadWritten = true;
                }
                out.Append(scan.Piece());
                out.Append(join);
                scan.Take(search.size());
                scan.StartPiece();
                continue;
            }
            if (search == "\\\n") {
                // A continuation inside quotes: drop it and the blanks after it.
                out.Append(scan.Piece());
                scan.Take(search.size());
                while (!scan.AtEnd() && scan.Current() == ' ') {
                    scan.Take(1);
                }
                scan.StartPiece();
                continue;
            }
        }
        if (scan.Current() == '"' && !scan.Escaped()) {
            quoted = !quoted;
        }
        scan.Take(1);
    }
    if (!leadWritten) {
        out.Append(join);
    }
    out.Append(scan.Piece());
    out.SetResult(interp);
    return TCL_OK;
}

// -rmleadstr drops a piece before a leading separator; -extended_id keeps bracketed parts whole.
int StrSplit(Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc < 3 || argc > 6) {
        orx::SetError(interp, "command format error args: should be \"", argv[0],
                      " ?-rmleadstr? ?-rmlistbrc? ?-extended_id? string srchStr\"");
        return orx::UsageCode(interp);
    }
    bool dropLead = false;
    bool braces = false;
    bool extended = false;
    for (int i = 1; i < argc - 2; ++i) {
        dropLead = dropLead || std::strcmp(argv[i], "-rmleadstr") == 0;
        braces = braces || std::strcmp(argv[i], "-rmlistbrc") == 0;
        extended = extended || std::strcmp(argv[i], "-extended_id") == 0;
    }
    std::string_view text = argv[argc - 2];
    std::string_view search = argv[argc - 1];
    orx::ResultText out;
    if (text.empty()) {
        return TCL_OK;
    }
    // The pieces as values too: scripts take the result as a list.
    ObjRef list(Tcl_NewListObj(0, nullptr));
    auto addElement = [&](std::string_view piece) {
        Tcl_ListObjAppendElement(nullptr, list.get(),
                                 Tcl_NewStringObj(piece.data(), static_cast<int>(piece.size())));
    };
    auto add = [&](std::string_view piece) {
        out.AppendBraced(piece);
        addElement(piece);
    };
    auto addPlain = [&](std::string_view piece) {
        out.AppendInBraces(piece);
        addElement(piece);
    };
    // Without quotes, braces or backslashes no option changes anything: the
    // pieces lie between the separators, and braces hold each.
    if (!search.empty() && !HasAny(text, "\"{}\\")) {
        size_t start = 0;
        for (size_t at; (at = text.find(search, start)) != std::string_view::npos;
             start = at + search.size()) {
            if (!(dropLead && at == 0)) {
                addPlain(text.substr(start, at - start));
            }
        }
        addPlain(text.substr(start));
        out.SetListResult(interp, list.get());
        return TCL_OK;
    }
    QuoteScan scan(text, braces);
    bool quoted = false;
    bool anyQuote = false; // -extended_id: every double quote toggles it
    char first = search.empty() ? '"' : search[0];
    for (;;) {
        scan.DropBraces(quoted);
        scan.SkipTo('"', first);
        if (scan.AtEnd()) {
            break;
        }
        if (extended && scan.Current() == '"') {
            anyQuote = !anyQuote;
        }
        if (!quoted && !anyQuote && scan.Matches(search)) {
            if (!(dropLead && scan.AtStart())) {
                add(scan.Piece());
            }
            scan.Take(search.size());
            scan.StartPiece();
            continue;
        }
        if (scan.Current() == '"' && !scan.Escaped()) {
            quoted = !quoted;
        }
        scan.Take(1);
    }
    add(scan.Piece());
    out.SetListResult(interp, list.get());
    return TCL_OK;
}

// Adds one piece as a list element, its quoting removed when asked.
void AppendPiece(Tcl_DString *out, std::string piece, bool unquote)
{
    if (unquote) {
        piece.resize(std::strlen(Orx_UnQuoteName(&piece[0])));
    }
    Tcl_DStringAppendElement(out, piece.c_str());
}

// The splitting of Orx_Pathsplit with a separator of one or more bytes (a
// UTF-8 character from a script).
void PathSplit(std::string_view path, std::string_view sep, bool unquote, Tcl_DString *out)
{
    if (!sep.empty() && path.substr(0, sep.size()) == sep) {
        path.remove_prefix(sep.size());
    }
    if (path.empty()) {
        return;
    }
    bool quoted = false;
    size_t start = 0;
    for (size_t i = 0; i < path.size();) {
        if (path[i] == '"') {
            quoted = !quoted;
        } else if (!quoted && !sep.empty() && path.substr(i, sep.size()) == sep) {
            AppendPiece(out, std::string(path.substr(start, i - start)), unquote);
            i += sep.size();
            start = i;
            continue;
        }
        ++i;
    }
    AppendPiece(out, std::string(path.substr(start)), unquote);
}

// The split character may be any one character, several bytes in UTF-8.
int Pathsplit(Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc < 2 || argc > 3) {
        orx::SetError(interp, "wrong # args: should be \"", argv[0], " string ?splitChar?\"");
        return orx::UsageCode(interp);
    }
    std::string_view sep = "/";
    if (argc == 3) {
        // One character, which in a script may take several bytes, and above
        // U+FFFF two halves: half of it would split other such characters.
        int ch;
        sep = std::string_view(argv[2], static_cast<size_t>(orx::NextChar(argv[2], &ch)));
    }
    Tcl_DString out;
    Tcl_DStringInit(&out);
    try {
        PathSplit(argv[1], sep, false, &out);
    } catch (...) {
        Tcl_DStringFree(&out);
        throw;
    }
    Tcl_DStringResult(interp, &out);
    return TCL_OK;
}

// ---- Temporary names -------------------------------------------------------

// A name in the temporary directory, from 60 random bits, that no file has;
// empty when none could be had.
std::string FreshTempName(const char *prefix)
{
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz012345";
    std::string dir = OrxPlat_TempDir();
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char bytes[12];
        if (!OrxPlat_RandomBytes(bytes, sizeof bytes)) {
            continue;
        }
        std::string name = dir + (dir == "/" ? "" : "/") + prefix;
        for (unsigned char b : bytes) {
            name.push_back(kAlphabet[b & 31]);
        }
        OrxPlat_FileInfo info;
        if (OrxPlat_LinkStat(name.c_str(), &info) == ENOENT) {
            return name;
        }
    }
    return std::string();
}

const char kPlatform[] =
#if defined(__linux__) && defined(__x86_64__)
    "linux_x86_64";
#elif defined(__linux__) && defined(__aarch64__)
    "linux_aarch64";
#elif defined(__linux__) && defined(__i386__)
    "linux_x86";
#elif defined(__linux__)
    "linux";
#elif defined(_WIN32)
    "win_x86"; // the product's name for its Windows builds
#else
    "unix";
#endif

} // namespace

int Orx_StrJoinCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    return orx::Guard(interp, [&] { return StrJoin(interp, argc, argv); });
}

int Orx_StrSplitCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    return orx::Guard(interp, [&] { return StrSplit(interp, argc, argv); });
}

int Orx_PathsplitCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    return orx::Guard(interp, [&] { return Pathsplit(interp, argc, argv); });
}

int Orx_TmpnamCmd(ClientData, Tcl_Interp *interp, int, const char *[])
{
    return orx::Guard(interp, [&] {
        Tcl_SetObjResult(interp, orx::NewStringObj(FreshTempName("tq")));
        return TCL_OK;
    });
}

int Orx_TempnamCmd(ClientData, Tcl_Interp *interp, int, const char *[])
{
    return orx::Guard(interp, [&] {
        Tcl_SetObjResult(interp, orx::NewStringObj(FreshTempName("")));
        return TCL_OK;
    });
}

int Orx_GetPlatformCmd(ClientData, Tcl_Interp *interp, int, const char *[])
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(kPlatform, -1));
    return TCL_OK;
}

int Orx_Pathsplit(const char *path, char splitChar, int unquote, Tcl_DString *out)
{
    if (path == nullptr || out == nullptr) {
        return 0;
    }
    try {
        PathSplit(path, std::string_view(&splitChar, splitChar != '\0' ? 1 : 0), unquote != 0,
                  out);
    } catch (const std::bad_alloc &) {
        // Tcl's own allocator panics first; a piece copy failing leaves out short.
    }
    return 0;
}

char *Orx_UnQuoteName(char *name)
{
    if (name == nullptr) {
        return name;
    }
    size_t length = std::strlen(name);
    // Reading ahead of writing: r never falls behind w.  A removed closing
    // quote still ahead of r is remembered in skip.
    size_t r = 0;
    size_t w = 0;
    size_t skip = length;
    auto after = [&](size_t k) { return k + 1 == skip ? k + 2 : k + 1; };
    while (r < length) {
        if (r == skip) {
            ++r;
            continue;
        }
        size_t next = after(r);
        if (name[r] == '@' && next < length && name[next] == '"') {
            const char *close = std::strchr(name + next + 1, '"');
            if (close == nullptr) {
                break;
            }
            size_t q = static_cast<size_t>(close - name);
            // The character that moves into the "@"'s place is not examined again.
            if (next + 1 < q) {
                name[w++] = name[next + 1];
                r = next + 2;
                skip = q;
            } else if (q + 1 < length) {
                name[w++] = name[q + 1];
                r = q + 2;
            } else {
                r = length;
            }
            continue;
        }
        name[w++] = name[r];
        r = next;
    }
    for (; r < length; ++r) {
        if (r != skip) {
            name[w++] = name[r];
        }
    }
    name[w] = '\0';
    return name;
}
