// Line editing through libedit (the history file: platform/history.cpp). libedit reads
// characters through our function, so a wait for input gives way to signals
// (libedit itself would retry an interrupted read) and an event loop can
// feed it one character at a time.

#include "platform/orxplat.h"

#include <histedit.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

// Bytes of a partly typed line kept by libedit are multibyte text of the
// locale; the prompt is handed over the same way.
class LibEditor final : public OrxPlat_LineEditor {
public:
    explicit LibEditor(OrxPlat_EditHooks hooks) : hooks_(std::move(hooks)) {}
    ~LibEditor() override;
    bool Init(const char *program);

    OrxPlat_EditStatus ReadLine(const std::string &prompt, std::string *line) override;
    void Begin(const std::string &prompt) override;
    OrxPlat_EditStatus Feed(std::string *line) override;
    void End() override;
    bool Editing() const override { return charMode_; }
    unsigned LineSerial() const override { return lineSerial_; }
    void ClearLine() override;
    void Redraw() override;
    bool AddHistory(const std::string &entry) override;

private:
    static char *PromptOf(EditLine *el);
    static int GetChar(EditLine *el, wchar_t *c);
    static unsigned char CompleteKey(EditLine *el, int ch);

    int ReadChar(wchar_t *c);
    unsigned char Complete();
    void ListCandidates(const std::vector<std::string> &candidates);
    static OrxPlat_EditStatus LineOf(const char *text, int count, std::string *line);

    OrxPlat_EditHooks hooks_;
    EditLine *el_ = nullptr;
    History *history_ = nullptr;
    std::string prompt_;
    std::string lastEntry_;
    std::mbstate_t mbState_{};
    bool charMode_ = false;
    unsigned lineSerial_ = 0;
    bool abandoned_ = false;
    bool listedLast_ = false;   // the last completion key showed no progress
    std::string lastCompleted_; // the text it was pressed on
};

LibEditor::~LibEditor()
{
    if (el_ != nullptr) {
        if (charMode_) {
            el_set(el_, EL_UNBUFFERED, 0);
        }
        el_end(el_);
    }
    if (history_ != nullptr) {
        history_end(history_);
    }
}

// Sets up libedit with history, completion and the usual key bindings; ~/.editrc has the last word.
bool LibEditor::Init(const char *program)
{
    el_ = el_init(program, stdin, stdout, stderr);
    history_ = history_init();
    if (el_ == nullptr || history_ == nullptr) {
        return false;
    }
    HistEvent event;
    history(history_, &event, H_SETSIZE, 1000);
    history(history_, &event, H_SETUNIQUE, 1);
    el_set(el_, EL_CLIENTDATA, this);
    el_set(el_, EL_EDITOR, "emacs");
    el_set(el_, EL_SIGNAL, 0); // the shell owns the signals
    el_set(el_, EL_PROMPT, PromptOf);
    el_set(el_, EL_HIST, history, history_);
    el_set(el_, EL_GETCFN, GetChar);
    el_set(el_, EL_ADDFN, "orx-complete", "complete the word before the cursor", CompleteKey);
    // What users of other shells expect; ~/.editrc, read last, has the final word.
    const char *bindings[][2] = {
        {"^I", "orx-complete"},         {"^R", "em-inc-search-prev"},
        {"^W", "ed-delete-prev-word"},  {"^U", "em-kill-line"},
        {"\\e[H", "ed-move-to-beg"},     {"\\e[F", "ed-move-to-end"},
        {"\\eOH", "ed-move-to-beg"},     {"\\eOF", "ed-move-to-end"},
        {"\\e[1~", "ed-move-to-beg"},    {"\\e[4~", "ed-move-to-end"},
        {"\\e[3~", "ed-delete-next-char"}, {"\\e[1;5C", "em-next-word"},
        {"\\e[1;5D", "ed-prev-word"},
    };
    for (const auto &binding : bindings) {
        el_set(el_, EL_BIND, binding[0], binding[1], nullptr);
    }
    el_source(el_, nullptr);
    return true;
}

// libedit callbacks find their editor through the client data.
char *LibEditor::PromptOf(EditLine *el)
{
    void *data = nullptr;
    el_get(el, EL_CLIENTDATA, &data);
    return const_cast<char *>(static_cast<LibEditor *>(data)->prompt_.c_str());
}

int LibEditor::GetChar(EditLine *el, wchar_t *c)
{
    void *data = nullptr;
    el_get(el, EL_CLIENTDATA, &data);
    return static_cast<LibEditor *>(data)->ReadChar(c);
}

