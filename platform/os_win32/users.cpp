// Users on Windows: the logged-in user's name (GetUserNameA), the profile
// directory, "~" expansion as Tcl does it (HOME first), and the per-user
// directory and pid file named the way a script names "~/ruvadiredavoz".
#include "platform/orxplat.h"

#include "win32.h"

#include <cerrno>
#include <cstdlib>

namespace {

std::string Env(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

} // namespace

int OrxPlat_UserName(std::string *name)
{
    try {
        std::vector<char> buffer(200);
        for (;;) {
            DWORD size = static_cast<DWORD>(buffer.size());
            if (GetUserNameA(buffer.data(), &size)) {
                name->assign(buffer.data());
                return 0;
            }
            if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || buffer.size() >= 32768) {
                return orx::win::LastErrno();
            }
            buffer.resize(buffer.size() * 2);
        }
    } catch (...) {
        return ENOMEM;
    }
}

int OrxPlat_UserHomeDir(std::string *dir)
{
    try {
        std::string profile = Env("USERPROFILE");
        if (profile.empty()) {
            std::string drive = Env("HOMEDRIVE"), path = Env("HOMEPATH");
            profile = path.empty() ? std::string() : drive + path;
        }
        if (profile.empty()) {
            return ENOENT;
        }
        *dir = profile;
        return 0;
    } catch (...) {
        return ENOMEM;
    }
}

std::string OrxPlat_HomeDir()
{
    try {
        std::string home = Env("HOME");
        if (!home.empty()) {
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
    size_t end = 1;
    while (end < name.size() && !IsSeparator(name[end])) {
        end++;
    }
    std::string user = name.substr(1, end - 1);
    std::string rest = name.substr(end);
    std::string home;
    if (user.empty()) {
        home = OrxPlat_HomeDir();
        if (home.empty()) {
            *why = "couldn't find HOME environment variable to expand path";
            return false;
        }
    } else {
        // Only the logged-in user's profile is known without an account query.
        std::string self;
        if (OrxPlat_UserName(&self) != 0 || _stricmp(self.c_str(), user.c_str()) != 0 ||
            OrxPlat_UserHomeDir(&home) != 0) {
            *why = "user \"" + user + "\" doesn't exist";
            return false;
        }
    }
    if (!home.empty() && IsSeparator(home.back()) && !rest.empty()) {
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
        // As Tcl gives "~/ruvadiredavoz" back: forward slashes.
        for (char &c : home) {
            if (c == '\\') {
                c = '/';
            }
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
    *option = "-hidden";
    *value = "1";
}
