// Raw command line on Linux: the kernel keeps the argument vector, not a
// line, so the line is rebuilt from /proc/self/cmdline with the quoting that
// the Windows splitting rules undo exactly.

#include "platform/orxplat.h"

#include <cstdio>
#include <memory>

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

std::string OrxPlat_RawCommandLine()
{
    std::vector<std::string> args;
    // Closed on every way out, a bad_alloc while reading included.
    std::unique_ptr<FILE, int (*)(FILE *)> file(fopen("/proc/self/cmdline", "rb"), fclose);
    if (file == nullptr) {
        return std::string();
    }
    std::string current;
    bool pending = false;
    int c;
    while ((c = getc(file.get())) != EOF) {
        if (c == '\0') {
            args.push_back(current);
            current.clear();
            pending = false;
        } else {
            current.push_back(static_cast<char>(c));
            pending = true;
        }
    }
    if (pending) {
        args.push_back(current);  // a process that rewrote its arguments
    }
    return OrxPlat_JoinCmdLine(args);
}