// 1 with a character, 0 at end of input, -1 on an error or a dropped line.
int LibEditor::ReadChar(wchar_t *c)
{
    for (;;) {
        int error = hooks_.wait ? hooks_.wait() : 0;
        if (error == EINTR) {
            if (hooks_.interrupted && hooks_.interrupted()) {
                abandoned_ = true;
                errno = EINTR;
                return -1;
            }
            continue;
        }
        unsigned char byte;
        ssize_t n = ::read(STDIN_FILENO, &byte, 1);
        if (n == 0) {
            return 0;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // Standard input may be non-blocking (an event loop set it).
                struct pollfd pfd = {STDIN_FILENO, POLLIN, 0};
                poll(&pfd, 1, 10);
                continue;
            }
            return -1;
        }
        char in = static_cast<char>(byte);
        size_t used = std::mbrtowc(c, &in, 1, &mbState_);
        if (used == static_cast<size_t>(-2)) {
            continue; // more bytes of this character to come
        }
        if (used == static_cast<size_t>(-1)) {
            // Not text of the locale: take the byte as it is.
            mbState_ = std::mbstate_t{};
            *c = static_cast<wchar_t>(byte);
        } else if (used == 0) {
            *c = L'\0';
        }
        return 1;
    }
}

// The line without its newline; a null text is end of input or an error.
OrxPlat_EditStatus LibEditor::LineOf(const char *text, int count, std::string *line)
{
    if (text == nullptr || count <= 0) {
        return count == 0 ? ORXPLAT_EDIT_END_OF_INPUT : ORXPLAT_EDIT_FAILED;
    }
    line->assign(text, static_cast<size_t>(count));
    if (!line->empty() && line->back() == '\n') {
        line->pop_back();
    }
    return ORXPLAT_EDIT_LINE;
}

OrxPlat_EditStatus LibEditor::ReadLine(const std::string &prompt, std::string *line)
{
    prompt_ = prompt;
    abandoned_ = false;
    // libedit shows the prompt before it takes the terminal over: keys typed
    // right after it would be echoed twice, and a Ctrl-D taken by the line
    // discipline.  Echo and line mode are off from here, and the terminal
    // goes back exactly as it was.
    struct termios before;
    bool restore = tcgetattr(STDIN_FILENO, &before) == 0;
    if (restore) {
        struct termios quiet = before;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON);
        quiet.c_cc[VMIN] = 1;
        quiet.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    int count = 0;
    const char *text = el_gets(el_, &count);
    if (restore) {
        tcsetattr(STDIN_FILENO, TCSANOW, &before);
    }
    if (abandoned_) {
        return ORXPLAT_EDIT_ABANDONED;
    }
    return LineOf(text, count, line);
}

void LibEditor::Begin(const std::string &prompt)
{
    prompt_ = prompt;
    abandoned_ = false;
    if (!charMode_) {
        charMode_ = true;
        lineSerial_++;
        el_set(el_, EL_UNBUFFERED, 1); // shows the prompt on a clean line
    }
}

OrxPlat_EditStatus LibEditor::Feed(std::string *line)
{
    if (!charMode_) {
        return ORXPLAT_EDIT_PENDING;
    }
    abandoned_ = false;
    int count = 0;
    const char *text = el_gets(el_, &count);
    if (abandoned_) {
        End();
        return ORXPLAT_EDIT_ABANDONED;
    }
    if (text == nullptr || count <= 0) {
        if (count == 0) {
            End();
            return ORXPLAT_EDIT_END_OF_INPUT;
        }
        // An interrupted read with the line kept.
        return errno == EINTR || errno == EAGAIN ? ORXPLAT_EDIT_PENDING : ORXPLAT_EDIT_FAILED;
    }
    if (count == 1 && text[0] == '\004') {
        // Character mode reports Ctrl-D on an empty line as the line "^D".
        End();
        return ORXPLAT_EDIT_END_OF_INPUT;
    }
    if (text[count - 1] != '\n') {
        return ORXPLAT_EDIT_PENDING;
    }
    OrxPlat_EditStatus status = LineOf(text, count, line);
    End(); // the command runs with the terminal as it was
    return status;
}

void LibEditor::End()
{
    if (charMode_) {
        charMode_ = false;
        el_set(el_, EL_UNBUFFERED, 0);
    }
}

