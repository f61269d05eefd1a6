// The operating-system seam: every system call that differs between systems,
// behind OrxPlat_ functions (and the line editor).  Declared once here;
// platform/os_posix/ implements it for POSIX, and a second system is a second
// folder implementing the same header.  Only tcl.h and standard C++ headers.
#ifndef ORX_PLATFORM_ORXPLAT_H
#define ORX_PLATFORM_ORXPLAT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <tcl.h>
#include <vector>

// ==== os ====
// POSIX stand-ins for the system calls behind the identity and network
// commands and the per-user directory: user name and home directory, host and
// service look-ups.  The exported OrxXOS functions (include/orx_os.h) are
// implemented next to these, in os_posix.cpp.


// Name of the effective user.  0, or an errno value (ENOENT when the user has
// no entry in the user database).
int OrxPlat_UserName(std::string *name);

// Home directory of the effective user in the user database (empty when the
// entry has none).  0, or an errno value as for OrxPlat_UserName.
int OrxPlat_UserHomeDir(std::string *dir);

// The user's home directory: $HOME as Tcl's "~" expands it, else the
// effective user's entry in the user database; empty when neither is known.
std::string OrxPlat_HomeDir();

// An IPv4 address in any of the dotted forms ("a.b.c.d", "a.b.c", "a.b",
// "a"; decimal, octal or hex parts), the whole text and nothing else.  Stores
// the address in host byte order.
bool OrxPlat_ParseIPv4(const char *text, uint32_t *address);

// First IPv4 address of a host name (host byte order).
bool OrxPlat_HostByName(const char *name, uint32_t *address);

// Official name of the host with this IPv4 address (host byte order).
bool OrxPlat_HostByAddr(uint32_t address, std::string *name);

// Services database (/etc/services and whatever the name service adds), any
// protocol.  Store the service's official name and its port.
bool OrxPlat_ServByName(const char *name, std::string *official, int *port);
bool OrxPlat_ServByPort(int port, std::string *official);

// ==== pidfile ====
// Names of the per-user Orx directory and of the pid file in it.  Shared by
// start-up (which creates the directory and hands the pid path to the signal
// thread) and by kill (which looks target threads up in the file), so both
// agree on one name.


// "<home>/ruvadiredavoz", home being $HOME as Tcl's "~" expands it, or the
// home directory of the effective user when HOME is unset or empty.  Empty
// when neither is known.
std::string OrxPlat_UserDirName();

// "<home>/ruvadiredavoz/pid_tq", or empty when the home directory is unknown.
std::string OrxPlat_PidFileName();

// ==== cmdline ====
// The process's raw command line, the stand-in for the Windows command-line
// text: rebuilt from the argument vector the kernel holds, quoted so that the
// Windows splitting rules give the same vector back.


// One argument quoted for the Windows splitting rules (appended to *line).
void OrxPlat_QuoteCmdArg(const std::string &arg, std::string *line);

// The arguments joined by blanks, each quoted as needed.
std::string OrxPlat_JoinCmdLine(const std::vector<std::string> &args);

// The raw command line of this process (from /proc/self/cmdline); empty when
// it cannot be read.  May throw std::bad_alloc.
std::string OrxPlat_RawCommandLine();

// ==== cmdinput ====
// Waiting for command input on a channel in a way an interrupt can break:
// the channel layer of Tcl retries reads that a signal interrupts, so the
// command loops wait for input here first.


namespace orx::cmdinput {

// Block until channel has input (or end of file, or an error) to read.
// Returns 0 when reading can go on, or EINTR when Tcl has asynchronous
// handlers ready (a signal arrived) first.
// Channels with buffered input, and those without an OS handle, return 0.
int WaitForInput(Tcl_Channel channel);

} // namespace orx::cmdinput

// ==== sigcatch ====
// Catching signals, POSIX side: the dispositions the signal commands set and
// read, the catching handler, and the relay thread that takes its deliveries
// to an ordinary thread (the handler itself may only count).  Internal to the
// library; the signal commands keep the logic, this file the system calls.

enum OrxPlat_SigDisposition {
    ORXPLAT_SIG_DEFAULT, // the system's default action
    ORXPLAT_SIG_IGNORE,  // ignored
    ORXPLAT_SIG_CATCH,   // the catching handler of this file
    ORXPLAT_SIG_FOREIGN  // a handler someone else installed (read only)
};

// Called inside the catching handler, on whatever thread the signal arrives:
// async-signal-safe code only.  Returns true to wake the relay.
typedef bool(OrxPlat_SigCountProc)(int signum);

// Called on the relay thread after one or more wake-ups.  Returns 0 when done,
// or a number of microseconds after which to be called again even without a
// new wake-up (sooner when a wake-up comes first).
typedef unsigned(OrxPlat_SigRelayProc)(void);

