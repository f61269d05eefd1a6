// Helpers the POSIX files of the OS layer share.  Internal to os_posix/.
#ifndef ORX_PLATFORM_OS_POSIX_POSIX_H
#define ORX_PLATFORM_OS_POSIX_POSIX_H

#include <unistd.h>

#include <cerrno>
#include <cstddef>
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

// Writes all of [data, data + size) to fd, through interrupts and short
// writes.  0, or the errno value (EIO for a write that makes no progress).
inline int WriteAll(int fd, const char *data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? errno : EIO;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

// Removes the signal-message endpoints this process has open, from a
// signal handler about to end it: async-signal-safe (sigipc.cpp).
void RemoveEndpointsAtSignal();

} // namespace orx::posix

#endif
