// Signal messages between shell processes as the product sent them: thread
// message 2024 (WM_USER + 1000) posted with PostThreadMessage to the signal
// thread named in the pid file, which takes it from its message queue.
#include "platform/orxplat.h"

#include "win32.h"

#include <cerrno>
#include <new>

static_assert(ORXPLAT_SIGIPC_MESSAGE == WM_USER + 1000, "the product's thread message");

struct OrxPlat_SigIpc {
    DWORD threadId;
};

unsigned long OrxPlat_SigIpcThreadId(void)
{
    return static_cast<unsigned long>(GetCurrentThreadId());
}

int OrxPlat_SigIpcSend(unsigned long threadId, int message, int signum)
{
    if (threadId == 0 || threadId > 0xFFFFFFFFul) {
        errno = ENOENT;
        return -1;
    }
    if (!PostThreadMessageA(static_cast<DWORD>(threadId), static_cast<UINT>(message),
                            static_cast<WPARAM>(signum), static_cast<LPARAM>(signum))) {
        // A thread without a queue, or gone: nobody listens under that id.
        errno = orx::win::LastErrno();
        return -1;
    }
    return 0;
}

OrxPlat_SigIpc *OrxPlat_SigIpcListen(unsigned long threadId)
{
    if (threadId != GetCurrentThreadId()) {
        errno = EINVAL; // a queue belongs to the thread that reads it
        return nullptr;
    }
    std::string dir = OrxPlat_UserDirName();
    if (dir.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    if (!CreateDirectoryA(dir.c_str(), nullptr)) {
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            errno = orx::win::LastErrno();
            return nullptr;
        }
    } else {
        SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_HIDDEN);
    }
    auto *ipc = new (std::nothrow) OrxPlat_SigIpc;
    if (ipc == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    // The first call of a message function gives the thread its queue.
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    ipc->threadId = GetCurrentThreadId();
    return ipc;
}

int OrxPlat_SigIpcReceive(OrxPlat_SigIpc *ipc, int *message, int *signum)
{
    (void)ipc;
    for (;;) {
        MSG msg;
        BOOL rc = GetMessageA(&msg, nullptr, 0, 0);
        if (rc == -1) {
            errno = orx::win::LastErrno();
            return -1;
        }
        if (rc == 0) {
            errno = EPIPE; // WM_QUIT: the queue is being closed
            return -1;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        if (msg.hwnd == nullptr && msg.message == ORXPLAT_SIGIPC_MESSAGE) {
            *message = static_cast<int>(msg.message);
            *signum = static_cast<int>(msg.wParam);
            return 0;
        }
    }
}

void OrxPlat_SigIpcClose(OrxPlat_SigIpc *ipc)
{
    delete ipc;
}
