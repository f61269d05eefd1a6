// Terminal and access checks of the libtq_cc stand-in, on the OS seam.
#include "tq_cc.h"

#include <cerrno>

#include "platform/orxplat.h"

static_assert(TQ_F_OK == ORXPLAT_ACCESS_EXISTS && TQ_X_OK == ORXPLAT_ACCESS_EXECUTE &&
                  TQ_W_OK == ORXPLAT_ACCESS_WRITE && TQ_R_OK == ORXPLAT_ACCESS_READ,
              "the rights pass through unchanged");

int tq_isatty(int fd)
{
    return OrxPlat_IsTerminal(fd) ? 1 : 0;
}

int tq_access(const char *path, int mode)
{
    int error = path != nullptr ? OrxPlat_Access(path, mode) : EINVAL;
    if (error != 0) {
        errno = error;
        return -1;
    }
    return 0;
}
