// The help command: reads the reference pages installed with the shell
// (<installation>/doc/reference/*.md), the same files a reader opens, so the
// reference stays the one source of what help prints.  The Markdown is set
// as plain text for the terminal; Tcl's own commands get their manual page.

#include "orx_help.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/internal.h"
#include "platform/orxplat.h"
#include "orx_init.h"
#include "orx_util.h"

namespace {

// One "## `name`" section of a page.
struct Entry {
    std::vector<std::string> names;
    std::string synopsis;    // the first code block, without its fences
    std::string description; // the text after it, up to the next section
    bool function = false;   // a C function (its synopsis is C code)
};

struct Page {
    std::string title;
    std::vector<Entry> entries;
};

constexpr size_t kPageLimit = 4u << 20;

// The names in backticks of a heading line.
std::vector<std::string> HeadingNames(std::string_view line)
{
    std::vector<std::string> names;
    size_t pos = 0;
    for (;;) {
        size_t open = line.find('`', pos);
        if (open == std::string_view::npos) {
            break;
        }
        size_t close = line.find('`', open + 1);
        if (close == std::string_view::npos) {
            break;
        }
        names.emplace_back(line.substr(open + 1, close - open - 1));
        pos = close + 1;
    }
    return names;
}

// In place, for fields read from the reference pages.
void TrimEnds(std::string *text)
{
    std::string_view trimmed = orx::TrimBlanks(*text);
    *text = std::string(trimmed);
}

// A reference page's title and its entries: names, synopsis and text.
Page ParsePage(std::string_view text)
{
    Page page;
    Entry *entry = nullptr;
    bool inCode = false;      // inside a fenced block
    bool inSynopsis = false;  // ... the first one of the entry
    orx::ForEachLine(text, [&](std::string_view line, int) {
        bool fence = line.substr(0, 3) == "```";
        if (!inCode && page.title.empty() && line.substr(0, 2) == "# ") {
            page.title = std::string(orx::TrimBlanks(line.substr(2)));
            return;
        }
        if (!inCode && line.substr(0, 3) == "## ") {
            std::vector<std::string> names = HeadingNames(line);
            // A heading without a name is prose, not an entry.
            entry = nullptr;
            if (!names.empty()) {
                page.entries.push_back(Entry{std::move(names), {}, {}});
                entry = &page.entries.back();
            }
            return;
        }
        if (fence) {
            inCode = !inCode;
            if (entry != nullptr && inCode && entry->synopsis.empty() &&
                orx::TrimBlanks(entry->description).empty()) {
                inSynopsis = true;
                entry->function = orx::TrimBlanks(line.substr(3)) == "c";
                return;
            }
            if (inSynopsis) {
                inSynopsis = false;
                return;
            }
        }
        if (entry == nullptr) {
            return;
        }
        std::string &into = inSynopsis ? entry->synopsis : entry->description;
        into.append(line).push_back('\n');
    });
    for (Entry &e : page.entries) {
        TrimEnds(&e.synopsis);
        TrimEnds(&e.description);
    }
    return page;
}

// ---- Text for the terminal ---------------------------------------------------

// Characters on screen: UTF-8 continuation bytes take no cell.
size_t Cells(std::string_view text)
{
    size_t n = 0;
    for (unsigned char c : text) {
        n += (c & 0xC0) != 0x80;
    }
    return n;
}

// Markdown's inline marks dropped: code spans as they are, emphasis and link
// targets gone, escapes taken.
std::string Inline(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size();) {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size() && std::ispunct(static_cast<unsigned char>(text[i + 1]))) {
            out += text[i + 1];
            i += 2;
        } else if (c == '`') {
            size_t close = text.find('`', i + 1);
            if (close == std::string_view::npos) {
                out += text.substr(i);
                break;
            }
            out += text.substr(i + 1, close - i - 1);
            i = close + 1;
        } else if (c == '*') {
            size_t run = text.compare(i, 2, "**") == 0 ? 2 : 1;
            std::string_view mark = text.substr(i, run);
            size_t close = text.find(mark, i + run);
            // Only a pair around text is emphasis: "*" alone is a star.
            if (close == std::string_view::npos || close == i + run || text[i + run] == ' ' ||
                text[close - 1] == ' ') {
                out += c;
                i++;
                continue;
            }
            out += Inline(text.substr(i + run, close - i - run));
            i = close + run;
        } else if (c == '[') {
            size_t mid = text.find("](", i);
            size_t close = mid == std::string_view::npos ? mid : text.find(')', mid);
            if (close == std::string_view::npos) {
                out += c;
                i++;
                continue;
            }
            out += Inline(text.substr(i + 1, mid - i - 1));
            i = close + 1;
        } else {
            out += c;
            i++;
        }
    }
    return out;
}

