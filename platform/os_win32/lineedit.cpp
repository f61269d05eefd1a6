// Line editing on Windows is the console's own: its line input (what Tcl's
// console channel reads with ReadConsoleW) edits the line, recalls earlier
// ones with the arrow keys and F7, and gives way to Ctrl-C.  So no editor of
// ours runs here (Open gives none and the loops read standard input as it
// is); the history file is kept all the same, shared with the POSIX shells
// in format and locking.
#include "platform/orxplat.h"

#include "win32.h"

#include "base/internal.h"

namespace {

const size_t kHistoryFileLimit = 64u << 20;

// An exclusive lock on "<path>.lock" while the history file changes.
class FileLock {
public:
    explicit FileLock(const std::string &path)
    {
        handle_ = CreateFileA((path + ".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle_ != INVALID_HANDLE_VALUE) {
            OVERLAPPED at = {};
            locked_ = LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != 0;
        }
    }
    ~FileLock()
    {
        if (handle_ != INVALID_HANDLE_VALUE) {
            if (locked_) {
                OVERLAPPED at = {};
                UnlockFileEx(handle_, 0, 1, 0, &at);
            }
            CloseHandle(handle_);
        }
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

private:
    HANDLE handle_;
    bool locked_ = false;
};

std::vector<std::string> LoadLocked(const std::string &path)
{
    std::vector<std::string> entries;
    std::string text, why;
    if (OrxPlat_ReadWholeFile(path, kHistoryFileLimit, &text, &why) != ORXPLAT_READ_OK) {
        return entries;
    }
    orx::ForEachLine(text, [&](std::string_view line, int) {
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!line.empty()) {
            entries.push_back(OrxPlat_UnescapeHistoryLine(std::string(line)));
        }
    });
    return entries;
}

bool WriteWhole(const std::string &path, const std::string &text, DWORD access, DWORD create)
{
    HANDLE h = CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, create,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
              written == text.size();
    ok = FlushFileBuffers(h) && ok;
    return CloseHandle(h) && ok;
}

} // namespace

bool OrxPlat_EditingWanted()
{
    return false;
}

std::unique_ptr<OrxPlat_LineEditor> OrxPlat_LineEditor::Open(const char *, OrxPlat_EditHooks)
{
    return nullptr;
}

std::vector<std::string> OrxPlat_LoadHistoryFile(const std::string &path)
{
    try {
        FileLock lock(path);
        return LoadLocked(path);
    } catch (...) {
        return {};
    }
}

bool OrxPlat_AppendHistoryFile(const std::string &path, const std::string &entry)
{
    try {
        std::string line = OrxPlat_EscapeHistoryEntry(entry) + "\n";
        FileLock lock(path);
        return WriteWhole(path, line, FILE_APPEND_DATA, OPEN_ALWAYS);
    } catch (...) {
        return false;
    }
}

bool OrxPlat_TrimHistoryFile(const std::string &path, size_t keep)
{
    try {
        FileLock lock(path);
        std::vector<std::string> entries = LoadLocked(path);
        if (entries.size() <= keep) {
            return true;
        }
        std::string text;
        for (size_t i = entries.size() - keep; i < entries.size(); i++) {
            text += OrxPlat_EscapeHistoryEntry(entries[i]);
            text += '\n';
        }
        std::string temp = path + ".tmp";
        if (!WriteWhole(temp, text, GENERIC_WRITE, CREATE_ALWAYS) ||
            !MoveFileExA(temp.c_str(), path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            DeleteFileA(temp.c_str());
            return false;
        }
        return true;
    } catch (...) {
        return false;
    }
}
