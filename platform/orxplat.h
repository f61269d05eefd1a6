// The operating-system seam, declared the way Tcl declares its Tclp*
// functions: whatever differs between systems is an OrxPlat_ function, type
// or constant here.  platform/os_posix/ implements it for POSIX,
// platform/os_win32/ for Windows; platform/orxplat.cpp holds what is the
// same on both.  Nothing here names a system type or size: only Tcl's and
// standard C++ headers.
#ifndef ORX_PLATFORM_ORXPLAT_H
#define ORX_PLATFORM_ORXPLAT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <tcl.h>
#include <vector>

// Unless a declaration says otherwise, names are in the system encoding,
// strings are the caller's, and "an errno value" is one of <cerrno>'s
// numbers (what Tcl_PosixError and strerror take).

// ==== Files (os_posix/files.cpp) ============================================

// Access rights for OrxPlat_Access and OrxPlat_ParseAccessMode, to be ORed.
#define ORXPLAT_ACCESS_EXISTS 0
#define ORXPLAT_ACCESS_EXECUTE 1
#define ORXPLAT_ACCESS_WRITE 2
#define ORXPLAT_ACCESS_READ 4

enum OrxPlat_FileType {
    ORXPLAT_FILE_REGULAR,
    ORXPLAT_FILE_DIRECTORY,
    ORXPLAT_FILE_LINK, // only from OrxPlat_LinkStat
    ORXPLAT_FILE_OTHER // FIFO, device, socket, ...
};

// What OrxPlat_Stat tells about a file.  volume and node together name the
// file on this machine while it exists.
struct OrxPlat_FileInfo {
    OrxPlat_FileType type;
    unsigned long long volume;
    unsigned long long node;
    long long size;       // bytes
    long long modifiedNs; // last change of the data, ns since 1970
};

// Facts about path, following symbolic links (OrxPlat_LinkStat: not the
// last one).  0, or an errno value.
int OrxPlat_Stat(const char *path, OrxPlat_FileInfo *info);
int OrxPlat_LinkStat(const char *path, OrxPlat_FileInfo *info);

// Whether path names an existing regular file / directory (links followed).
bool OrxPlat_IsRegularFile(const std::string &path);
bool OrxPlat_IsDirectory(const std::string &path);

// Whether this process may access path with the ORXPLAT_ACCESS_* rights in
// mode (ORXPLAT_ACCESS_EXISTS: whether it exists).  0, or an errno value.
int OrxPlat_Access(const char *path, int mode);

// Turn an access or fopen mode ("r", "wb", "a+", "rx" ...) into
// ORXPLAT_ACCESS_* bits; *writes tells whether the mode may create the file.
// False for a character outside "rwax+bt".  A null or empty mode asks for
// existence only.
bool OrxPlat_ParseAccessMode(const char *mode, int *accessMode, bool *writes);

enum OrxPlat_ReadStatus {
    ORXPLAT_READ_OK,
    ORXPLAT_READ_MISSING,
    ORXPLAT_READ_NOT_REGULAR,
    ORXPLAT_READ_TOO_LARGE,
    ORXPLAT_READ_FAILED
};

// Read a whole regular file (never a FIFO, device or directory, which could
// block or be endless) of at most limit bytes into *text.  On failure *why
// says what went wrong in words for a message ("not a regular file", the
// system's reason, ...).  May throw std::bad_alloc.
OrxPlat_ReadStatus OrxPlat_ReadWholeFile(const std::string &path, size_t limit,
                                         std::string *text, std::string *why);

// Append the names in directory path to *names, "." and ".." left out, in
// the system's order.  0, or an errno value (the names read before a
// failure stay).  May throw std::bad_alloc.
int OrxPlat_ListDirectory(const std::string &path, std::vector<std::string> *names);

// The working directory, however long.  0, or an errno value.  May throw
// std::bad_alloc.
int OrxPlat_CurrentDir(std::string *dir);

// Whether path (links resolved) is the directory a file system is mounted
// on: what a drive root holding a volume is on Windows (there a drive
// without its backslash, "C:", is taken as its root).  May throw
// std::bad_alloc.
bool OrxPlat_IsMountPoint(const char *path);

// The separator of native names: "/" on POSIX, a backslash on Windows
// (where "/" is taken too).
char OrxPlat_NativeSeparator(void);

