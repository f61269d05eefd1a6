// Line editing through libedit (the history file: platform/history.cpp). libedit reads
// characters through our function, so a wait for input gives way to signals
// (libedit itself would retry an interrupted read) and an event loop can
// feed it one character at a time.

#include "platform/orxplat.h"
#include "posix.h"

#include <dlfcn.h>
#include <histedit.h>
#include <locale.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <string>
#include <type_traits>

namespace {

// libedit is opened when a terminal first asks for the editor, not linked:
// scripts, pipes and -c never pay for loading it (and the four libraries it
// brings). The pointers keep libedit's own names and types.
#define ORX_EDIT_FUNCTIONS(X)                                                                  \
    X(el_init) X(el_end) X(el_set) X(el_get) X(el_source) X(el_resize) X(el_wline) X(el_gets)  \
    X(el_line) X(el_insertstr) X(el_deletestr) X(history_init) X(history_end) X(history)
struct EditFunctions {
#define ORX_EDIT_FN(name) decltype(&::name) name = nullptr;
    ORX_EDIT_FUNCTIONS(ORX_EDIT_FN)
#undef ORX_EDIT_FN
};
EditFunctions g_edit;

// True once every function is found; a missing or incomplete libedit leaves
// the shell to read plain lines.
bool LoadLibEdit()
{
    static const bool loaded = [] {
        void *lib = dlopen("libedit.so.2", RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr) {
            return false;
        }
        bool all = true;
        auto find = [&](auto &slot, const char *name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(dlsym(lib, name));
            all = all && slot != nullptr;
        };
#define ORX_EDIT_FIND(name) find(g_edit.name, #name);
        ORX_EDIT_FUNCTIONS(ORX_EDIT_FIND)
#undef ORX_EDIT_FIND
        return all; // the library stays loaded: its pointers are in use
    }();
    return loaded;
}

// In the C locale the C library knows no character above 127, and libedit
// would drop whatever the user types beyond ASCII.  There the editor works
// in UTF-8 (what terminals send), so the bytes typed come back unchanged;
// a locale with 8-bit characters of its own is used as it is.
locale_t EditingLocale()
{
    static locale_t chosen = [] {
        wchar_t wc;
        std::mbstate_t state{};
        if (MB_CUR_MAX > 1 || std::mbrtowc(&wc, "\xe9", 1, &state) == 1) {
            return static_cast<locale_t>(nullptr);
        }
        return newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    }();
    return chosen;
}

// The editing locale for this thread while libedit runs.
class LocaleScope {
public:
    LocaleScope() : saved_(EditingLocale() != nullptr ? uselocale(EditingLocale()) : nullptr) {}
    ~LocaleScope()
    {
        if (saved_ != nullptr) {
            uselocale(saved_);
        }
    }
    LocaleScope(const LocaleScope &) = delete;
    LocaleScope &operator=(const LocaleScope &) = delete;

private:
    locale_t saved_;
};

// To the terminal, after what libedit has buffered.
void WriteOut(const std::string &text)
{
    fflush(stdout);
    orx::posix::WriteAll(STDOUT_FILENO, text.data(), text.size());
}

// The terminal's size; 80 by 24 when it does not say.
void WindowSize(size_t *columns, size_t *rows)
{
    int cols = 80;
    int lines = 24;
    OrxPlat_TerminalSize(STDOUT_FILENO, &cols, &lines);
    *columns = static_cast<size_t>(cols);
    *rows = static_cast<size_t>(lines);
}

constexpr wchar_t kEscape = 033;
constexpr wchar_t kQuote = 026; // ^V, bound to ed-quoted-insert
constexpr int kIdleMs = 100;
constexpr int kPasteQuietMs = 300; // a pause after which a paste is likely, typing not

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
    bool Pending() const override { return !queued_.empty() || !raw_.empty(); }
    void Idle() override;
    bool AddHistory(const std::string &entry) override;

private:
    static char *PromptOf(EditLine *el);
    static int GetChar(EditLine *el, wchar_t *c);
    static unsigned char CompleteKey(EditLine *el, int ch);