// Words of text filled into lines of at most width cells; the first line
// starts with first, the others with rest (of the same width).
void Fill(std::string *out, std::string_view text, size_t width, const std::string &first,
          const std::string &rest)
{
    std::string line = first;
    size_t used = Cells(first);
    bool empty = true;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t start = text.find_first_not_of(' ', pos);
        if (start == std::string_view::npos) {
            break;
        }
        size_t end = text.find(' ', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view word = text.substr(start, end - start);
        size_t cells = Cells(word);
        if (!empty && used + 1 + cells > width) {
            *out += line + "\n";
            line = rest;
            used = Cells(rest);
            empty = true;
        }
        if (!empty) {
            line += ' ';
            used++;
        }
        line += word;
        used += cells;
        empty = false;
        pos = end;
    }
    *out += line + "\n";
}

// The lines of a cell filled to width (one empty line for an empty cell).
std::vector<std::string> CellLines(const std::string &cell, size_t width)
{
    std::string filled;
    Fill(&filled, cell, width, "", "");
    std::vector<std::string> lines;
    orx::ForEachLine(filled, [&](std::string_view line, int) { lines.emplace_back(line); });
    if (lines.empty()) {
        lines.emplace_back();
    }
    return lines;
}

// The cells of a table row; "\|" is a bar inside a cell.
std::vector<std::string> RowCells(std::string_view line)
{
    std::string_view body = orx::TrimBlanks(line);
    if (!body.empty() && body.front() == '|') {
        body.remove_prefix(1);
    }
    if (!body.empty() && body.back() == '|' && (body.size() < 2 || body[body.size() - 2] != '\\')) {
        body.remove_suffix(1);
    }
    std::vector<std::string> cells;
    std::string cell;
    for (size_t i = 0; i < body.size(); i++) {
        if (body[i] == '\\' && i + 1 < body.size() && body[i + 1] == '|') {
            cell += "\\|";
            i++;
        } else if (body[i] == '|') {
            cells.push_back(Inline(orx::TrimBlanks(cell)));
            cell.clear();
        } else {
            cell += body[i];
        }
    }
    cells.push_back(Inline(orx::TrimBlanks(cell)));
    return cells;
}

