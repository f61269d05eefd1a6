// Per-user directory and pid-file names: "~" expands as Tcl expands it, so a
// name formed here matches the one a script forms with "~/ruvadiredavoz".
#include "platform/pidfile.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace {

std::string HomeDir()
{
    const char *home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
        return home;
    }
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 1024);
    for (;;) {
        struct passwd entry;
        struct passwd *found = nullptr;
        int rc = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || found == nullptr || found->pw_dir == nullptr) {
            return std::string();
        }
        return found->pw_dir;
    }
}

} // namespace

std::string OrxPlat_UserDirName()
{
    try {
        std::string home = HomeDir();
        if (home.empty()) {
            return home;
        }
        if (home.back() != '/') {
            home += '/';
        }
        return home + "ruvadiredavoz";
    } catch (...) {
        return std::string();
    }
}

std::string OrxPlat_PidFileName()
{
    try {
        std::string dir = OrxPlat_UserDirName();
        return dir.empty() ? dir : dir + "/pid_tq";
    } catch (...) {
        return std::string();
    }
}
