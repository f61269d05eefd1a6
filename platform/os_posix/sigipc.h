// Signal messages between shell processes: the POSIX stand-in for the
// thread message 2024 that kill posts to another process's signal thread.
// Each signal thread listens on a Unix datagram socket in ~/ruvadiredavoz
// named after its thread identifier (the one written in the pid file).
// Internal to the library.
#ifndef ORX_PLATFORM_SIGIPC_H
#define ORX_PLATFORM_SIGIPC_H

#include <stddef.h>

// Message number carried by a signal message.
#define ORXPLAT_SIGIPC_MESSAGE 2024

// Identifier of the calling thread as written in the pid file: the kernel
// thread id, unique system-wide while the thread lives.
unsigned long OrxPlat_SigIpcThreadId(void);

// Send message and signum to the signal thread threadId of any process of
// this user.  0 on success, -1 with errno (ENOENT or ECONNREFUSED: nobody
// listens under that id; ENAMETOOLONG: the socket path does not fit).
int OrxPlat_SigIpcSend(unsigned long threadId, int message, int signum);

// Listening end of one signal thread.
struct OrxPlat_SigIpc {
    int fd;
    char path[108];
};

// Bind the endpoint for threadId, creating ~/ruvadiredavoz (mode 0700) when
// missing and replacing a stale socket file.  0, or -1 with errno and ipc->fd
// set to -1.
int OrxPlat_SigIpcListen(unsigned long threadId, OrxPlat_SigIpc *ipc);

// Wait for the next well-formed message sent by a process of this user.
// 0 with *message and *signum set, or -1 with errno (never EINTR).
int OrxPlat_SigIpcReceive(OrxPlat_SigIpc *ipc, int *message, int *signum);

// Close the endpoint and remove its socket file.
void OrxPlat_SigIpcClose(OrxPlat_SigIpc *ipc);

// Append text to the file at path in one write, creating it with mode 0600.
// 0, or -1 with errno.
int OrxPlat_AppendToFile(const char *path, const char *text);

#endif
