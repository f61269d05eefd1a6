// Files on Windows: file facts from the file's own handle, access checks by
// attributes, whole-file reading and channels of disk files only, directory
// listing, drives and volumes, the steps of safe writing (create new, the old
// access list, flush to disk with FlushFileBuffers, replace in one step with
// MoveFileEx) and locked changes of small shared files (LockFileEx).
#include "platform/orxplat.h"

#include "win32.h"

#include <aclapi.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/internal.h"

namespace {

// 100 ns ticks between 1601 and 1970.
constexpr long long kEpochTicks = 116444736000000000LL;

long long NsSince1970(const FILETIME &time)
{
    long long ticks = (static_cast<long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return (ticks - kEpochTicks) * 100;
}

// Facts about path, opened for nothing but its attributes (directories
// too, with backup semantics).  link: the reparse point itself.
int Describe(const char *path, bool link, OrxPlat_FileInfo *info)
{
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (link ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return orx::win::LastErrno();
    }
    BY_HANDLE_FILE_INFORMATION facts;
    DWORD kind = GetFileType(h);
    bool known = GetFileInformationByHandle(h, &facts) != 0;
    int error = known ? 0 : orx::win::LastErrno();
    CloseHandle(h);
    if (!known) {
        // Devices (NUL, CON) have a type but no file information.
        if (kind == FILE_TYPE_CHAR || kind == FILE_TYPE_PIPE) {
            *info = OrxPlat_FileInfo{ORXPLAT_FILE_OTHER, 0, 0, 0, 0};
            return 0;
        }
        return error;
    }
    DWORD attributes = facts.dwFileAttributes;
    info->type = (link && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) ? ORXPLAT_FILE_LINK
                 : (attributes & FILE_ATTRIBUTE_DIRECTORY)             ? ORXPLAT_FILE_DIRECTORY
                 : kind == FILE_TYPE_DISK                              ? ORXPLAT_FILE_REGULAR
                                                                       : ORXPLAT_FILE_OTHER;
    info->volume = facts.dwVolumeSerialNumber;
    info->node = (static_cast<unsigned long long>(facts.nFileIndexHigh) << 32) | facts.nFileIndexLow;
    info->size = (static_cast<long long>(facts.nFileSizeHigh) << 32) | facts.nFileSizeLow;
    info->modifiedNs = NsSince1970(facts.ftLastWriteTime);
    return 0;
}

bool HasExecutableSuffix(const char *path)
{
    const char *dot = std::strrchr(path, '.');
    if (dot == nullptr || std::strpbrk(dot, "/\\") != nullptr) {
        return false;
    }
    for (const char *suffix : {".exe", ".com", ".bat", ".cmd"}) {
        if (_stricmp(dot, suffix) == 0) {
            return true;
        }
    }
    return false;
}

// 0 for a handle on a regular disk file; EISDIR for a directory,
// ORXPLAT_NOT_REGULAR for a link (opened as itself), pipe or device.
int RegularOrWhy(HANDLE h)
{
    if (GetFileType(h) != FILE_TYPE_DISK) {
        return ORXPLAT_NOT_REGULAR;
    }
    BY_HANDLE_FILE_INFORMATION facts;
    if (!GetFileInformationByHandle(h, &facts)) {
        return orx::win::LastErrno();
    }
    if (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        return EISDIR;
    }
    return (facts.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? ORXPLAT_NOT_REGULAR : 0;
}

// Give the file of handle h the access list of the file at from (inherited
// entries still inherited), as fchmod gives the mode on POSIX.  0 when done,
// when there is no file at from, or where the file system keeps no lists;
// else an errno value.
int CopyAccessList(const char *from, HANDLE h)
{
    ACL *dacl = nullptr;
    SECURITY_DESCRIPTOR *descriptor = nullptr;
    DWORD error = GetNamedSecurityInfoA(from, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                        nullptr, &dacl, nullptr,
                                        reinterpret_cast<PSECURITY_DESCRIPTOR *>(&descriptor));
    if (error != ERROR_SUCCESS) {
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                       error == ERROR_NOT_SUPPORTED
                   ? 0
                   : orx::win::ErrnoOf(error);
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION |
                                ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                                               : UNPROTECTED_DACL_SECURITY_INFORMATION);
    error = SetSecurityInfo(h, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
    LocalFree(descriptor);
    return error == ERROR_SUCCESS || error == ERROR_NOT_SUPPORTED ? 0 : orx::win::ErrnoOf(error);
}

} // namespace

int OrxPlat_Stat(const char *path, OrxPlat_FileInfo *info)
{
    return Describe(path, false, info);
}

int OrxPlat_LinkStat(const char *path, OrxPlat_FileInfo *info)
{
    return Describe(path, true, info);
}

bool OrxPlat_IsRegularFile(const std::string &path)
{
    OrxPlat_FileInfo info;
    return Describe(path.c_str(), false, &info) == 0 && info.type == ORXPLAT_FILE_REGULAR;
}

bool OrxPlat_IsDirectory(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int OrxPlat_Access(const char *path, int mode)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return orx::win::LastErrno();
    }
    bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // The read-only attribute of a directory does not keep files out of it.
    if ((mode & ORXPLAT_ACCESS_WRITE) && !directory && (attributes & FILE_ATTRIBUTE_READONLY)) {
        return EACCES;
    }
    // Windows runs files by their suffix, as Tcl's "file executable" says.
    if ((mode & ORXPLAT_ACCESS_EXECUTE) && !directory && !HasExecutableSuffix(path)) {
        return EACCES;
    }
    return 0;
}

OrxPlat_ReadStatus OrxPlat_ReadWholeFile(const std::string &path, size_t limit,
                                         std::string *text, std::string *why)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        *why = std::strerror(orx::win::ErrnoOf(error));
        return orx::win::ErrnoOf(error) == ENOENT ? ORXPLAT_READ_MISSING : ORXPLAT_READ_FAILED;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        *why = "not a regular file";
        return ORXPLAT_READ_NOT_REGULAR;
    }
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        int error = orx::win::LastErrno();
        *why = std::strerror(error);
        return error == ENOENT ? ORXPLAT_READ_MISSING : ORXPLAT_READ_FAILED;
    }
    struct Closer {
        HANDLE h;
        ~Closer() { CloseHandle(h); }
    } closer{h};
    // A pipe or device (NUL, CON, a named pipe) could block or be endless.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        *why = "not a regular file";
        return ORXPLAT_READ_NOT_REGULAR;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(h, &size)) {
        *why = std::strerror(orx::win::LastErrno());
        return ORXPLAT_READ_FAILED;
    }
    if (static_cast<unsigned long long>(size.QuadPart) > limit) {
        *why = "file larger than " + std::to_string(limit) + " bytes";
        return ORXPLAT_READ_TOO_LARGE;
    }
    text->clear();
    text->reserve(static_cast<size_t>(size.QuadPart));
    char chunk[65536];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(h, chunk, sizeof chunk, &n, nullptr)) {
            *why = std::strerror(orx::win::LastErrno());
            return ORXPLAT_READ_FAILED;
        }
        if (n == 0) {
            return ORXPLAT_READ_OK;
        }
        if (text->size() + n > limit) { // grew while reading
            *why = "file larger than " + std::to_string(limit) + " bytes";
            return ORXPLAT_READ_TOO_LARGE;
        }
        text->append(chunk, n);
    }
}

