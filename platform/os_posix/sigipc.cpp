// Signal messages between shell processes over Unix datagram sockets in
// ~/ruvadiredavoz.  Only processes of the same user get through: the
// directory is private and every datagram carries the sender's credentials.
#include "platform/orxplat.h"
#include "posix.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <dirent.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <string>
#include <vector>

struct OrxPlat_SigIpc {
    int fd;
    char path[sizeof(sockaddr_un::sun_path)];
};

namespace {

const uint32_t kMagic = 0x4F525853; // "ORXS"

struct Datagram {
    uint32_t magic;
    int32_t message;
    int32_t wParam;
    int32_t lParam;
};

// The socket lives in the per-user directory, under the name start-up and
// kill use.
bool SocketAddress(unsigned long threadId, struct sockaddr_un &addr, std::string *dirOut)
{
    try {
        std::string dir = OrxPlat_UserDirName();
        if (dir.empty()) {
            errno = ENOENT;
            return false;
        }
        std::string path = dir + "/sig-" + std::to_string(threadId);
        memset(&addr, 0, sizeof addr);
        addr.sun_family = AF_UNIX;
        if (path.size() >= sizeof addr.sun_path) {
            errno = ENAMETOOLONG;
            return false;
        }
        memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        if (dirOut != nullptr) {
            *dirOut = dir;
        }
        return true;
    } catch (...) {
        errno = ENOMEM;
        return false;
    }
}

} // namespace

unsigned long OrxPlat_SigIpcThreadId(void)
{
    return static_cast<unsigned long>(syscall(SYS_gettid));
}

int OrxPlat_SigIpcSend(unsigned long threadId, int message, int signum)
{
    struct sockaddr_un addr;
    if (!SocketAddress(threadId, addr, nullptr)) {
        return -1;
    }
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    Datagram d = {kMagic, message, signum, signum};
    ssize_t n;
    do {
        n = sendto(fd, &d, sizeof d, MSG_NOSIGNAL, reinterpret_cast<struct sockaddr *>(&addr),
                   sizeof addr);
    } while (n < 0 && errno == EINTR);
    int saved = errno;
    close(fd);
    if (n != static_cast<ssize_t>(sizeof d)) {
        errno = n < 0 ? saved : EMSGSIZE;
        return -1;
    }
    return 0;
}

namespace {

// Endpoints of this process, removed when it exits normally.
std::mutex g_processEndpointLock;
std::vector<std::string> *g_processEndpoints = nullptr;

// The same paths for a signal handler, which may take no lock: a slot is
// filled before it is published and unpublished before it is reused.  A
// forked child that never execs must not remove its parent's files, hence
// the owner.
constexpr int kSignalSlots = 4;
struct SignalSlot {
    std::atomic<long> owner{0}; // pid, 0 when free
    char path[sizeof(sockaddr_un::sun_path)];
};
SignalSlot g_processSignalSlots[kSignalSlots];

void PublishForSignal(const char *path)
{
    for (SignalSlot &slot : g_processSignalSlots) {
        long expected = 0;
        // -1 reserves the slot while its path is written.
        if (slot.owner.compare_exchange_strong(expected, -1)) {
            strncpy(slot.path, path, sizeof slot.path - 1);
            slot.path[sizeof slot.path - 1] = '\0';
            slot.owner.store(static_cast<long>(getpid()));
            return;
        }
    }
}

void UnpublishForSignal(const char *path)
{
    long self = static_cast<long>(getpid());
    for (SignalSlot &slot : g_processSignalSlots) {
        if (slot.owner.load() == self && strcmp(slot.path, path) == 0) {
            slot.owner.store(0);
        }
    }
}

// atexit handler: no endpoint file is left behind by a normal exit.
void RemoveEndpoints()
{
    std::lock_guard<std::mutex> lock(g_processEndpointLock);
    if (g_processEndpoints != nullptr) {
        for (const std::string &path : *g_processEndpoints) {
            unlink(path.c_str());
        }
    }
}

// Endpoints still open at exit are removed then.
void RememberEndpoint(const char *path)
{
    try {
        std::lock_guard<std::mutex> lock(g_processEndpointLock);
        if (g_processEndpoints == nullptr) {
            g_processEndpoints = new std::vector<std::string>();
            atexit(RemoveEndpoints);
        }
        g_processEndpoints->push_back(path);
        PublishForSignal(path);
    } catch (...) {
        // Only the clean-up at exit is lost; the next sweep removes the file.
    }
}

// For an endpoint being closed, whose closer removes the file itself.
void ForgetEndpoint(const char *path)
{
    std::lock_guard<std::mutex> lock(g_processEndpointLock);
    UnpublishForSignal(path);
    if (g_processEndpoints != nullptr) {
        auto &v = *g_processEndpoints;
        v.erase(std::remove_if(v.begin(), v.end(),
                               [path](const std::string &p) { return p == path; }),
                v.end());
    }
}

// Remove the socket files of signal threads that have ended (a process
// killed by a signal cannot remove its own).  Nobody binds while we hold the
// directory lock, so a refused connection means nobody is listening there.
void SweepStale(const std::string &dir)
{
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) {
        return;
    }
    while (struct dirent *e = readdir(d)) {
        if (strncmp(e->d_name, "sig-", 4) != 0 || e->d_name[4] == '\0' ||
            strspn(e->d_name + 4, "0123456789") != strlen(e->d_name + 4)) {
            continue;
        }
        struct sockaddr_un addr;
        memset(&addr, 0, sizeof addr);
        addr.sun_family = AF_UNIX;
        int len = snprintf(addr.sun_path, sizeof addr.sun_path, "%s/%s", dir.c_str(), e->d_name);
        if (len < 0 || static_cast<size_t>(len) >= sizeof addr.sun_path) {
            continue;
        }
        struct stat st;
        if (lstat(addr.sun_path, &st) != 0 || !S_ISSOCK(st.st_mode)) {
            continue;
        }
        int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            break;
        }
        if (connect(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr) != 0 &&
            errno == ECONNREFUSED) {
            unlink(addr.sun_path);
        }
        close(fd);
    }
    closedir(d);
}

} // namespace