// A table in aligned columns; when the columns are too wide together, the
// widest give way and their cells wrap.
void Table(std::string *out, const std::vector<std::string> &lines, size_t width)
{
    std::vector<std::vector<std::string>> rows;
    for (const std::string &line : lines) {
        if (line.find_first_not_of("|-: \t") == std::string::npos) {
            continue; // the rule under the header
        }
        rows.push_back(RowCells(line));
    }
    size_t columns = 0;
    for (const auto &row : rows) {
        columns = std::max(columns, row.size());
    }
    if (columns == 0) {
        return;
    }
    std::vector<size_t> widths(columns, 0);
    for (auto &row : rows) {
        row.resize(columns);
        for (size_t c = 0; c < columns; c++) {
            widths[c] = std::max(widths[c], Cells(row[c]));
        }
    }
    const std::string indent = "  ", gap = "  ";
    size_t room = width > indent.size() + gap.size() * (columns - 1)
                      ? width - indent.size() - gap.size() * (columns - 1)
                      : columns;
    constexpr size_t kNarrowest = 8;
    for (;;) {
        size_t total = 0;
        for (size_t w : widths) {
            total += w;
        }
        auto widest = std::max_element(widths.begin(), widths.end());
        if (total <= room || *widest <= kNarrowest) {
            break;
        }
        (*widest)--;
    }
    for (size_t r = 0; r < rows.size(); r++) {
        std::vector<std::vector<std::string>> cells;
        size_t height = 1;
        for (size_t c = 0; c < columns; c++) {
            cells.push_back(CellLines(rows[r][c], widths[c]));
            height = std::max(height, cells.back().size());
        }
        for (size_t h = 0; h < height; h++) {
            std::string line = indent;
            for (size_t c = 0; c < columns; c++) {
                const std::string text = h < cells[c].size() ? cells[c][h] : "";
                line += text;
                if (c + 1 < columns) {
                    line.append(widths[c] > Cells(text) ? widths[c] - Cells(text) : 0, ' ');
                    line += gap;
                }
            }
            while (!line.empty() && line.back() == ' ') {
                line.pop_back();
            }
            *out += line + "\n";
        }
        if (r == 0 && rows.size() > 1) {
            std::string rule = indent;
            for (size_t c = 0; c < columns; c++) {
                rule.append(widths[c], '-');
                if (c + 1 < columns) {
                    rule += gap;
                }
            }
            *out += rule + "\n";
        }
    }
}

// Markdown as plain text width cells wide: paragraphs and list items filled,
// headings underlined, code indented and left as it is, tables aligned.
std::string Render(std::string_view markdown, size_t width)
{
    std::string out;
    std::string paragraph, first, rest;
    std::vector<std::string> table;
    bool inCode = false;
    auto blank = [&] {
        if (!out.empty() && out.compare(out.size() - std::min<size_t>(2, out.size()),
                                        std::string::npos, "\n\n") != 0) {
            out += "\n";
        }
    };
    auto flush = [&] {
        if (!paragraph.empty()) {
            Fill(&out, Inline(paragraph), width, first, rest);
            paragraph.clear();
        }
        if (!table.empty()) {
            Table(&out, table, width);
            table.clear();
        }
    };
    orx::ForEachLine(markdown, [&](std::string_view line, int) {
        std::string_view trimmed = orx::TrimBlanks(line);
        if (trimmed.substr(0, 3) == "```") {
            flush();
            inCode = !inCode;
            return;
        }
        if (inCode) {
            out += "    ";
            out += line;
            out += "\n";
            return;
        }
        if (!trimmed.empty() && trimmed.front() == '|') {
            if (!paragraph.empty()) {
                flush();
            }
            table.emplace_back(trimmed);
            return;
        }
        if (!table.empty()) {
            flush();
        }
        if (trimmed.empty()) {
            flush();
            blank();
            return;
        }
        size_t hashes = trimmed.find_first_not_of('#');
        if (hashes != std::string_view::npos && hashes > 0 && hashes <= 6 &&
            trimmed[hashes] == ' ') {
            flush();
            blank();
            std::string heading = Inline(orx::TrimBlanks(trimmed.substr(hashes)));
            out += heading + "\n";
            out.append(Cells(heading), hashes == 1 ? '=' : '-');
            out += "\n";
            return;
        }
        size_t marker = 0;
        if (trimmed.size() > 2 && (trimmed[0] == '-' || trimmed[0] == '*') && trimmed[1] == ' ') {
            marker = 2;
        } else {
            size_t digits = trimmed.find_first_not_of("0123456789");
            if (digits != std::string_view::npos && digits > 0 && digits + 1 < trimmed.size() &&
                trimmed[digits] == '.' && trimmed[digits + 1] == ' ') {
                marker = digits + 2;
            }
        }
        if (marker > 0) {
            flush();
            size_t indent = line.size() - orx::TrimBlanks(line).size() > 0 ? 4 : 2;
            first = std::string(indent, ' ') +
                    (trimmed[0] == '*' || trimmed[0] == '-' ? "- " : std::string(trimmed.substr(0, marker)));
            rest = std::string(indent + marker, ' ');
            paragraph = std::string(trimmed.substr(marker));
            return;
        }
        if (paragraph.empty()) {
            first.clear();
            rest.clear();
        } else {
            paragraph += ' ';
        }
        paragraph += trimmed;
    });
    flush();
    while (!out.empty() && out.back() == '\n') {
        out.pop_back();
    }
    return out;
}