int OrxPlat_ListDirectory(const std::string &path, std::vector<std::string> *names)
{
    std::string pattern = path.empty() ? std::string(".") : path;
    if (pattern.back() != '/' && pattern.back() != '\\' && pattern.back() != ':') {
        pattern += '\\';
    }
    pattern += '*';
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? 0 : orx::win::ErrnoOf(error); // empty root
    }
    struct Closer {
        HANDLE h;
        ~Closer() { FindClose(h); }
    } closer{find};
    do {
        if (std::strcmp(entry.cFileName, ".") != 0 && std::strcmp(entry.cFileName, "..") != 0) {
            names->push_back(entry.cFileName);
        }
    } while (FindNextFileA(find, &entry));
    DWORD error = GetLastError();
    return error == ERROR_NO_MORE_FILES ? 0 : orx::win::ErrnoOf(error);
}

int OrxPlat_CurrentDir(std::string *dir)
{
    DWORD needed = GetCurrentDirectoryA(0, nullptr);
    for (;;) {
        if (needed == 0) {
            return orx::win::LastErrno();
        }
        std::vector<char> buffer(needed);
        DWORD length = GetCurrentDirectoryA(needed, buffer.data());
        if (length == 0) {
            return orx::win::LastErrno();
        }
        if (length < needed) {
            dir->assign(buffer.data(), length);
            return 0;
        }
        needed = length; // it grew meanwhile
    }
}