    int ReadChar(wchar_t *c);
    int NextByte(unsigned char *byte, int timeoutMs);
    void ReadEscape();
    void ReadPaste();
    void Queue(const std::string &bytes, bool literal);
    void TrackSearch(wchar_t c);
    void SetPasteMode(bool on);
    void CheckWindow();
    bool FollowWindow();
    void RedrawLine(size_t oldColumns);
    unsigned char Complete();
    void ListCandidates(const std::vector<std::string> &candidates);
    int AskKey();
    const char *Gets(int *count);
    static OrxPlat_EditStatus LineOf(const char *text, int count, std::string *line);

    OrxPlat_EditHooks hooks_;
    EditLine *el_ = nullptr;
    History *history_ = nullptr;
    std::string prompt_;
    std::string lastEntry_;
    std::mbstate_t mbState_{};
    bool charMode_ = false;
    bool inGets_ = false;       // inside el_gets: libedit draws the line
    unsigned lineSerial_ = 0;
    bool abandoned_ = false;
    bool listedLast_ = false;   // the last completion key showed no progress
    std::string lastCompleted_; // the text it was pressed on
    std::string raw_;           // bytes read from the terminal, not yet decoded
    std::deque<wchar_t> queued_; // characters for libedit ahead of the terminal
    bool searching_ = false;    // in an incremental search
    bool pasteMode_ = false;    // the terminal brackets pasted text
    bool pasting_ = false;      // reading the text of a paste
    bool asking_ = false;       // waiting for the answer to a question of the listing
    size_t columns_ = 0;
    size_t rows_ = 0;
    std::chrono::steady_clock::time_point lastKey_; // or the line's start
};

LibEditor::~LibEditor()
{
    SetPasteMode(false);
    LocaleScope locale;
    if (el_ != nullptr) {
        if (charMode_) {
            g_edit.el_set(el_, EL_UNBUFFERED, 0);
        }
        g_edit.el_end(el_);
    }
    if (history_ != nullptr) {
        g_edit.history_end(history_);
    }
}

// Sets up libedit with history, completion and the usual key bindings; ~/.editrc has the last word.
bool LibEditor::Init(const char *program)
{
    LocaleScope locale;
    WindowSize(&columns_, &rows_);
    el_ = g_edit.el_init(program, stdin, stdout, stderr);
    history_ = g_edit.history_init();
    if (el_ == nullptr || history_ == nullptr) {
        return false;
    }
    HistEvent event;
    g_edit.history(history_, &event, H_SETSIZE, 1000);
    g_edit.history(history_, &event, H_SETUNIQUE, 1);
    g_edit.el_set(el_, EL_CLIENTDATA, this);
    g_edit.el_set(el_, EL_EDITOR, "emacs");
    g_edit.el_set(el_, EL_SIGNAL, 0); // the shell owns the signals
    g_edit.el_set(el_, EL_PROMPT, PromptOf);
    g_edit.el_set(el_, EL_HIST, g_edit.history, history_);
    g_edit.el_set(el_, EL_GETCFN, GetChar);
    g_edit.el_set(el_, EL_ADDFN, "orx-complete", "complete the word before the cursor", CompleteKey);
    // What users of other shells expect; ~/.editrc, read last, has the final word.
    const char *bindings[][2] = {
        {"^I", "orx-complete"},         {"^R", "em-inc-search-prev"},
        {"^W", "ed-delete-prev-word"},  {"^U", "em-kill-line"},
        {"^V", "ed-quoted-insert"},
        {"\\e[H", "ed-move-to-beg"},     {"\\e[F", "ed-move-to-end"},
        {"\\eOH", "ed-move-to-beg"},     {"\\eOF", "ed-move-to-end"},
        {"\\e[1~", "ed-move-to-beg"},    {"\\e[4~", "ed-move-to-end"},
        {"\\e[3~", "ed-delete-next-char"}, {"\\e[1;5C", "em-next-word"},
        {"\\e[1;5D", "ed-prev-word"},
    };
    for (const auto &binding : bindings) {
        g_edit.el_set(el_, EL_BIND, binding[0], binding[1], nullptr);
    }
    // libedit's insert and delete in place count a wide character as one
    // column: without them it writes the rest of the line, and gets it right.
    for (const char *capability : {"im", "ic", "IC", "ei", "dc", "DC"}) {
        g_edit.el_set(el_, EL_SETTC, capability, "", nullptr);
    }
    g_edit.el_source(el_, nullptr);
    return true;
}

