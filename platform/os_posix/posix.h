// Helpers the POSIX files of the OS layer share.  Internal to os_posix/.
#ifndef ORX_PLATFORM_OS_POSIX_POSIX_H
#define ORX_PLATFORM_OS_POSIX_POSIX_H

#include <cerrno>
#include <vector>

namespace orx::posix {

// Runs a reentrant look-up with a buffer that grows while it is too small.
// 0, or the look-up's errno value.
template <typename Lookup>
int WithGrowingBuffer(Lookup lookup)
{
    std::vector<char> buffer(1024);
    for (;;) {
        int rc = lookup(buffer);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        return rc;
    }
}

// Removes the signal-message endpoints this process has open, from a
// signal handler about to end it: async-signal-safe (sigipc.cpp).
void RemoveEndpointsAtSignal();

} // namespace orx::posix

#endif