void LibEditor::ClearLine()
{
    // Carriage return and erase to the end of the screen: a wrapped line
    // goes too.
    static const char clear[] = "\r\033[J";
    fflush(stdout);
    ssize_t ignored = ::write(STDOUT_FILENO, clear, sizeof clear - 1);
    (void)ignored;
}

void LibEditor::Redraw()
{
    ClearLine(); // whatever stands on the line goes: the redraw starts afresh
    el_set(el_, EL_REFRESH);
}

bool LibEditor::AddHistory(const std::string &entry)
{
    if (entry.empty() || entry == lastEntry_) {
        return false;
    }
    HistEvent event;
    if (history(history_, &event, H_ENTER, entry.c_str()) < 0) {
        return false;
    }
    lastEntry_ = entry;
    return true;
}

// Completion key handler; an exception must not unwind through libedit.
unsigned char LibEditor::CompleteKey(EditLine *el, int)
{
    void *data = nullptr;
    el_get(el, EL_CLIENTDATA, &data);
    try {
        return static_cast<LibEditor *>(data)->Complete();
    } catch (...) {
        return CC_ERROR; // completion never breaks the line
    }
}

unsigned char LibEditor::Complete()
{
    const LineInfo *info = el_line(el_);
    std::string before(info->buffer, static_cast<size_t>(info->cursor - info->buffer));
    size_t stem = 0;
    std::vector<std::string> candidates;
    if (hooks_.complete) {
        candidates = hooks_.complete(before, &stem);
    }
    stem = std::min(stem, before.size());
    bool again = listedLast_ && lastCompleted_ == before;
    listedLast_ = false;
    if (candidates.empty()) {
        return CC_ERROR;
    }
    std::string common = candidates.front();
    for (const std::string &candidate : candidates) {
        size_t n = 0;
        while (n < common.size() && n < candidate.size() && common[n] == candidate[n]) {
            n++;
        }
        common.resize(n);
    }
    std::string typed = before.substr(before.size() - stem);
    if (common.size() > typed.size() && common.compare(0, typed.size(), typed) == 0) {
        el_insertstr(el_, common.c_str() + typed.size());
        return CC_REFRESH;
    }
    if (candidates.size() == 1) {
        return CC_NORM;
    }
    if (!again) {
        listedLast_ = true;
        lastCompleted_ = before;
        return CC_ERROR; // a bell; the second press lists
    }
    listedLast_ = true;
    ListCandidates(candidates);
    return CC_REDISPLAY;
}

// Shows the candidates in columns as wide as the terminal.
void LibEditor::ListCandidates(const std::vector<std::string> &candidates)
{
    size_t width = 0;
    for (const std::string &candidate : candidates) {
        width = std::max(width, candidate.size());
    }
    width += 2;
    struct winsize size;
    size_t columns = 80;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        columns = size.ws_col;
    }
    size_t perRow = std::max<size_t>(1, columns / width);
    size_t rows = (candidates.size() + perRow - 1) / perRow;
    std::string text = "\n";
    for (size_t row = 0; row < rows; row++) {
        for (size_t col = 0; col < perRow; col++) {
            size_t index = col * rows + row; // down the columns, as ls does
            if (index >= candidates.size()) {
                continue;
            }
            text += candidates[index];
            if (col + 1 < perRow && index + rows < candidates.size()) {
                text.append(width - candidates[index].size(), ' ');
            }
        }
        text += '\n';
    }
    fflush(stdout);
    // The terminal is in editing mode: end lines with a carriage return too.
    std::string out;
    for (char ch : text) {
        if (ch == '\n') {
            out += '\r';
        }
        out += ch;
    }
    ssize_t ignored = ::write(STDOUT_FILENO, out.data(), out.size());
    (void)ignored;
}

} // namespace

bool OrxPlat_EditingWanted()
{
    const char *off = std::getenv("ORX_NO_EDIT");
    if (off != nullptr && *off != '\0') {
        return false;
    }
    const char *term = std::getenv("TERM");
    if (term == nullptr || *term == '\0' || std::strcmp(term, "dumb") == 0) {
        return false;
    }
    return isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
}

std::unique_ptr<OrxPlat_LineEditor> OrxPlat_LineEditor::Open(const char *program,
                                                             OrxPlat_EditHooks hooks)
{
    auto editor = std::make_unique<LibEditor>(std::move(hooks));
    if (!editor->Init(program)) {
        return nullptr;
    }
    return editor;
}