// Once per process: record the two procedures and start the relay thread
// (all signals blocked in it; it lives until the process ends).  Later calls
// change nothing and return the first call's answer.  0, or an errno value.
int OrxPlat_SigCatchStart(OrxPlat_SigCountProc *count, OrxPlat_SigRelayProc *relay);

// Record the calling thread as the one whose CPU time OrxPlat_SigCatchOwnerCpuNs
// reports (the interpreters' thread).
void OrxPlat_SigCatchSetOwner(void);

// CPU time in nanoseconds used so far by the recorded thread, callable from
// any thread; -1 when unknown (none recorded, or it has ended).
long long OrxPlat_SigCatchOwnerCpuNs(void);

// Wake the relay from ordinary code (the handler wakes it by itself).
void OrxPlat_SigCatchWake(void);

// Set the disposition of signum (not ORXPLAT_SIG_FOREIGN).  The catching
// handler stays installed across deliveries, blocks nothing and does not
// restart interrupted system calls.  0, or -1 with errno.
int OrxPlat_SigSetDisposition(int signum, OrxPlat_SigDisposition disposition);

// Read the disposition of signum without changing it.  0, or -1 with errno.
int OrxPlat_SigGetDisposition(int signum, OrxPlat_SigDisposition *disposition);

// ==== sigipc ====
// Signal messages between shell processes: the POSIX stand-in for the
// thread message 2024 that kill posts to another process's signal thread.
// Each signal thread listens on a Unix datagram socket in ~/ruvadiredavoz
// named after its thread identifier (the one written in the pid file).
// Internal to the library.


// Message number carried by a signal message.
#define ORXPLAT_SIGIPC_MESSAGE 2024

// Identifier of the calling thread as written in the pid file: the kernel
// thread id, unique system-wide while the thread lives.
unsigned long OrxPlat_SigIpcThreadId(void);

// Send message and signum to the signal thread threadId of any process of
// this user.  0 on success, -1 with errno (ENOENT or ECONNREFUSED: nobody
// listens under that id; ENAMETOOLONG: the socket path does not fit).
int OrxPlat_SigIpcSend(unsigned long threadId, int message, int signum);

// Listening end of one signal thread.
struct OrxPlat_SigIpc {
    int fd;
    char path[108];
};

// Bind the endpoint for threadId, creating ~/ruvadiredavoz (mode 0700) when
// missing and replacing a stale socket file.  0, or -1 with errno and ipc->fd
// set to -1.
int OrxPlat_SigIpcListen(unsigned long threadId, OrxPlat_SigIpc *ipc);

// Wait for the next well-formed message sent by a process of this user.
// 0 with *message and *signum set, or -1 with errno (never EINTR).
int OrxPlat_SigIpcReceive(OrxPlat_SigIpc *ipc, int *message, int *signum);

// Close the endpoint and remove its socket file.
void OrxPlat_SigIpcClose(OrxPlat_SigIpc *ipc);

// Append text to the file at path in one write, creating it with mode 0600.
// 0, or -1 with errno.
int OrxPlat_AppendToFile(const char *path, const char *text);

// ==== lineedit ====
// Line editing on a POSIX terminal through libedit: one editor per process
// (there is one terminal), read either a whole line at a time or one
// character at a time from an event loop, with history and a completion
// hook.  The history file is ours: one entry per line, shared safely by
// shells that run at the same time.  Nothing here knows Tcl.


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

// ==== files ====

namespace orx {

enum class ReadStatus { Ok, Missing, NotRegular, TooLarge, Failed };

// Read a whole regular file (never a FIFO, device or directory, which could
// block or be endless) of at most limit bytes into *text.  On failure *why
// says what went wrong in words for a message ("not a regular file", the
// system's reason, ...).  May throw std::bad_alloc.
ReadStatus ReadWholeFile(const std::string &path, size_t limit, std::string *text,
                         std::string *why);

// Whether path names an existing regular file (symbolic links followed).
bool IsRegularFile(const std::string &path);

// Turn an access or fopen mode ("r", "wb", "a+", "rx" ...) into access()
// bits; *writesPtr tells whether the mode may create the file.  False for a
// character outside "rwax+bt".  A null or empty mode asks for existence only.
bool ParseAccessMode(const char *mode, int *amodePtr, bool *writesPtr);

// ---- User directories -----------------------------------------------------

// Expand a leading "~" or "~user" with the OS layer's home directory (HOME,
// else the user database ; Tcl's own expansion fails without HOME); other names come back unchanged.  False with
// a message in *why for an unknown user.
bool ExpandTilde(const std::string &name, std::string *out, std::string *why);

} // namespace orx

// ==== selfpath ====

// Absolute path of the running executable, symbolic links resolved; empty
// when the system cannot tell.
std::string OrxPlat_ExecutablePath();

#endif
