// Line editing on a POSIX terminal through libedit: one editor per process
// (there is one terminal), read either a whole line at a time or one
// character at a time from an event loop, with history and a completion
// hook.  The history file is ours: one entry per line, shared safely by
// shells that run at the same time.  Nothing here knows Tcl.
#ifndef ORX_PLATFORM_LINEEDIT_H
#define ORX_PLATFORM_LINEEDIT_H

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orx::lineedit {

enum class Status {
    Line,       // *line holds a complete line, without its newline
    EndOfInput, // Ctrl-D on an empty line, or the terminal went away
    Abandoned,  // the interrupt hook asked to drop the line being typed
    Pending,    // character mode: the line is not complete yet
    Failed,     // a read error other than an interrupt (errno is set)
};

struct Hooks {
    // Block until standard input can be read: 0, or EINTR when the caller
    // has asynchronous work (a signal) to do first.
    std::function<int()> wait;
    // Run the asynchronous work.  True drops the line being typed.
    std::function<bool()> interrupted;
    // Candidates for the word that ends the text before the cursor: each a
    // whole replacement for the last *stemBytes bytes of that text.
    std::function<std::vector<std::string>(const std::string &before, size_t *stemBytes)>
        complete;
};

// Whether editing applies: standard input and output are terminals, the
// terminal is not "dumb", and ORX_NO_EDIT is unset or empty.
bool Wanted();

class Editor {
public:
    // Null when libedit cannot run on this terminal.
    static std::unique_ptr<Editor> Open(const char *program, Hooks hooks);
    virtual ~Editor() = default;

    // Read one line with this prompt (blocking).
    virtual Status ReadLine(const std::string &prompt, std::string *line) = 0;

    // Character mode for event loops: Begin shows the prompt and puts the
    // terminal in editing mode; Feed consumes what standard input holds and
    // returns Line (terminal back in normal mode: Begin again for the next
    // line), Pending, EndOfInput or Failed; End leaves editing mode and
    // drops the line.
    virtual void Begin(const std::string &prompt) = 0;
    virtual Status Feed(std::string *line) = 0;
    virtual void End() = 0;
    virtual bool Editing() const = 0;
    // Counts the lines begun in character mode: tells a line from the next.
    virtual unsigned LineSerial() const = 0;

    // Clear the line on screen before other output; Redraw puts the prompt
    // and the line being typed back after it.
    virtual void ClearLine() = 0;
    virtual void Redraw() = 0;

    // In-memory history: empty entries and repeats of the last are skipped.
    // Returns whether the entry was added.
    virtual bool AddHistory(const std::string &entry) = 0;
};

// History files: entries one per line, "\" and newline escaped, so a
// multi-line command is one entry.  Writers hold an exclusive lock on
// "<path>.lock" while they change the file.

// Entries of a history file, oldest first (none when it cannot be read).
std::vector<std::string> LoadHistoryFile(const std::string &path);

// Append one entry; the file is created with mode 0600.  False when the
// file cannot be written.
bool AppendHistoryFile(const std::string &path, const std::string &entry);

// Keep only the newest keep entries: written to a temporary file that is
// renamed over the old one, so a reader sees the old or the new file.
bool TrimHistoryFile(const std::string &path, size_t keep);

// The escaped form of an entry, and the entry of a file line (any text is
// taken: a "\" at the end stands for itself).
inline std::string EscapeHistoryEntry(const std::string &entry)
{
    std::string out;
    out.reserve(entry.size() + 8);
    for (char c : entry) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

inline std::string UnescapeHistoryLine(const std::string &line)
{
    std::string out;
    out.reserve(line.size());
    for (size_t i = 0; i < line.size(); i++) {
        if (line[i] != '\\' || i + 1 == line.size()) {
            out += line[i];
            continue;
        }
        char next = line[++i];
        out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return out;
}

} // namespace orx::lineedit

#endif