// Columns to fill: $COLUMNS, else the terminal's, else 80.
size_t TextWidth(Tcl_Interp *interp)
{
    const char *env = Tcl_GetVar2(interp, "env", "COLUMNS", TCL_GLOBAL_ONLY);
    int columns, rows;
    if (env != nullptr && std::atoi(env) >= 20) {
        return static_cast<size_t>(std::atoi(env));
    }
    if (OrxPlat_TerminalSize(1, &columns, &rows) && columns >= 20) {
        return static_cast<size_t>(columns);
    }
    return 80;
}

// Evaluates the command made of words, each one word whatever it holds, at
// global level.
int EvalWords(Tcl_Interp *interp, std::initializer_list<std::string_view> words)
{
    ObjRef command(Tcl_NewListObj(0, nullptr));
    for (std::string_view word : words) {
        Tcl_ListObjAppendElement(nullptr, command.get(), orx::NewStringObj(word));
    }
    return Tcl_EvalObjEx(interp, command.get(), TCL_EVAL_GLOBAL);
}

// Whether program is found along PATH (auto_execok); the result is left empty.
bool OnPath(Tcl_Interp *interp, std::string_view program)
{
    bool found = EvalWords(interp, {"auto_execok", program}) == TCL_OK &&
                 *Tcl_GetStringResult(interp) != '\0';
    Tcl_ResetResult(interp);
    return found;
}

// The pager's words: $PAGER, else less or more along PATH; none when there
// is nothing to page with.
std::vector<std::string> PagerCommand(Tcl_Interp *interp)
{
    const char *pager = Tcl_GetVar2(interp, "env", "PAGER", TCL_GLOBAL_ONLY);
    std::vector<std::string> words;
    if (pager != nullptr && !orx::TrimBlanks(pager).empty()) {
        int count;
        const char **elems;
        if (Tcl_SplitList(nullptr, pager, &count, &elems) == TCL_OK) {
            words.assign(elems, elems + count);
            Tcl_Free(reinterpret_cast<char *>(elems));
        }
        return words;
    }
    for (const char *candidate : {"less", "more"}) {
        if (OnPath(interp, candidate)) {
            words.emplace_back(candidate);
            if (std::strcmp(candidate, "less") == 0) {
                words.emplace_back("-R");
            }
            break;
        }
    }
    return words;
}

// Writes text to the terminal on standard output: through the pager when
// it is longer than the screen, else as it is.
void Show(Tcl_Interp *interp, const std::string &text)
{
    int columns = 80, rows = 24;
    OrxPlat_TerminalSize(1, &columns, &rows);
    size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    Tcl_Channel out = Tcl_GetStdChannel(TCL_STDOUT);
    if (lines >= static_cast<size_t>(rows)) {
        std::vector<std::string> words = PagerCommand(interp);
        std::vector<const char *> argv;
        for (const std::string &word : words) {
            argv.push_back(word.c_str());
        }
        argv.push_back(nullptr);
        if (!words.empty() && out != nullptr) {
            Tcl_Flush(out);
        }
        Tcl_Channel pipe = words.empty() ? nullptr
                                         : Tcl_OpenCommandChannel(interp, static_cast<int>(words.size()),
                                                                  argv.data(), TCL_STDIN);
        if (pipe != nullptr) {
            Tcl_WriteChars(pipe, text.data(), static_cast<int>(text.size()));
            Tcl_WriteChars(pipe, "\n", 1);
            // A pager quit early, or one that fails, is no error of help.
            Tcl_Close(nullptr, pipe);
            Tcl_ResetResult(interp);
            return;
        }
        Tcl_ResetResult(interp);
    }
    if (out != nullptr) {
        Tcl_WriteChars(out, text.data(), static_cast<int>(text.size()));
        Tcl_WriteChars(out, "\n", 1);
        Tcl_Flush(out);
    }
}

