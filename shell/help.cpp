// The help command: reads the reference pages installed with the shell
// (<installation>/doc/reference/*.md), the same files a reader opens, so the
// reference stays the one source of what help prints.

#include "orx_help.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
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
    for (const Page &page : pages) {
        for (const Entry &entry : page.entries) {
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
std::string Listing(Tcl_Interp *interp, const std::vector<Page> &pages)
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
                lines += line + Summary(entry.description) + "\n";
            }
        }
        if (!lines.empty()) {
            text += page.title + "\n" + lines;
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
        if (objc == 1) {
            Tcl_SetObjResult(interp, orx::NewStringObj(Listing(interp, pages)));
            return TCL_OK;
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
                std::string text = entry.synopsis + "\n\n" + entry.description + "\n\n(" +
                                   page.title + ")";
                Tcl_SetObjResult(interp, orx::NewStringObj(text));
                return TCL_OK;
            }
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
