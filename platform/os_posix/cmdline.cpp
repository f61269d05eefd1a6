// Raw command line on Linux: the kernel keeps the argument vector, not a
// line, so the line is rebuilt from /proc/self/cmdline with the quoting that
// the Windows splitting rules undo exactly (OrxPlat_JoinCmdLine).

#include "platform/orxplat.h"

#include <cstdio>
#include <memory>

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