// The drive roots present, in the system's order, each without its
// trailing separator ("C:", "D:"); none where names have no drives.  May
// throw std::bad_alloc.
std::vector<std::string> OrxPlat_Drives();

// The drive of the working directory ("C:"); empty where names have no
// drives, and for a working directory on a network share.  May throw
// std::bad_alloc.
std::string OrxPlat_CurrentDrive();

// The absolute form of the native name, the working directory (and drive)
// applied and "." and ".." resolved by the text alone (links are kept).
// False with the system's reason in *why and an errno value in errno.  May
// throw std::bad_alloc.
bool OrxPlat_FullPathName(const std::string &name, std::string *full, std::string *why);

// What OrxPlat_OpenChannel answers for a file that is not a regular one.
#define ORXPLAT_NOT_REGULAR (-1)

// Open path for reading as a Tcl channel (Tcl's default translation and
// encoding), without ever waiting: a FIFO, device, socket or directory is
// refused, so that a file found by a search or named by the environment
// cannot hold the caller up.  0 with *channel set (the caller closes it),
// EISDIR for a directory, ORXPLAT_NOT_REGULAR for another kind of file, or
// an errno value.
int OrxPlat_OpenChannel(const char *path, Tcl_Channel *channel);

// The directory for temporary files: TMPDIR when it names, by an absolute
// path, a directory this process may search and write into, else the
// system's.  No trailing separator but for the root.
std::string OrxPlat_TempDir();

// Create a new file beside others for writing in binary: base + suffix when
// no file has that name, else base + "." + six random letters + suffix.  The
// create is exclusive: it never follows a symbolic link, never opens a file
// that was there (a planted one, another writer's, one an earlier crash
// left), so each caller gets a file of its own.  ownerOnly gives it
// owner-only permissions, else the default ones.  0 with *path and *stream
// set (the caller closes the stream), or an errno value with nothing left
// behind.  May throw std::bad_alloc.
int OrxPlat_CreateTempFile(const std::string &base, const char *suffix, bool ownerOnly,
                           std::string *path, std::FILE **stream);

// The name OrxPlat_CreateTempFile tries at attempt (0, 1, ...): base + suffix
// first, then with six random letters between.  False when the random
// source fails.  The same on every system.  May throw std::bad_alloc.
bool OrxPlat_TempFileCandidate(const std::string &base, const char *suffix, int attempt,
                               std::string *name);

// Flush stream, give its file the permissions (and owner, where allowed) of
// the file at permissionsOf when there is one, put the data on disk and
// close the stream, which is gone whatever the answer.  0, or the errno
// value of the first failure: a failed earlier write left in stream counts,
// with the errno value the caller's write left (EIO when there is none).
int OrxPlat_CloseDurably(std::FILE *stream, const char *permissionsOf);

// Rename the file from to to, replacing a file there in one step (a reader
// sees the old or the new file).  0, or an errno value.
int OrxPlat_ReplaceFile(const char *from, const char *to);

// Remove the file path (not a directory).  0, or an errno value.
int OrxPlat_RemoveFile(const char *path);

// Put directory dir's entries on disk (after a rename in it), where the
// file system can; failures are ignored.
void OrxPlat_SyncDirectory(const char *dir);

// An exclusive lock on "<path>.lock" for the life of the object, shared by
// every process that locks the same path, for a read-change-write of path.
// When the lock file cannot be had (a link or other non-regular file is in
// its place, the directory is read-only) nothing is locked.
class OrxPlat_FileLock {
public:
    explicit OrxPlat_FileLock(const std::string &path);
    ~OrxPlat_FileLock();
    OrxPlat_FileLock(const OrxPlat_FileLock &) = delete;
    OrxPlat_FileLock &operator=(const OrxPlat_FileLock &) = delete;

private:
    int handle_;
};

// Replace the file at path with text: written to a fresh temporary file
// beside it (OrxPlat_CreateTempFile: a link planted there is never
// followed), put on disk and renamed over path in one step, so a reader sees
// the old or the new file.  The new file is owner-only.  0, or an errno
// value with the old file left as it was.  The same on every system, built
// on the steps above.  May throw std::bad_alloc.  Without durable the new
// file is not synced first: for files whose contents a crash makes stale
// anyway, where the sync would cost milliseconds.
int OrxPlat_RewriteFile(const std::string &path, const std::string &text, bool durable = true);

