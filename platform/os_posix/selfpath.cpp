// Where the running executable lies, for hosts that find their installation
// relative to themselves.  Linux answers through /proc/self/exe.
#include "platform/orxplat.h"

#include <unistd.h>

#include <vector>

std::string OrxPlat_ExecutablePath()
{
    try {
        std::vector<char> buffer(256);
        for (;;) {
            ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
            if (n < 0) {
                return std::string();
            }
            // A full buffer may hold a truncated name: try again with more room.
            if (static_cast<size_t>(n) < buffer.size()) {
                return std::string(buffer.data(), static_cast<size_t>(n));
            }
            if (buffer.size() >= (1u << 16)) {
                return std::string();
            }
            buffer.resize(buffer.size() * 2);
        }
    } catch (...) {
        return std::string();
    }
}