// The text as help's answer: shown on a terminal (the result is then
// empty), else the result.
int Answer(Tcl_Interp *interp, const std::string &text)
{
    if (OrxPlat_IsTerminal(1)) {
        Show(interp, text);
        Tcl_ResetResult(interp);
    } else {
        Tcl_SetObjResult(interp, orx::NewStringObj(text));
    }
    return TCL_OK;
}

// ---- Tcl's own commands -------------------------------------------------------

const char kTclManual[] = "https://www.tcl-lang.org/man/tcl8.6/";

// The installed manual page of a Tcl command (Debian's tcl8.6-doc), along
// $MANPATH or in /usr/share/man; "" when there is none.
std::string ManualPage(Tcl_Interp *interp, const std::string &name)
{
    if (name.find_first_of("/\\:") != std::string::npos || name.empty()) {
        return "";
    }
    const char *manPath = Tcl_GetVar2(interp, "env", "MANPATH", TCL_GLOBAL_ONLY);
    std::string dirs = manPath != nullptr && *manPath != '\0' ? manPath : "/usr/share/man";
    std::string found;
    orx::ForEachPathElement(dirs, [&](std::string_view dir) {
        for (const char *suffix : {".3tcl.gz", ".3tcl", ".n.gz", ".n"}) {
            std::string path = std::string(dir) + "/mann/" + name + suffix;
            Tcl_Channel probe = nullptr;
            if (found.empty() && OrxPlat_OpenChannel(path.c_str(), &probe) == 0) {
                Tcl_Close(nullptr, probe);
                found = path;
            }
        }
    });
    return found;
}

// The page set by man, width cells wide; "" when man is not there or fails.
std::string RenderManual(Tcl_Interp *interp, const std::string &page, size_t width)
{
    if (!OnPath(interp, "man")) {
        return "";
    }
    std::string columns = std::to_string(width);
    const char *saved = Tcl_GetVar2(interp, "env", "MANWIDTH", TCL_GLOBAL_ONLY);
    std::string savedWidth = saved != nullptr ? saved : "";
    Tcl_SetVar2(interp, "env", "MANWIDTH", columns.c_str(), TCL_GLOBAL_ONLY);
    int code = EvalWords(interp, {"exec", "-ignorestderr", "--", "man", "-l", page});
    std::string text = code == TCL_OK ? Tcl_GetStringResult(interp) : "";
    Tcl_ResetResult(interp);
    if (saved != nullptr) {
        Tcl_SetVar2(interp, "env", "MANWIDTH", savedWidth.c_str(), TCL_GLOBAL_ONLY);
    } else {
        Tcl_UnsetVar2(interp, "env", "MANWIDTH", TCL_GLOBAL_ONLY);
    }
    // Overstrikes (x BS x) and colours, should man keep them for a pipe.
    std::string plain;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\b') {
            if (!plain.empty()) {
                plain.pop_back();
            }
        } else if (text[i] == '\033' && i + 1 < text.size() && text[i + 1] == '[') {
            size_t end = text.find_first_of("ABCDEFGHJKSTfmnsu", i + 2);
            i = end == std::string::npos ? text.size() : end;
        } else {
            plain += text[i];
        }
    }
    return std::string(orx::TrimBlanks(plain));
}