// Append text to the regular file path in one go, creating it owner-only
// when missing; a FIFO, pipe or device at the name is refused without
// waiting.  0, ORXPLAT_NOT_REGULAR, EISDIR, or an errno value.
int OrxPlat_AppendToFile(const std::string &path, const std::string &text);

// ==== Users and their directories (os_posix/users.cpp) ======================

// Name of the effective user.  0, or an errno value (ENOENT when the user has
// no entry in the user database).
int OrxPlat_UserName(std::string *name);

// Home directory of the effective user in the user database (empty when the
// entry has none).  0, or an errno value as for OrxPlat_UserName.
int OrxPlat_UserHomeDir(std::string *dir);

// The user's home directory: $HOME as Tcl's "~" expands it, else the
// effective user's entry in the user database; empty when neither is known.
std::string OrxPlat_HomeDir();

// Expand a leading "~" or "~user" with the home directory (OrxPlat_HomeDir,
// or the user database for another user; Tcl's own expansion fails without
// HOME); other names come back unchanged.  False with a message in *why when
// there is no home directory or no such user.
bool OrxPlat_ExpandTilde(const std::string &name, std::string *out, std::string *why);

// The per-user Orx directory, "<home>/ruvadiredavoz", and the pid file in
// it, "<home>/ruvadiredavoz/pid_tq"; empty when the home directory is
// unknown.  One name for start-up (which makes the directory and hands the
// pid file to the signal thread) and for kill (which reads it).
std::string OrxPlat_UserDirName();
std::string OrxPlat_PidFileName();

// The signal thread that pid's line in the pid file names (its last line
// wins; a malformed line for pid ends the search with what was found
// before).  False when the file or a line for pid is missing.  The same on
// every system: built on OrxPlat_PidFileName and OrxPlat_OpenChannel.
bool OrxPlat_PidFileThread(int pid, unsigned long *threadId);

// The "file attributes" option and value that keep a newly made per-user
// directory to its user: "-permissions" "0700" on POSIX, "-hidden" "1" on
// Windows, as the product had it there.
void OrxPlat_PrivateDirAttribute(const char **option, const char **value);

// ==== The process (os_posix/process.cpp, os_posix/cmdline.cpp) ==============

// Identifier of this process, as other processes and the pid file know it.
long OrxPlat_ProcessId(void);

// Whether a process with this identifier exists now (of any user).
bool OrxPlat_ProcessExists(long pid);

// Set the environment variable name to value for this process and those it
// starts (Tcl's env array is not told).  0, or an errno value.
int OrxPlat_SetEnv(const char *name, const char *value);

// Fill buffer with size bytes from the system's random source in one go.
// False when it could not give that many.
bool OrxPlat_RandomBytes(void *buffer, size_t size);

// Put the floating-point unit back in its default state (rounding, masks,
// flags) after foreign code ran: what _fpreset does on Windows.
void OrxPlat_ResetFloatingPoint(void);

// One argument quoted for the Windows splitting rules (appended to *line).
void OrxPlat_QuoteCmdArg(const std::string &arg, std::string *line);

// The arguments joined by blanks, each quoted as needed.
std::string OrxPlat_JoinCmdLine(const std::vector<std::string> &args);

// The raw command line of this process, as the Windows splitting rules give
// its argument vector back; empty when it cannot be had.  May throw
// std::bad_alloc.
std::string OrxPlat_RawCommandLine();

// ==== Network look-ups (os_posix/net.cpp) ===================================

// An IPv4 address in any of the dotted forms ("a.b.c.d", "a.b.c", "a.b",
// "a"; decimal, octal or hex parts), the whole text and nothing else.  Stores
// the address in host byte order.
bool OrxPlat_ParseIPv4(const char *text, uint32_t *address);

// First IPv4 address of a host name (host byte order).
bool OrxPlat_HostByName(const char *name, uint32_t *address);

// Official name of the host with this IPv4 address (host byte order).
bool OrxPlat_HostByAddr(uint32_t address, std::string *name);

// The services database, any protocol: the service's official name and its
// port.
bool OrxPlat_ServByName(const char *name, std::string *official, int *port);
bool OrxPlat_ServByPort(int port, std::string *official);

