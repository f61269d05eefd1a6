// File helpers of the OS layer: whole-file reading that never blocks on a
// FIFO, access modes as access() bits, and "~user" expansion.
#include "platform/orxplat.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orx {

bool IsRegularFile(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

ReadStatus ReadWholeFile(const std::string &path, size_t limit, std::string *text,
                         std::string *why)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer; fstat then tells.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *why = std::strerror(errno);
        return errno == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        *why = std::strerror(errno);
        return ReadStatus::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        *why = "not a regular file";
        return ReadStatus::NotRegular;
    }
    if (static_cast<unsigned long long>(st.st_size) > limit) {
        *why = "file larger than " + std::to_string(limit) + " bytes";
        return ReadStatus::TooLarge;
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
            return ReadStatus::Failed;
        }
        if (n == 0) {
            return ReadStatus::Ok;
        }
        if (text->size() + static_cast<size_t>(n) > limit) { // grew while reading
            *why = "file larger than " + std::to_string(limit) + " bytes";
            return ReadStatus::TooLarge;
        }
        text->append(chunk, static_cast<size_t>(n));
    }
}

bool ParseAccessMode(const char *mode, int *amodePtr, bool *writesPtr)
{
    int amode = 0;
    bool writes = false;
    for (const char *p = mode != nullptr ? mode : ""; *p != '\0'; p++) {
        switch (*p) {
        case 'r': amode |= R_OK; break;
        case 'w':
        case 'a': amode |= W_OK; writes = true; break;
        case '+': amode |= R_OK | W_OK; writes = true; break;
        case 'x': amode |= X_OK; break;
        case 'b':
        case 't': break;
        default: return false;
        }
    }
    *amodePtr = amode;
    *writesPtr = writes;
    return true;
}

bool ExpandTilde(const std::string &name, std::string *out, std::string *why)
{
    if (name.empty() || name[0] != '~') {
        *out = name;
        return true;
    }
    size_t slash = name.find('/');
    std::string user = name.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    std::string rest = slash == std::string::npos ? std::string() : name.substr(slash);
    std::string home;
    if (user.empty()) {
        home = OrxPlat_HomeDir();
        if (home.empty()) {
            *why = "couldn't find HOME environment variable to expand path";
            return false;
        }
    } else {
        struct passwd entry, *found = nullptr;
        std::vector<char> buffer(16384);
        if (getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
            found == nullptr) {
            *why = "user \"" + user + "\" doesn't exist";
            return false;
        }
        home = found->pw_dir != nullptr ? found->pw_dir : "";
    }
    if (!home.empty() && home.back() == '/' && !rest.empty()) {
        home.pop_back();
    }
    *out = home + rest;
    return true;
}

} // namespace orx