// libedit callbacks find their editor through the client data.
char *LibEditor::PromptOf(EditLine *el)
{
    void *data = nullptr;
    g_edit.el_get(el, EL_CLIENTDATA, &data);
    return const_cast<char *>(static_cast<LibEditor *>(data)->prompt_.c_str());
}

int LibEditor::GetChar(EditLine *el, wchar_t *c)
{
    void *data = nullptr;
    g_edit.el_get(el, EL_CLIENTDATA, &data);
    try {
        return static_cast<LibEditor *>(data)->ReadChar(c);
    } catch (...) {
        return -1; // no exception unwinds through libedit
    }
}

// 1 with a byte, 0 at end of input or when timeoutMs (not negative) passed
// without one, -1 on an error or a dropped line.  Waiting, the editor turns
// bracketed paste on once the user has paused and follows the window size.
int LibEditor::NextByte(unsigned char *byte, int timeoutMs)
{
    int waited = 0;
    while (raw_.empty()) {
        struct pollfd pfd = {STDIN_FILENO, POLLIN, 0};
        int step = timeoutMs < 0 ? kIdleMs : std::min(kIdleMs, timeoutMs - waited);
        int ready = poll(&pfd, 1, step);
        if (ready == 0) {
            waited += step;
            if (timeoutMs >= 0 && waited >= timeoutMs) {
                return 0;
            }
            Idle();
            if (!Tcl_AsyncReady()) {
                continue;
            }
        }
        int error = hooks_.wait ? hooks_.wait() : 0;
        if (error == EINTR) {
            if (hooks_.interrupted && hooks_.interrupted()) {
                abandoned_ = true;
                errno = EINTR;
                return -1;
            }
            continue;
        }
        unsigned char first;
        ssize_t n = ::read(STDIN_FILENO, &first, 1);
        if (n == 0) {
            return timeoutMs < 0 ? 0 : -1;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // Standard input may be non-blocking (an event loop set it).
                continue;
            }
            return -1;
        }
        lastKey_ = std::chrono::steady_clock::now();
        // What has arrived with it, up to a line end: the rest stays for
        // whoever reads the terminal after the command has begun.
        raw_ += static_cast<char>(first);
        for (unsigned char more = first; more != '\r' && more != '\n';) {
            int available = 0;
            if (ioctl(STDIN_FILENO, FIONREAD, &available) != 0 || available <= 0 ||
                ::read(STDIN_FILENO, &more, 1) != 1) {
                break;
            }
            raw_ += static_cast<char>(more);
        }
        // A typed line end: bracketed paste goes off before the newline
        // shows, as the command runs without it.
        if (pasteMode_ && !pasting_ && raw_.find_first_of("\r\n") != std::string::npos &&
            raw_.find("\033[200~") == std::string::npos) {
            SetPasteMode(false);
        }
    }
    *byte = static_cast<unsigned char>(raw_[0]);
    raw_.erase(0, 1);
    return 1;
}