bool OrxPlat_IsMountPoint(const char *path)
{
    std::string root(path);
    if (root.find('\\') == std::string::npos) {
        root += '\\'; // "C:" names the drive's root as "C:\"
    }
    // Fetched and not used: the call alone tells whether a volume is there.
    DWORD flags = 0;
    return orx::win::VolumeFlags(root, &flags);
}

char OrxPlat_NativeSeparator(void)
{
    return '\\';
}

std::vector<std::string> OrxPlat_Drives()
{
    std::vector<std::string> drives;
    DWORD needed = GetLogicalDriveStringsA(0, nullptr);
    if (needed == 0) {
        return drives;
    }
    std::vector<char> buffer(needed + 1, '\0');
    DWORD length = GetLogicalDriveStringsA(needed, buffer.data());
    if (length == 0 || length > needed) {
        return drives;
    }
    // "C:\<NUL>D:\<NUL><NUL>": each root cut at its last backslash.
    for (const char *p = buffer.data(); *p != '\0'; p += std::strlen(p) + 1) {
        std::string root(p);
        size_t slash = root.rfind('\\');
        drives.push_back(slash == std::string::npos ? root : root.substr(0, slash));
    }
    return drives;
}

std::string OrxPlat_CurrentDrive()
{
    std::string dir;
    if (OrxPlat_CurrentDir(&dir) != 0) {
        return std::string();
    }
    // Up to the first backslash: "C:" for a drive, "" for \\server\share.
    return dir.substr(0, dir.find('\\'));
}

bool OrxPlat_FullPathName(const std::string &name, std::string *full, std::string *why)
{
    DWORD needed = GetFullPathNameA(name.c_str(), 0, nullptr, nullptr);
    while (needed != 0) {
        std::vector<char> buffer(needed);
        DWORD length = GetFullPathNameA(name.c_str(), needed, buffer.data(), nullptr);
        if (length == 0) {
            break;
        }
        if (length < needed) {
            full->assign(buffer.data(), length);
            return true;
        }
        needed = length;
    }
    DWORD error = GetLastError();
    *why = orx::win::SystemMessage(error);
    errno = orx::win::ErrnoOf(error);
    return false;
}

std::string OrxPlat_TempDir()
{
    const char *env = std::getenv("TMPDIR");
    std::string dir = env != nullptr ? env : "";
    bool absolute = dir.size() >= 3 && dir[1] == ':' && (dir[2] == '\\' || dir[2] == '/');
    if (!absolute || !OrxPlat_IsDirectory(dir)) {
        char buffer[MAX_PATH + 2];
        DWORD length = GetTempPathA(sizeof buffer, buffer);
        dir = (length == 0 || length >= sizeof buffer) ? std::string("C:\\") : std::string(buffer, length);
    }
    // "C:\" keeps its separator: it names the root.
    while (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/')) {
        dir.pop_back();
    }
    return dir;
}

int OrxPlat_CreateTempFile(const std::string &base, const char *suffix, bool ownerOnly,
                           std::string *path, std::FILE **stream)
{
    *stream = nullptr;
    orx::win::OwnerOnly owner;
    SECURITY_ATTRIBUTES *security = nullptr;
    if (ownerOnly) {
        if (!owner.Ready()) {
            return orx::win::LastErrno();
        }
        security = owner.Attributes();
    }
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        std::string name;
        if (!OrxPlat_TempFileCandidate(base, suffix, attempt, &name)) {
            return EAGAIN;
        }
        // CREATE_NEW fails on any name that exists, a link included.
        // WRITE_DAC: OrxPlat_CloseDurably may give it the old file's access list.
        HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE | WRITE_DAC, FILE_SHARE_READ, security,
                               CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            error = orx::win::LastErrno();
            continue;
        }
        int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
        if (fd < 0) {
            error = errno;
            CloseHandle(h);
            DeleteFileA(name.c_str());
            return error;
        }
        *stream = _fdopen(fd, "wb");
        if (*stream == nullptr) {
            error = errno;
            _close(fd);
            DeleteFileA(name.c_str());
            return error;
        }
        *path = std::move(name);
        return 0;
    }
    return error;
}