// ==== Dynamic loading (os_posix/dynload.cpp) ================================

// A shared library mapped into the process.
typedef struct OrxPlat_Library OrxPlat_Library;

// The file-name suffix of loadable libraries: ".so", or ".dll" on Windows.
const char *OrxPlat_LibrarySuffix(void);

// Map the library at path with every symbol bound now, its symbols kept to
// itself.  Only a regular file is opened (the loader would wait for ever on
// a FIFO).  Null on failure, with the loader's text in *why ("<path>: not a
// regular file" for another kind of file).
OrxPlat_Library *OrxPlat_OpenLibrary(const char *path, std::string *why);

enum OrxPlat_SymbolStatus {
    ORXPLAT_SYMBOL_FOUND,
    ORXPLAT_SYMBOL_MISSING, // *why holds the loader's text
    ORXPLAT_SYMBOL_FOREIGN  // found only in a library this one depends on
};

// The address of name as library itself defines it (*address).
OrxPlat_SymbolStatus OrxPlat_FindSymbol(OrxPlat_Library *library, const char *name,
                                        void **address, std::string *why);

// Unmap library (gone whatever the answer).  0, or -1 with the loader's
// text in *why.
int OrxPlat_CloseLibrary(OrxPlat_Library *library, std::string *why);

// ==== Terminal and command input (os_posix/terminal.cpp, cmdinput.cpp) ======

// Whether the C runtime's descriptor fd (0 standard input, 1 output,
// 2 error) is a terminal.
bool OrxPlat_IsTerminal(int fd);

// The size in character cells of the terminal on descriptor fd: true with
// *columns and *rows set, false when fd is no terminal or its size is unknown.
bool OrxPlat_TerminalSize(int fd, int *columns, int *rows);

// Block until channel has input (or end of file, or an error) to read, in a
// way an interrupt can break: Tcl's channel layer retries a read that a
// signal interrupts.  0 when reading can go on, or EINTR when Tcl has
// asynchronous handlers ready (a signal arrived) first.  Channels with
// buffered input, and those without a system handle, give 0 at once.
int OrxPlat_WaitForInput(Tcl_Channel channel);

// ==== Line editing (os_posix/lineedit.cpp) and history (history.cpp) ========
// One editor per process (there is one terminal), read a whole line at a
// time or one character at a time from an event loop, with history and a
// completion hook.  Nothing here knows Tcl.

enum OrxPlat_EditStatus {
    ORXPLAT_EDIT_LINE,          // *line holds a complete line, without its newline
    ORXPLAT_EDIT_END_OF_INPUT,  // Ctrl-D on an empty line, or the terminal went away
    ORXPLAT_EDIT_ABANDONED,     // the interrupt hook asked to drop the line being typed
    ORXPLAT_EDIT_PENDING,       // character mode: the line is not complete yet
    ORXPLAT_EDIT_FAILED         // a read error other than an interrupt (errno is set)
};

struct OrxPlat_EditHooks {
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
bool OrxPlat_EditingWanted();

class OrxPlat_LineEditor {
public:
    // Null when no editor can run on this terminal.
    static std::unique_ptr<OrxPlat_LineEditor> Open(const char *program, OrxPlat_EditHooks hooks);
    virtual ~OrxPlat_LineEditor() = default;

    // Read one line with this prompt (blocking).
    virtual OrxPlat_EditStatus ReadLine(const std::string &prompt, std::string *line) = 0;

    // Character mode for event loops: Begin shows the prompt and puts the
    // terminal in editing mode; Feed consumes what standard input holds and
    // returns LINE (terminal back in normal mode: Begin again for the next
    // line), PENDING, END_OF_INPUT or FAILED; End leaves editing mode and
    // drops the line.
    virtual void Begin(const std::string &prompt) = 0;
    virtual OrxPlat_EditStatus Feed(std::string *line) = 0;
    virtual void End() = 0;
    virtual bool Editing() const = 0;
    // Counts the lines begun in character mode: tells a line from the next.
    virtual unsigned LineSerial() const = 0;

    // Clear the line on screen before other output; Redraw puts the prompt
    // and the line being typed back after it.
    virtual void ClearLine() = 0;
    virtual void Redraw() = 0;

