// Files on POSIX: file facts and access checks, whole-file reading and
// channels that never block on a FIFO, directory listing, mount points, the
// steps of safe writing (exclusive create, durable close, one-step replace)
// and locked rewrites of small shared files.
#include "platform/orxplat.h"
#include "posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/internal.h"

static_assert(ORXPLAT_ACCESS_EXISTS == F_OK && ORXPLAT_ACCESS_READ == R_OK &&
                  ORXPLAT_ACCESS_WRITE == W_OK && ORXPLAT_ACCESS_EXECUTE == X_OK,
              "access bits pass through unchanged");

namespace {

// The neutral file description from a stat buffer.
void Describe(const struct stat &st, OrxPlat_FileInfo *info)
{
    info->type = S_ISREG(st.st_mode)   ? ORXPLAT_FILE_REGULAR
                 : S_ISDIR(st.st_mode) ? ORXPLAT_FILE_DIRECTORY
                 : S_ISLNK(st.st_mode) ? ORXPLAT_FILE_LINK
                                       : ORXPLAT_FILE_OTHER;
    info->volume = static_cast<unsigned long long>(st.st_dev);
    info->node = static_cast<unsigned long long>(st.st_ino);
    info->size = static_cast<long long>(st.st_size);
    info->modifiedNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL +
                       st.st_mtim.tv_nsec;
}

// Mount points from /proc/self/mountinfo (field 5, with \ooo escapes).
bool IsOctal(char c)
{
    return c >= '0' && c <= '7';
}

// Mount points from /proc/self/mountinfo, octal escapes undone; none when it cannot be read.
std::vector<std::string> MountPoints()
{
    std::vector<std::string> points;
    std::string text;
    std::string why;
    if (OrxPlat_ReadWholeFile("/proc/self/mountinfo", 64 << 20, &text, &why) != ORXPLAT_READ_OK) {
        return points;
    }
    orx::ForEachLine(text, [&](std::string_view line, int) {
        for (int field = 0; field < 4; ++field) {
            size_t blank = line.find(' ');
            if (blank == std::string_view::npos) {
                return;
            }
            line.remove_prefix(blank + 1);
        }
        std::string_view raw = line.substr(0, line.find(' '));
        std::string point;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 3 < raw.size() && IsOctal(raw[i + 1]) &&
                IsOctal(raw[i + 2]) && IsOctal(raw[i + 3])) {
                point.push_back(static_cast<char>(((raw[i + 1] - '0') << 6) |
                                                  ((raw[i + 2] - '0') << 3) | (raw[i + 3] - '0')));
                i += 3;
            } else {
                point.push_back(raw[i]);
            }
        }
        points.push_back(point);
    });
    return points;
}

} // namespace

int OrxPlat_Stat(const char *path, OrxPlat_FileInfo *info)
{
    struct stat st;
    if (::stat(path, &st) != 0) {
        return errno;
    }
    Describe(st, info);
    return 0;
}

int OrxPlat_LinkStat(const char *path, OrxPlat_FileInfo *info)
{
    struct stat st;
    if (::lstat(path, &st) != 0) {
        return errno;
    }
    Describe(st, info);
    return 0;
}

bool OrxPlat_IsRegularFile(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool OrxPlat_IsDirectory(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int OrxPlat_Access(const char *path, int mode)
{
    return ::access(path, mode) == 0 ? 0 : errno;
}

OrxPlat_ReadStatus OrxPlat_ReadWholeFile(const std::string &path, size_t limit,
                                         std::string *text, std::string *why)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer; fstat then tells.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *why = std::strerror(errno);
        return errno == ENOENT ? ORXPLAT_READ_MISSING : ORXPLAT_READ_FAILED;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        *why = std::strerror(errno);
        return ORXPLAT_READ_FAILED;
    }
    if (!S_ISREG(st.st_mode)) {
        *why = "not a regular file";
        return ORXPLAT_READ_NOT_REGULAR;
    }
    if (static_cast<unsigned long long>(st.st_size) > limit) {
        *why = "file larger than " + std::to_string(limit) + " bytes";
        return ORXPLAT_READ_TOO_LARGE;
    }
    text->clear();
    text->reserve(static_cast<size_t>(st.st_size));
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            *why = std::strerror(errno);
            return ORXPLAT_READ_FAILED;
        }
        if (n == 0) {
            return ORXPLAT_READ_OK;
        }
        if (text->size() + static_cast<size_t>(n) > limit) { // grew while reading
            *why = "file larger than " + std::to_string(limit) + " bytes";
            return ORXPLAT_READ_TOO_LARGE;
        }
        text->append(chunk, static_cast<size_t>(n));
    }
}

int OrxPlat_ListDirectory(const std::string &path, std::vector<std::string> *names)
{
    DIR *dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        return errno;
    }
    struct Closer {
        DIR *dir;
        ~Closer() { ::closedir(dir); }
    } closer{dir};
    for (;;) {
        errno = 0;
        struct dirent *entry = ::readdir(dir);
        if (entry == nullptr) {
            return errno;
        }
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names->push_back(entry->d_name);
        }
    }
}

int OrxPlat_CurrentDir(std::string *dir)
{
    std::vector<char> buffer(PATH_MAX);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            return errno;
        }
        buffer.resize(buffer.size() * 2);
    }
    dir->assign(buffer.data());
    return 0;
}

