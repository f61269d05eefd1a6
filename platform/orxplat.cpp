// The parts of the OS seam that are the same on every system: access modes,
// temporary names and locked rewrites built on the OS folder's steps, and
// the quoting of the Windows command-line rules.  Compiled with the OS
// folder of the build (os_posix or os_win32).
#include "platform/orxplat.h"

#include <cerrno>

bool OrxPlat_ParseAccessMode(const char *mode, int *accessMode, bool *writes)
{
    int bits = 0;
    bool creates = false;
    for (const char *p = mode != nullptr ? mode : ""; *p != '\0'; p++) {
        switch (*p) {
        case 'r': bits |= ORXPLAT_ACCESS_READ; break;
        case 'w':
        case 'a': bits |= ORXPLAT_ACCESS_WRITE; creates = true; break;
        case '+': bits |= ORXPLAT_ACCESS_READ | ORXPLAT_ACCESS_WRITE; creates = true; break;
        case 'x': bits |= ORXPLAT_ACCESS_EXECUTE; break;
        case 'b':
        case 't': break;
        default: return false;
        }
    }
    *accessMode = bits;
    *writes = creates;
    return true;
}

void OrxPlat_QuoteCmdArg(const std::string &arg, std::string *line)
{
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
        // Backslashes not followed by a quote stand for themselves.
        line->append(arg);
        return;
    }
    line->push_back('"');
    size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            slashes++;
            continue;
        }
        if (c == '"') {
            // 2n+1 backslashes before a quote give n backslashes and the quote.
            line->append(2 * slashes + 1, '\\');
        } else {
            line->append(slashes, '\\');
        }
        slashes = 0;
        line->push_back(c);
    }
    // Doubled before the closing quote so that it still closes.
    line->append(2 * slashes, '\\');
    line->push_back('"');
}

std::string OrxPlat_JoinCmdLine(const std::vector<std::string> &args)
{
    std::string line;
    for (size_t i = 0; i < args.size(); i++) {
        if (i > 0) {
            line.push_back(' ');
        }
        OrxPlat_QuoteCmdArg(args[i], &line);
    }
    return line;
}

bool OrxPlat_TempFileCandidate(const std::string &base, const char *suffix, int attempt,
                               std::string *name)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    *name = base;
    if (attempt > 0) {
        unsigned char bytes[6];
        if (!OrxPlat_RandomBytes(bytes, sizeof bytes)) {
            return false;
        }
        name->push_back('.');
        for (unsigned char b : bytes) {
            name->push_back(kLetters[b % (sizeof kLetters - 1)]);
        }
    }
    name->append(suffix != nullptr ? suffix : "");
    return true;
}

int OrxPlat_RewriteFile(const std::string &path, const std::string &text, bool durable)
{
    std::string temp;
    std::FILE *stream = nullptr;
    if (int error = OrxPlat_CreateTempFile(path, ".tmp", true, &temp, &stream)) {
        return error;
    }
    errno = 0;
    bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    int error = durable ? OrxPlat_CloseDurably(stream, nullptr)
                        : (std::fclose(stream) == 0 ? 0 : (errno != 0 ? errno : EIO));
    if (error == 0 && !written) {
        error = EIO;
    }
    if (error == 0) {
        error = OrxPlat_ReplaceFile(temp.c_str(), path.c_str());
    }
    if (error != 0) {
        OrxPlat_RemoveFile(temp.c_str());
    }
    return error;
}