// Decode bytes of the terminal into characters for libedit; literal ones
// (pasted) get ^V before each control character, so none acts as a key,
// and a line end in them ends the line.
void LibEditor::Queue(const std::string &bytes, bool literal)
{
    for (size_t i = 0; i < bytes.size(); i++) {
        unsigned char byte = static_cast<unsigned char>(bytes[i]);
        char in = static_cast<char>(byte);
        wchar_t c;
        size_t used = std::mbrtowc(&c, &in, 1, &mbState_);
        if (used == static_cast<size_t>(-2)) {
            continue; // more bytes of this character to come
        }
        if (used == static_cast<size_t>(-1)) {
            // Not text of the locale: take the byte as it is.
            mbState_ = std::mbstate_t{};
            c = static_cast<wchar_t>(byte);
        } else if (used == 0) {
            c = L'\0';
        }
        if (literal && (c == L'\r' || c == L'\n')) {
            if (c == L'\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
                i++;
            }
            queued_.push_back(L'\r');
            continue;
        }
        if (literal && (c < 040 || c == 0177)) {
            queued_.push_back(kQuote);
        }
        queued_.push_back(c);
    }
}

// After ESC: the rest of a key's sequence, a paste, or nothing.  A key
// that arrives during a search ends it first (as ESC does), then acts.
void LibEditor::ReadEscape()
{
    std::string sequence = "\033";
    unsigned char byte;
    if (NextByte(&byte, 50) == 1) {
        sequence += static_cast<char>(byte);
        if (byte == '[' || byte == 'O') {
            // CSI: parameters up to a final byte; SS3: one byte.
            while (sequence.size() < 16 && NextByte(&byte, 50) == 1) {
                sequence += static_cast<char>(byte);
                if (sequence[1] == 'O' || (byte >= 0x40 && byte <= 0x7e)) {
                    break;
                }
            }
        }
    }
    if (sequence == "\033[200~") {
        ReadPaste();
        return;
    }
    if (searching_ && sequence.size() > 1) {
        queued_.push_back(kEscape);
    }
    Queue(sequence, false);
}

// The pasted text up to the closing bracket, all of it literal.
void LibEditor::ReadPaste()
{
    static const char kEnd[] = "\033[201~";
    std::string text;
    unsigned char byte;
    pasting_ = true;
    while (NextByte(&byte, -1) == 1) {
        text += static_cast<char>(byte);
        if (text.size() >= 6 && text.compare(text.size() - 6, 6, kEnd) == 0) {
            text.resize(text.size() - 6);
            break;
        }
    }
    pasting_ = false;
    Queue(text, true);
}

// Follows libedit's incremental search: ^R starts one, a line end, ^G,
// ESC or another control key (but those the search takes) ends it.
void LibEditor::TrackSearch(wchar_t c)
{
    if (c == 022 || c == 023) {
        searching_ = true;
    } else if (searching_ && c < 040 && c != 010 && c != 027) {
        searching_ = false;
    }
}

// 1 with a character, 0 at end of input, -1 on an error or a dropped line.
int LibEditor::ReadChar(wchar_t *c)
{
    while (queued_.empty()) {
        if (abandoned_) {
            errno = EINTR; // dropped while a sequence or paste was read
            return -1;
        }
        unsigned char byte;
        int got = NextByte(&byte, -1);
        if (got <= 0) {
            return got;
        }
        if (byte == 033) {
            ReadEscape();
        } else {
            Queue(std::string(1, static_cast<char>(byte)), false);
        }
    }
    *c = queued_.front();
    queued_.pop_front();
    TrackSearch(*c);
    return 1;
}

void LibEditor::SetPasteMode(bool on)
{
    if (pasteMode_ != on) {
        pasteMode_ = on;
        WriteOut(on ? "\033[?2004h" : "\033[?2004l");
    }
}