// One line on a command that has no reference entry: its arguments when it
// is a procedure, and where its manual is.
std::string CommandSynopsis(Tcl_Interp *interp, const std::string &name, const std::string &page)
{
    std::string text;
    bool proc = EvalWords(interp, {"info", "args", name}) == TCL_OK;
    if (proc) {
        text = name;
        ObjRef list(Tcl_GetObjResult(interp));
        int count;
        Tcl_Obj **elems;
        Tcl_ListObjGetElements(nullptr, list.get(), &count, &elems);
        for (int i = 0; i < count; i++) {
            std::string arg = Tcl_GetString(elems[i]);
            bool optional =
                EvalWords(interp, {"info", "default", name, arg, "::tcl::HelpDefault"}) == TCL_OK &&
                            std::strcmp(Tcl_GetStringResult(interp), "1") == 0;
            Tcl_UnsetVar2(interp, "::tcl::HelpDefault", nullptr, 0);
            if (i == count - 1 && arg == "args") {
                text += " ?arg ...?";
            } else {
                text += optional ? " ?" + arg + "?" : " " + arg;
            }
        }
        text += "\n\nA procedure: \"info body " + name + "\" shows its body.";
    } else {
        text = name + " ...\n\nA command of the interpreter without a reference entry.";
    }
    Tcl_ResetResult(interp);
    if (!page.empty()) {
        text += "\nIts manual page: " + page;
    } else if (!proc) {
        text += "\nTcl's manual: " + std::string(kTclManual);
    }
    return text;
}

// A C function's name, as opposed to a command's: it has capitals.
bool LooksLikeFunction(const std::string &name)
{
    return std::any_of(name.begin(), name.end(),
                       [](char c) { return c >= 'A' && c <= 'Z'; });
}

// Directories that hold the reference: doc/reference under each
// installation directory.
std::vector<std::string> ReferenceDirs(Tcl_Interp *interp)
{
    const char *home = Tcl_GetVar2(interp, "env", "MORVA_HOME", TCL_GLOBAL_ONLY);
    std::string list = home != nullptr ? home : Orx_DefaultMorvaHome();
    std::vector<std::string> dirs;
    orx::ForEachPathElement(list, [&](std::string_view dir) {
        dirs.push_back(std::string(dir) + "/doc/reference");
    });
    return dirs;
}

// Every reference page of the help directories; unreadable ones are skipped.
std::vector<Page> LoadPages(Tcl_Interp *interp)
{
    std::vector<Page> pages;
    for (const std::string &dir : ReferenceDirs(interp)) {
        std::vector<std::string> names;
        OrxPlat_ListDirectory(dir, &names); // whatever could be read
        std::vector<std::string> files;
        for (const std::string &name : names) {
            if (name.size() > 3 && name.compare(name.size() - 3, 3, ".md") == 0) {
                files.push_back(dir + "/" + name);
            }
        }
        std::sort(files.begin(), files.end());
        for (const std::string &file : files) {
            std::string text, why;
            if (OrxPlat_ReadWholeFile(file, kPageLimit, &text, &why) == ORXPLAT_READ_OK) {
                pages.push_back(ParsePage(text));
            }
        }
    }
    return pages;
}

// The first sentence of a description, on one line.
std::string Summary(const std::string &description)
{
    std::string text;
    for (char c : description) {
        if (c == '\n' && !text.empty() && text.back() == '\n') {
            break; // end of the first paragraph
        }
        text += c;
    }
    std::replace(text.begin(), text.end(), '\n', ' ');
    size_t stop = text.find(". ");
    if (stop != std::string::npos) {
        text.resize(stop + 1);
    }
    constexpr size_t kWidth = 100;
    if (text.size() > kWidth) {
        text.resize(kWidth - 3);
        text += "...";
    }
    return text;
}

// Help lists only what this interpreter can run.
bool IsCommand(Tcl_Interp *interp, const std::string &name)
{
    Tcl_CmdInfo info;
    return Tcl_GetCommandInfo(interp, name.c_str(), &info) != 0;
}

