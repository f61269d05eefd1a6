// Per-user directory and pid-file names: "~" expands as Tcl expands it, so a
// name formed here matches the one a script forms with "~/ruvadiredavoz".
#include "platform/orxplat.h"


std::string OrxPlat_UserDirName()
{
    try {
        std::string home = OrxPlat_HomeDir();
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