// Bracketed paste goes on once the user pauses at a line: never between
// output and the prompt that follows it.
void LibEditor::Idle()
{
    if ((!inGets_ && !charMode_) || asking_) {
        return;
    }
    auto quiet = std::chrono::steady_clock::now() - lastKey_;
    if (quiet >= std::chrono::milliseconds(kPasteQuietMs)) {
        SetPasteMode(true);
    }
    try {
        CheckWindow();
    } catch (...) {
        // Out of memory for the redraw: the line is drawn at the next key.
    }
}

// A line begins in the window's present size (it may have changed while a
// command ran); during the line a change redraws it.
bool LibEditor::FollowWindow()
{
    size_t columns, rows;
    WindowSize(&columns, &rows);
    if (columns == columns_ && rows == rows_) {
        return false;
    }
    columns_ = columns;
    rows_ = rows;
    LocaleScope locale;
    g_edit.el_resize(el_);
    return true;
}

void LibEditor::CheckWindow()
{
    size_t oldColumns = columns_;
    if (FollowWindow()) {
        LocaleScope locale;
        RedrawLine(oldColumns);
    }
}

// The prompt and line drawn afresh from the line's first row, which is
// found in the width the line was drawn in (0: the cursor is on it).
void LibEditor::RedrawLine(size_t oldColumns)
{
    const LineInfoW *info = g_edit.el_wline(el_);
    size_t width = 0;
    for (const char *p = prompt_.c_str(); *p != '\0'; p++) {
        width += (static_cast<unsigned char>(*p) & 0xc0) != 0x80 ? 1 : 0;
    }
    for (const wchar_t *p = info->buffer; p < info->cursor; p++) {
        int w = wcwidth(*p);
        width += w > 0 ? static_cast<size_t>(w) : (*p < 040 ? 2 : 0);
    }
    size_t up = oldColumns > 0 ? width / oldColumns : 0;
    std::string move = "\r";
    if (up > 0) {
        move += "\033[" + std::to_string(up) + "A";
    }
    WriteOut(move + "\033[J");
    g_edit.el_set(el_, EL_REFRESH);
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
    lastKey_ = std::chrono::steady_clock::now();
    FollowWindow();
    const char *text = Gets(&count);
    if (restore) {
        tcsetattr(STDIN_FILENO, TCSANOW, &before);
    }
    if (abandoned_) {
        return ORXPLAT_EDIT_ABANDONED;
    }
    SetPasteMode(false);
    return LineOf(text, count, line);
}

void LibEditor::Begin(const std::string &prompt)
{
    prompt_ = prompt;
    abandoned_ = false;
    if (!charMode_) {
        charMode_ = true;
        lineSerial_++;
        lastKey_ = std::chrono::steady_clock::now();
        FollowWindow();
        LocaleScope locale;
        g_edit.el_set(el_, EL_UNBUFFERED, 1); // shows the prompt on a clean line
    }
}

OrxPlat_EditStatus LibEditor::Feed(std::string *line)
{
    if (!charMode_) {
        return ORXPLAT_EDIT_PENDING;
    }
    abandoned_ = false;
    for (;;) {
        int count = 0;
        const char *text = Gets(&count);
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
        if (text[count - 1] == '\n') {
            OrxPlat_EditStatus status = LineOf(text, count, line);
            End(); // the command runs with the terminal as it was
            return status;
        }
        if (!Pending()) {
            return ORXPLAT_EDIT_PENDING;
        }
        // The rest of a key sequence or paste read ahead: on with it.
    }
}

void LibEditor::End()
{
    if (charMode_) {
        charMode_ = false;
        LocaleScope locale;
        g_edit.el_set(el_, EL_UNBUFFERED, 0);
    }
    SetPasteMode(false);
}

void LibEditor::ClearLine()
{
    // Carriage return and erase to the end of the screen: a wrapped line
    // goes too.
    WriteOut("\r\033[J");
}

void LibEditor::Redraw()
{
    LocaleScope locale;
    RedrawLine(0); // whatever stands on the line goes: the redraw starts afresh
}

