// Users on POSIX: the effective user's name and home directory from the user
// database, "~" and "~user" expansion, and the per-user directory and pid
// file named after the home directory as Tcl's "~" expands it, so a name
// formed here matches the one a script forms with "~/ruvadiredavoz".
#include "platform/orxplat.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "posix.h"

namespace {

// Hands the effective user's entry in the user database to use.  0, or an
// errno value (ENOENT when there is no entry).
template <typename Use>
int WithUserEntry(Use use)
{
    return orx::posix::WithGrowingBuffer([&](std::vector<char> &buffer) {
        struct passwd entry;
        struct passwd *found = nullptr;
        int rc = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found);
        if (rc == 0 && found == nullptr) {
            rc = ENOENT;
        }
        if (rc == 0) {
            use(*found);
        }
        return rc;
    });
}

} // namespace

int OrxPlat_UserName(std::string *name)
{
    try {
        return WithUserEntry([&](const struct passwd &entry) { *name = entry.pw_name; });
    } catch (...) {
        return ENOMEM;
    }
}

int OrxPlat_UserHomeDir(std::string *dir)
{
    try {
        return WithUserEntry([&](const struct passwd &entry) {
            *dir = entry.pw_dir != nullptr ? entry.pw_dir : "";
        });
    } catch (...) {
        return ENOMEM;
    }
}

std::string OrxPlat_HomeDir()
{
    try {
        const char *home = std::getenv("HOME");
        if (home != nullptr && *home != '\0') {
            return home;
        }
        std::string dir;
        return OrxPlat_UserHomeDir(&dir) == 0 ? dir : std::string();
    } catch (...) {
        return std::string();
    }
}

bool OrxPlat_ExpandTilde(const std::string &name, std::string *out, std::string *why)
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

void OrxPlat_PrivateDirAttribute(const char **option, const char **value)
{
    *option = "-permissions";
    *value = "0700";
}