bool OrxPlat_IsMountPoint(const char *path)
{
    char *real = ::realpath(path, nullptr);
    if (real == nullptr) {
        return false;
    }
    std::string resolved(real);
    std::free(real);
    struct stat st;
    struct statvfs vfs;
    if (::stat(resolved.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        ::statvfs(resolved.c_str(), &vfs) != 0) {
        return false;
    }
    std::vector<std::string> points = MountPoints();
    if (points.empty()) {
        // No mount table: a mount point is on another device than its parent.
        struct stat parent;
        return resolved == "/" ||
               (::stat((resolved + "/..").c_str(), &parent) == 0 && parent.st_dev != st.st_dev);
    }
    for (const std::string &point : points) {
        if (point == resolved) {
            return true;
        }
    }
    return false;
}

int OrxPlat_OpenChannel(const char *path, Tcl_Channel *channel)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer; fstat then tells.
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return errno;
    }
    struct stat st;
    int error = ::fstat(fd, &st) != 0   ? errno
                : S_ISREG(st.st_mode) ? 0
                : S_ISDIR(st.st_mode) ? EISDIR
                                      : ORXPLAT_NOT_REGULAR;
    if (error != 0) {
        ::close(fd);
        return error;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        error = errno;
        ::close(fd);
        return error;
    }
    *channel = Tcl_MakeFileChannel(reinterpret_cast<ClientData>(static_cast<intptr_t>(fd)),
                                   TCL_READABLE);
    if (*channel == nullptr) {
        ::close(fd);
        return EINVAL;
    }
    return 0;
}

char OrxPlat_NativeSeparator(void)
{
    return '/';
}

std::vector<std::string> OrxPlat_Drives()
{
    return {}; // names have no drives here
}

std::string OrxPlat_CurrentDrive()
{
    return std::string();
}

bool OrxPlat_FullPathName(const std::string &name, std::string *full, std::string *why)
{
    std::string whole = name;
    if (whole.empty() || whole[0] != '/') {
        std::string cwd;
        if (int error = OrxPlat_CurrentDir(&cwd)) {
            *why = std::strerror(error);
            errno = error;
            return false;
        }
        whole = cwd + "/" + whole;
    }
    std::vector<std::string_view> parts;
    std::string_view rest(whole);
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
            continue;
        }
        parts.push_back(part);
    }
    full->clear();
    for (std::string_view part : parts) {
        full->append("/").append(part);
    }
    if (full->empty()) {
        full->assign("/");
    }
    return true;
}

std::string OrxPlat_TempDir()
{
    const char *env = std::getenv("TMPDIR");
    std::string dir = env != nullptr ? env : "";
    struct stat st;
    // A directory that cannot be searched or written into holds no new file.
    if (dir.empty() || dir[0] != '/' || ::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        ::access(dir.c_str(), W_OK | X_OK) != 0) {
        dir = "/tmp";
    }
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    return dir;
}

int OrxPlat_CreateTempFile(const std::string &base, const char *suffix, bool ownerOnly,
                           std::string *path, std::FILE **stream)
{
    *stream = nullptr;
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        std::string name;
        if (!OrxPlat_TempFileCandidate(base, suffix, attempt, &name)) {
            return EAGAIN;
        }
        // O_EXCL with O_CREAT fails on any name that exists, a link included.
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        ownerOnly ? 0600 : 0666);
        if (fd < 0) {
            error = errno;
            continue;
        }
        *stream = ::fdopen(fd, "wb");
        if (*stream == nullptr) {
            error = errno;
            ::close(fd);
            ::unlink(name.c_str());
            return error;
        }
        *path = std::move(name);
        return 0;
    }
    return error;
}

int OrxPlat_CloseDurably(std::FILE *stream, const char *permissionsOf)
{
    int fd = ::fileno(stream);
    int writeError = errno; // what the failed write, if any, left
    errno = 0;
    bool hadError = std::ferror(stream) != 0;
    // A failed write leaves the error flag; the flush then tells why, or EIO.
    bool ok = std::fflush(stream) == 0 && !hadError;
    int error = ok ? 0 : errno != 0 ? errno : hadError && writeError != 0 ? writeError : EIO;
    struct stat st;
    if (ok && permissionsOf != nullptr && ::stat(permissionsOf, &st) == 0) {
        // The new file keeps the old one's permissions (and owner, when we may).
        if (::fchmod(fd, st.st_mode & 07777) != 0) {
            ok = false;
            error = errno;
        } else if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Only a privileged process may give a file away; not an error.
        }
    }
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        error = errno;
    }
    if (std::fclose(stream) != 0 && ok) {
        ok = false;
        error = errno;
    }
    return ok ? 0 : error;
}

int OrxPlat_ReplaceFile(const char *from, const char *to)
{
    return ::rename(from, to) == 0 ? 0 : errno;
}

int OrxPlat_RemoveFile(const char *path)
{
    return ::unlink(path) == 0 ? 0 : errno;
}

void OrxPlat_SyncDirectory(const char *dir)
{
    int fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd); // some file systems cannot sync a directory: best effort
        ::close(fd);
    }
}

OrxPlat_FileLock::OrxPlat_FileLock(const std::string &path)
{
    // Never through a link planted at the name, never blocking on a FIFO.
    handle_ = ::open((path + ".lock").c_str(),
                     O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    struct stat st;
    if (handle_ >= 0 && (::fstat(handle_, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(handle_);
        handle_ = -1;
    }
    if (handle_ >= 0) {
        while (::flock(handle_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

OrxPlat_FileLock::~OrxPlat_FileLock()
{
    if (handle_ >= 0) {
        ::close(handle_); // releases the lock
    }
}

int OrxPlat_AppendToFile(const std::string &path, const std::string &text)
{
    // Not blocking on a FIFO at the name: fstat then refuses it.
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        return errno;
    }
    struct stat st;
    int error = ::fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : ORXPLAT_NOT_REGULAR;
    if (error == 0) {
        error = orx::posix::WriteAll(fd, text.data(), text.size());
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    return error;
}
