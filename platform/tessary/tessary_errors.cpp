// Stand-in for the error reports and file access checks of the closed
// library libtq_tessary: c_erc keeps the last report for c_erlast, c_faccess
// checks file kinds and access rights.
#include "tq_tessary.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "base/internal.h"
#include "platform/orxplat.h"

namespace {

struct ErrorState {
    std::mutex mutex;
    int code = 0;
    std::string text;
};

// Process-wide error state, built on first use.
ErrorState &TheErrors()
{
    static ErrorState errors;
    return errors;
}

} // namespace

void c_erc(int code, const char *text)
{
    ErrorState &errors = TheErrors();
    std::lock_guard<std::mutex> lock(errors.mutex);
    errors.code = code;
    try {
        errors.text = text ? text : "";
    } catch (const std::exception &) {
        errors.text.clear();
    }
    std::fprintf(stderr, "tessary: error %d %s\n", code, errors.text.c_str());
}

int c_erlast(const char **text)
{
    ErrorState &errors = TheErrors();
    std::lock_guard<std::mutex> lock(errors.mutex);
    if (text != nullptr) {
        *text = errors.text.c_str();
    }
    return errors.code;
}

int c_faccess(const char *path, const char *mode)
{
    // The kind letters e, d and f are ours; the rights go through the one
    // access-mode parser.  Letters outside these six are refused.
    if (path == nullptr || mode == nullptr || *mode == '\0' || *path == '\0' ||
        mode[std::strspn(mode, "erwxdf")] != '\0') {
        return -1;
    }
    OrxPlat_FileInfo info;
    if (OrxPlat_Stat(path, &info) != 0) {
        return -1;
    }
    if ((std::strchr(mode, 'd') != nullptr && info.type != ORXPLAT_FILE_DIRECTORY) ||
        (std::strchr(mode, 'f') != nullptr && info.type != ORXPLAT_FILE_REGULAR)) {
        return -1;
    }
    char rights[4] = {};
    size_t n = 0;
    for (char letter : {'r', 'w', 'x'}) {
        if (std::strchr(mode, letter) != nullptr) {
            rights[n++] = letter;
        }
    }
    int amode = 0;
    bool writes = false;
    OrxPlat_ParseAccessMode(rights, &amode, &writes);
    return (amode != 0 && OrxPlat_Access(path, amode) != 0) ? -1 : 0;
}