void orx::posix::RemoveEndpointsAtSignal()
{
    long self = static_cast<long>(getpid());
    for (SignalSlot &slot : g_processSignalSlots) {
        if (slot.owner.load() == self) {
            unlink(slot.path);
        }
    }
}

OrxPlat_SigIpc *OrxPlat_SigIpcListen(unsigned long threadId)
{
    struct sockaddr_un addr;
    std::string dir;
    if (!SocketAddress(threadId, addr, &dir)) {
        return nullptr;
    }
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        return nullptr;
    }
    auto *ipc = new (std::nothrow) OrxPlat_SigIpc;
    if (ipc == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        int saved = errno;
        delete ipc;
        errno = saved;
        return nullptr;
    }
    int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
        int saved = errno;
        close(fd);
        delete ipc;
        errno = saved;
        return nullptr;
    }
    // Binding and sweeping are serialised between processes by a lock on
    // the directory itself.
    int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        while (flock(dirFd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    SweepStale(dir);
    // No live thread shares our id, so a socket file under it was left by a
    // process that has ended.
    int rc = 0;
    struct stat st;
    if (lstat(addr.sun_path, &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            errno = EEXIST;
            rc = -1;
        } else {
            unlink(addr.sun_path);
        }
    }
    if (rc == 0) {
        rc = bind(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr);
    }
    int saved = errno;
    if (dirFd >= 0) {
        close(dirFd);
    }
    if (rc != 0) {
        close(fd);
        delete ipc;
        errno = saved;
        return nullptr;
    }
    ipc->fd = fd;
    memcpy(ipc->path, addr.sun_path, sizeof ipc->path);
    RememberEndpoint(ipc->path);
    return ipc;
}

int OrxPlat_SigIpcReceive(OrxPlat_SigIpc *ipc, int *message, int *signum)
{
    for (;;) {
        Datagram d;
        struct iovec iov = {&d, sizeof d};
        union {
            char buf[CMSG_SPACE(sizeof(struct ucred))];
            struct cmsghdr align;
        } control;
        struct msghdr msg;
        memset(&msg, 0, sizeof msg);
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control.buf;
        msg.msg_controllen = sizeof control.buf;
        ssize_t n = recvmsg(ipc->fd, &msg, MSG_CMSG_CLOEXEC);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n != static_cast<ssize_t>(sizeof d) || (msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) ||
            d.magic != kMagic) {
            continue;
        }
        bool sameUser = false;
        for (struct cmsghdr *c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS &&
                c->cmsg_len >= CMSG_LEN(sizeof(struct ucred))) {
                struct ucred cred;
                memcpy(&cred, CMSG_DATA(c), sizeof cred);
                sameUser = cred.uid == geteuid();
            }
        }
        if (!sameUser) {
            continue;
        }
        *message = d.message;
        *signum = d.wParam;
        return 0;
    }
}

void OrxPlat_SigIpcClose(OrxPlat_SigIpc *ipc)
{
    if (ipc == nullptr) {
        return;
    }
    if (ipc->fd >= 0) {
        close(ipc->fd);
    }
    if (ipc->path[0] != '\0') {
        ForgetEndpoint(ipc->path);
        unlink(ipc->path);
    }
    delete ipc;
}
