// Per-user directory and pid-file names: "~" expands as Tcl expands it, so a
// name formed here matches the one a script forms with "~/ruvadiredavoz".
#include "platform/pidfile.h"

#include "platform/os_posix.h"

#include <cstdlib>

namespace {

std::string HomeDir()
{
    const char *home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
        return home;
    }
    std::string dir;
    return OrxPlat_UserHomeDir(&dir) == 0 ? dir : std::string();
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