// Edit distance, bounded: names further than limit apart are not close.
size_t Distance(const std::string &a, const std::string &b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); j++) {
        row[j] = j;
    }
    for (size_t i = 1; i <= a.size(); i++) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); j++) {
            size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1,
                               diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// Suggestions for a name with no entry: near in spelling or containing it.
std::vector<std::string> CloseNames(const std::vector<Page> &pages, const std::string &name)
{
    std::vector<std::pair<size_t, std::string>> scored;
    bool function = LooksLikeFunction(name);
    for (const Page &page : pages) {
        for (const Entry &entry : page.entries) {
            // Functions for a function name, commands for a command word.
            if (entry.function != function) {
                continue;
            }
            for (const std::string &candidate : entry.names) {
                size_t d = Distance(name, candidate);
                bool related = candidate.find(name) != std::string::npos ||
                               (name.size() >= 3 && name.find(candidate) != std::string::npos);
                if (d <= 2 || related) {
                    scored.emplace_back(related ? std::min<size_t>(d, 1) : d, candidate);
                }
            }
        }
    }
    std::sort(scored.begin(), scored.end());
    std::vector<std::string> names;
    for (const auto &s : scored) {
        if (std::find(names.begin(), names.end(), s.second) == names.end()) {
            names.push_back(s.second);
        }
        if (names.size() == 5) {
            break;
        }
    }
    return names;
}

// The commands of each page that this interpreter has, with their summary,
// under the page's title.
std::string Listing(Tcl_Interp *interp, const std::vector<Page> &pages, size_t width)
{
    std::string text;
    for (const Page &page : pages) {
        std::string lines;
        for (const Entry &entry : page.entries) {
            for (const std::string &name : entry.names) {
                if (!IsCommand(interp, name)) {
                    continue;
                }
                std::string line = "  " + name;
                line.append(line.size() < 22 ? 22 - line.size() : 1, ' ');
                std::string summary = Inline(Summary(entry.description));
                size_t room = width > line.size() + 10 ? width - line.size() : 10;
                if (Cells(summary) > room) {
                    // Cut at a character, not inside one.
                    size_t cut = 0;
                    for (size_t cells = 0; cut < summary.size(); cut++) {
                        if ((summary[cut] & 0xC0) != 0x80 && ++cells > room - 3) {
                            break;
                        }
                    }
                    summary = summary.substr(0, cut) + "...";
                }
                lines += line + summary + "\n";
            }
        }
        if (!lines.empty()) {
            text += Inline(page.title) + "\n" + lines;
        }
    }
    text += "\nhelp NAME shows the synopsis and description of a command.";
    return text;
}

// help ?name?
int HelpObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc > 2) {
        return OrxX_WrongArgs(interp, objv[0], "?name?");
    }
    return orx::Guard(interp, [&] {
        std::vector<Page> pages = LoadPages(interp);
        if (pages.empty()) {
            return orx::SetError(interp, "no reference pages found under the installation");
        }
        size_t width = TextWidth(interp);
        if (objc == 1) {
            return Answer(interp, Listing(interp, pages, width));
        }
        std::string name = Tcl_GetString(objv[1]);
        if (name.compare(0, 2, "::") == 0) {
            name.erase(0, 2);
        }
        for (const Page &page : pages) {
            for (const Entry &entry : page.entries) {
                if (std::find(entry.names.begin(), entry.names.end(), name) ==
                    entry.names.end()) {
                    continue;
                }
                // A long synopsis line goes on indented, as a manual page has it.
                std::string text;
                orx::ForEachLine(entry.synopsis, [&](std::string_view line, int) {
                    Fill(&text, line, width, "", "    ");
                });
                text += "\n" + Render(entry.description, width) +
                                   "\n\n(" + Inline(page.title) + ")";
                return Answer(interp, text);
            }
        }
        // Tcl's own commands, and any other of the interpreter.
        std::string manual = ManualPage(interp, name);
        if (!manual.empty()) {
            std::string text = RenderManual(interp, manual, width);
            if (!text.empty()) {
                return Answer(interp, text);
            }
        }
        if (!manual.empty() || IsCommand(interp, name)) {
            return Answer(interp, CommandSynopsis(interp, name, manual));
        }
        std::vector<std::string> close = CloseNames(pages, name);
        std::string message = "no reference entry for \"" + name + "\"";
        if (!close.empty()) {
            message += "; close names:";
            for (const std::string &c : close) {
                message += " " + c;
            }
        }
        orx::SetError(interp, message);
        return orx::LookupCode(interp, "TOPIC", name);
    });
}

} // namespace

int OrxXHelpInit(Tcl_Interp *interp)
{
    Tcl_CreateObjCommand(interp, "help", HelpObjCmd, nullptr, nullptr);
    return TCL_OK;
}
