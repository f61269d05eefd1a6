// orx:MorvaListSplit: netlist statements (instance reference, nodes, "=",
// arguments; backslash-newline continues a line, double quotes protect
// across lines) split into the fields the options select.  References of the
// form path/name(template.ext) are renamed path/template.ext/name.
#include "orx_netsplit.h"

#include <climits>
#include <cstring>
#include <string>
#include <string_view>

#include "base/internal.h"

namespace {

struct Fields {
    bool path = false;
    bool instance = false;
    bool fullPath = false;
    bool nodes = false;
    bool arguments = false;
    bool netlist = false;
};

// gap is the blank between the usage's two lines, which differs by caller.
int Usage(Tcl_Interp *interp, const char *command, const char *gap)
{
    orx::SetError(interp, "command format error args: should be \"", command,
                  " ?-netlist? ?-fullpath | -path -instance? ?-nodes?", gap, "?-args? morvaList\"");
    return orx::UsageCode(interp);
}

// The text with every backslash-newline removed, as each scan would on
// meeting one (a pair formed by a removal is not looked at again).
std::string JoinContinuations(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

const char kTemplatePattern[] = "(.+/+)*(.+)\\((.+\\..+)\\)";

// An empty view for a subexpression that did not take part in the match.
std::string_view Submatch(Tcl_RegExp re, int index)
{
    const char *start = nullptr;
    const char *end = nullptr;
    Tcl_RegExpRange(re, index, &start, &end);
    return start == nullptr ? std::string_view() : std::string_view(start, end - start);
}

// path/name(template.ext) becomes path/template.ext/name; *lastSlash is
// then the inserted "/".  The match is made directly, not by evaluating a
// script with the reference pasted in, so no reference can run code; a
// reference that such a script could not have held (unbalanced braces) is
// left as it is.
void MapReference(Tcl_Interp *interp, Tcl_RegExp re, std::string *ref, size_t *lastSlash)
{
    if (re == nullptr || !orx::BracesHold(*ref) ||
        Tcl_RegExpExec(interp, re, ref->c_str(), ref->c_str()) != 1) {
        Tcl_ResetResult(interp);
        return;
    }
    std::string head(Submatch(re, 1));
    head.append(Submatch(re, 3));
    std::string mapped = head + "/" + std::string(Submatch(re, 2));
    *lastSlash = head.size();
    *ref = std::move(mapped);
}

// Path forms are always rooted.
std::string WithLeadingSlash(std::string_view text)
{
    return !text.empty() && text[0] == '/' ? std::string(text) : "/" + std::string(text);
}

void TrimTrailingBlanks(std::string_view *text)
{
    while (!text->empty() && (text->back() == ' ' || text->back() == '\t')) {
        text->remove_suffix(1);
    }
}

class Splitter {
public:
    Splitter(Tcl_Interp *interp, const Fields &fields, std::string text)
        : interp_(interp), fields_(fields), text_(std::move(text))
    {
        re_ = Tcl_RegExpCompile(interp, kTemplatePattern);
    }

    void Run(Tcl_Interp *interp)
    {
        size_t p = 0;
        while (p < text_.size()) {
            p = Statement(p);
        }
        out_.SetResult(interp);
    }

private:
    // Scan from i until an unquoted character of stops or the last
    // character of the text (which is taken).  Returns the end of the
    // scanned text; *stop is the stopping character, or 0 at the end.
    size_t ScanTo(size_t i, const char *stops, char *stop, size_t *lastSlash = nullptr)
    {
        size_t start = i;
        for (;; ++i) {
            char c = text_[i];
            if (!quoted_ && std::strchr(stops, c) != nullptr) {
                *stop = c;
                return i;
            }
            if (c == '"') {
                quoted_ = !quoted_;
            } else if (c == '/' && !quoted_ && lastSlash != nullptr) {
                *lastSlash = i - start;
            }
            if (i + 1 == text_.size()) {
                *stop = '\0';
                return text_.size();
            }
        }
    }

    void Field(std::string &statement, std::string_view text)
    {
        if (fields_.netlist) {
            orx::AppendBracedElement(statement, text);
        } else {
            out_.AppendBraced(text);
        }
    }

    // One statement from p; returns where the next one starts.
    size_t Statement(size_t p)
    {
        const size_t n = text_.size();
        char stop;
        size_t lastSlash = std::string::npos;
        size_t end = ScanTo(p, " \n=", &stop, &lastSlash);
        std::string ref = text_.substr(p, end - p);
        MapReference(interp_, re_, &ref, &lastSlash);

        std::string statement;
        bool hasSlash = lastSlash != std::string::npos;
        if (fields_.path && !fields_.fullPath) {
            Field(statement, hasSlash && lastSlash > 0
                                 ? WithLeadingSlash(std::string_view(ref).substr(0, lastSlash))
                                 : std::string("/"));
        }
        if (fields_.instance && !fields_.fullPath) {
            Field(statement, hasSlash ? std::string_view(ref).substr(lastSlash + 1) : ref);
        }
        if (fields_.fullPath) {
            Field(statement, WithLeadingSlash(ref));
        }

        std::string_view nodes;
        std::string_view arguments;
        size_t next;
        if (stop == '\0' || stop == '\n' || (stop == ' ' && end + 1 >= n)) {
            next = stop == '\n' ? end + 1 : n;
        } else {
            // An "=" ends the reference and, given back, the nodes at once.
            size_t from = stop == ' ' ? end + 1 : end;
            char nodeStop = '=';
            size_t nodesEnd = stop == '=' ? end : ScanTo(from, "=\n", &nodeStop);
            nodes = std::string_view(text_).substr(from, nodesEnd - from);
            TrimTrailingBlanks(&nodes);
            if (nodeStop != '=') {
                next = nodeStop == '\n' ? nodesEnd + 1 : n;
            } else {
                next = Arguments(nodesEnd, &arguments);
            }
        }
        if (fields_.nodes) {
            Field(statement, nodes);
        }
        if (fields_.arguments) {
            Field(statement, arguments);
        }
        if (fields_.netlist) {
            out_.AppendBraced(statement);
        }
        return next;
    }

    // The arguments after the "=" at i: past "=", blanks and backslashes, up
    // to the newline (quotes do not protect it here); that newline and one
    // more directly after it are passed over.
    size_t Arguments(size_t i, std::string_view *arguments)
    {
        const size_t n = text_.size();
        while (i < n && std::strchr("= \t\\", text_[i]) != nullptr && text_[i] != '\0') {
            ++i;
        }
        size_t start = i;
        while (i < n && text_[i] != '\n') {
            if (text_[i] == '"') {
                quoted_ = !quoted_;
            }
            ++i;
        }
        *arguments = std::string_view(text_).substr(start, i - start);
        if (i < n) {
            ++i;
            if (i < n && text_[i] == '\n') {
                ++i;
            }
        }
        return i;
    }

    Tcl_Interp *interp_;
    Fields fields_;
    std::string text_;
    Tcl_RegExp re_ = nullptr;
    bool quoted_ = false;
    orx::ResultText out_;
};

// Body of orx:MorvaListSplit, run under the out-of-memory guard.
int MorvaListSplit(Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc < 2 || argc > 7) {
        return Usage(interp, argv[0], "\t    ");
    }
    Fields fields;
    int selected = 0;
    int texts = 0;
    const char *text = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char *w = argv[i];
        bool *field = std::strcmp(w, "-fullpath") == 0    ? &fields.fullPath
                      : std::strcmp(w, "-path") == 0      ? &fields.path
                      : std::strcmp(w, "-instance") == 0  ? &fields.instance
                      : std::strcmp(w, "-nodes") == 0     ? &fields.nodes
                      : std::strcmp(w, "-arguments") == 0 ? &fields.arguments
                                                          : nullptr;
        if (field != nullptr) {
            *field = true;
            ++selected;
        } else if (std::strcmp(w, "-netlist") == 0) {
            fields.netlist = true;
        } else {
            ++texts;
            text = w;
        }
    }
    if (fields.fullPath && (fields.path || fields.instance)) {
        return Usage(interp, argv[0], "\t\t");
    }
    if (texts > 1) {
        return Usage(interp, argv[0], "\t\t    ");
    }
    if (text == nullptr) {
        orx::SetError(interp, "Must specify string to be parsed", argv[0],
                      "morva_netlist_line -options");
        return orx::UsageCode(interp);
    }
    if (selected == 0) {
        fields.fullPath = fields.nodes = fields.arguments = true;
    } else if (selected == 1) {
        fields.netlist = false;
    }
    Splitter splitter(interp, fields, JoinContinuations(text));
    splitter.Run(interp);
    return TCL_OK;
}

} // namespace

int Orx_MorvaListSplitCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    return orx::Guard(interp, [&] { return MorvaListSplit(interp, argc, argv); });
}