    // Character mode: whether the editor holds input already (the rest of a
    // paste), to be fed without waiting for the terminal; and Idle, to be
    // called about every 100 ms while no key comes, which notices a change
    // of the window's size.
    virtual bool Pending() const = 0;
    virtual void Idle() = 0;

    // In-memory history: empty entries and repeats of the last are skipped.
    // Returns whether the entry was added.
    virtual bool AddHistory(const std::string &entry) = 0;
};

// History files: entries one per line, "\" and newline escaped, so a
// multi-line command is one entry.  Writers hold an exclusive lock on
// "<path>.lock" while they change the file, so shells running at the same
// time share it safely.  The same on every system.

// Entries of a history file, oldest first (none when it cannot be read).
std::vector<std::string> OrxPlat_LoadHistoryFile(const std::string &path);

// Append one entry; the file is created owner-only.  False when the file
// cannot be written.
bool OrxPlat_AppendHistoryFile(const std::string &path, const std::string &entry);

// Keep only the newest keep entries: written to a temporary file that
// replaces the old one, so a reader sees the old or the new file.
bool OrxPlat_TrimHistoryFile(const std::string &path, size_t keep);

// The escaped form of an entry, and the entry of a file line (any text is
// taken: a "\" at the end stands for itself).  The same on every system.
inline std::string OrxPlat_EscapeHistoryEntry(const std::string &entry)
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

inline std::string OrxPlat_UnescapeHistoryLine(const std::string &line)
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

// ==== Catching signals (os_posix/sigcatch.cpp) ==============================
// The dispositions the signal commands set and read, the catching handler,
// and the relay thread that takes its deliveries to an ordinary thread (the
// handler itself may only count).  The signal commands keep the logic.

enum OrxPlat_SigDisposition {
    ORXPLAT_SIG_DEFAULT, // the system's default action
    ORXPLAT_SIG_IGNORE,  // ignored
    ORXPLAT_SIG_CATCH,   // the catching handler of this layer
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

// Once per process, for a shell: make the ends of the process clean.  The
// mode of the terminal on standard input (when it is one) is recorded now
// and put back at exit, and TERM, HUP, QUIT and INT, while their disposition is
// the default, first put it back and remove the signal-message endpoints of
// the process, then end it as the default would.  Reads of the disposition
// still give ORXPLAT_SIG_DEFAULT; an ignored signal stays ignored.
void OrxPlat_SigCleanEnds(void);

// Let every signal reach the calling thread (a thread that raises signals
// on itself, for the catching handler to see).
void OrxPlat_SigUnblockAll(void);

// ==== Signal messages between processes (os_posix/sigipc.cpp) ===============
// The stand-in for the thread message 2024 that kill posts to another shell
// process's signal thread.  Only processes of the same user get through.

// Message number carried by a signal message.
#define ORXPLAT_SIGIPC_MESSAGE 2024

// Identifier of the calling thread as written in the pid file, unique
// system-wide while the thread lives.
unsigned long OrxPlat_SigIpcThreadId(void);

// Send message and signum to the signal thread threadId of any process of
// this user.  0 on success, -1 with errno (ENOENT or ECONNREFUSED: nobody
// listens under that id; ENAMETOOLONG: the endpoint's name does not fit).
int OrxPlat_SigIpcSend(unsigned long threadId, int message, int signum);

// Listening end of one signal thread.
typedef struct OrxPlat_SigIpc OrxPlat_SigIpc;

// Open the endpoint for threadId, making ~/ruvadiredavoz (owner-only) when
// missing and replacing what a thread that has ended left under that id.
// The endpoint (closed with OrxPlat_SigIpcClose), or null with errno set.
OrxPlat_SigIpc *OrxPlat_SigIpcListen(unsigned long threadId);

// Wait for the next well-formed message sent by a process of this user.
// 0 with *message and *signum set, or -1 with errno (never EINTR).
int OrxPlat_SigIpcReceive(OrxPlat_SigIpc *ipc, int *message, int *signum);

// Close the endpoint, remove what names it, and free it.
void OrxPlat_SigIpcClose(OrxPlat_SigIpc *ipc);

// ==== The executable (os_posix/selfpath.cpp) ================================

// Absolute path of the running executable, symbolic links resolved, with
// "/" between its parts on every system (Windows takes it so); empty when
// the system cannot tell.
std::string OrxPlat_ExecutablePath();

#endif