bool LibEditor::AddHistory(const std::string &entry)
{
    if (entry.empty() || entry == lastEntry_) {
        return false;
    }
    HistEvent event;
    if (g_edit.history(history_, &event, H_ENTER, entry.c_str()) < 0) {
        return false;
    }
    lastEntry_ = entry;
    return true;
}

// Completion key handler; an exception must not unwind through libedit.
unsigned char LibEditor::CompleteKey(EditLine *el, int)
{
    void *data = nullptr;
    g_edit.el_get(el, EL_CLIENTDATA, &data);
    try {
        return static_cast<LibEditor *>(data)->Complete();
    } catch (...) {
        return CC_ERROR; // completion never breaks the line
    }
}

unsigned char LibEditor::Complete()
{
    const LineInfo *info = g_edit.el_line(el_);
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
        g_edit.el_insertstr(el_, common.c_str() + typed.size());
        return CC_REFRESH;
    }
    if (candidates.size() == 1 || (common.size() > typed.size() && !common.empty())) {
        // Typed in another form (quoted, escaped): the word is written anew.
        if (common != typed && !common.empty()) {
            g_edit.el_deletestr(el_, static_cast<int>(stem));
            g_edit.el_insertstr(el_, common.c_str());
            return CC_REFRESH;
        }
        if (candidates.size() == 1) {
            return CC_NORM;
        }
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

// libedit's el_gets in the editing locale, with the line marked as libedit's
// to draw while it runs.
const char *LibEditor::Gets(int *count)
{
    LocaleScope locale;
    inGets_ = true;
    const char *text = g_edit.el_gets(el_, count);
    inGets_ = false;
    return text;
}

// A key for a question of the listing (lower case); -1 when input ends.
int LibEditor::AskKey()
{
    wchar_t c;
    asking_ = true; // the line is not on the screen to be redrawn
    int got = ReadChar(&c);
    asking_ = false;
    if (got != 1) {
        return -1;
    }
    return c < 0200 ? std::tolower(static_cast<int>(c)) : 0;
}

// Shows the candidates in columns as wide as the terminal; more than a
// screenful only when the user says so, a screenful at a time.
void LibEditor::ListCandidates(const std::vector<std::string> &candidates)
{
    size_t width = 0;
    for (const std::string &candidate : candidates) {
        width = std::max(width, candidate.size());
    }
    width += 2;
    size_t columns, screenRows;
    WindowSize(&columns, &screenRows);
    size_t perRow = std::max<size_t>(1, columns / width);
    size_t rows = (candidates.size() + perRow - 1) / perRow;
    // The terminal is in editing mode: lines end with a carriage return too.
    std::vector<std::string> lines;
    for (size_t row = 0; row < rows; row++) {
        std::string text;
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
        lines.push_back(text + "\r\n");
    }
    size_t page = std::max<size_t>(1, screenRows - 1);
    WriteOut("\r\n");
    if (rows > page) {
        WriteOut("Display all " + std::to_string(candidates.size()) +
                 " possibilities? (y or n)");
        int key = AskKey();
        WriteOut("\r\n");
        if (key != 'y') {
            return;
        }
    }
    size_t shown = 0;
    size_t until = page;
    while (shown < lines.size()) {
        if (shown == until) {
            WriteOut("--More--");
            int key = AskKey();
            while (key != ' ' && key != 'y' && key != 'q' && key != 'n' && key != '\r' &&
                   key != '\n' && key != -1) {
                WriteOut("\a");
                key = AskKey();
            }
            WriteOut("\r\033[K");
            if (key == 'q' || key == 'n' || key == -1) {
                return;
            }
            until += key == ' ' || key == 'y' ? page : 1;
        }
        WriteOut(lines[shown++]);
    }
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
    if (!LoadLibEdit()) {
        return nullptr;
    }
    auto editor = std::make_unique<LibEditor>(std::move(hooks));
    if (!editor->Init(program)) {
        return nullptr;
    }
    return editor;
}