int OrxPlat_CloseDurably(std::FILE *stream, const char *permissionsOf)
{
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    int writeError = errno; // what the failed write, if any, left
    errno = 0;
    bool hadError = std::ferror(stream) != 0;
    bool ok = std::fflush(stream) == 0 && !hadError;
    int error = ok ? 0 : errno != 0 ? errno : hadError && writeError != 0 ? writeError : EIO;
    if (ok && permissionsOf != nullptr) {
        error = CopyAccessList(permissionsOf, h);
        ok = error == 0;
    }
    if (ok && !FlushFileBuffers(h)) {
        ok = false;
        error = orx::win::LastErrno();
    }
    if (std::fclose(stream) != 0 && ok) {
        ok = false;
        error = errno;
    }
    // The old file's attributes pass to the new one when it takes the name
    // (OrxPlat_ReplaceFile).
    return ok ? 0 : error;
}

int OrxPlat_ReplaceFile(const char *from, const char *to)
{
    DWORD attributes = GetFileAttributesA(to);
    if (!MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return orx::win::LastErrno();
    }
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kKept)) {
        SetFileAttributesA(to, (attributes & kKept) | FILE_ATTRIBUTE_ARCHIVE);
    }
    return 0;
}

int OrxPlat_RemoveFile(const char *path)
{
    return DeleteFileA(path) ? 0 : orx::win::LastErrno();
}

void OrxPlat_SyncDirectory(const char *dir)
{
    // MoveFileEx with MOVEFILE_WRITE_THROUGH has put the rename on disk.
    (void)dir;
}

int OrxPlat_AppendToFile(const std::string &path, const std::string &text)
{
    orx::win::OwnerOnly owner;
    // A pipe or device at the name is opened without waiting, then refused.
    HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           owner.Ready() ? owner.Attributes() : nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return orx::win::LastErrno();
    }
    int error = RegularOrWhy(h);
    DWORD written = 0;
    // One write with append access: lines of several shells never interleave.
    if (error == 0 && !WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        error = orx::win::LastErrno();
    }
    if (error == 0 && written != text.size()) {
        error = EIO;
    }
    if (!CloseHandle(h) && error == 0) {
        error = orx::win::LastErrno();
    }
    return error;
}

int OrxPlat_OpenChannel(const char *path, Tcl_Channel *channel)
{
    // Backup semantics open a directory too, so that it is told apart; a
    // pipe or device is opened without waiting and then refused.
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return orx::win::LastErrno();
    }
    if (int error = RegularOrWhy(h)) {
        CloseHandle(h);
        return error;
    }
    *channel = Tcl_MakeFileChannel(reinterpret_cast<ClientData>(h), TCL_READABLE);
    if (*channel == nullptr) {
        CloseHandle(h);
        return EINVAL;
    }
    return 0;
}

OrxPlat_FileLock::OrxPlat_FileLock(const std::string &path)
    : handle_(-1)
{
    orx::win::OwnerOnly owner;
    HANDLE h = CreateFileA((path + ".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           owner.Ready() ? owner.Attributes() : nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return;
    }
    if (RegularOrWhy(h) != 0) {
        CloseHandle(h);
        return;
    }
    // A C runtime descriptor fits the neutral int; closing it releases the lock.
    handle_ = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    if (handle_ < 0) {
        CloseHandle(h);
        return;
    }
    OVERLAPPED at = {};
    LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at);
}

OrxPlat_FileLock::~OrxPlat_FileLock()
{
    if (handle_ >= 0) {
        _close(handle_);
    }
}
