// The signal thread: the receiving end of kill between shell processes.  It
// names itself in the pid file and raises, in this process, each signal that
// another process sends it through the signal-message endpoint.
#include "orx_signal.h"

#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "orx_util.h"
#include "platform/os_posix/sigipc.h"
#include "extended/internal.h"

namespace {

void *SignalThreadMain(void *pidPath)
{
    OrxSignalThread(static_cast<char *>(pidPath));
    return nullptr;
}

bool AllDigits(const std::string &text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

void Serve(const char *pidPath)
{
    std::string path(pidPath);
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return;
    }
    std::string pidText = path.substr(slash + 1);
    if (!AllDigits(pidText)) {
        return;
    }
    std::string pidFile = path.substr(0, slash);

    // raise() must reach the catching handler on this thread.
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);

    unsigned long threadId = OrxPlat_SigIpcThreadId();
    OrxPlat_SigIpc ipc;
    // Listen before naming ourselves, so a kill that finds the line gets
    // through; without an endpoint the line would only mislead kill.
    if (OrxPlat_SigIpcListen(threadId, &ipc) != 0) {
        return;
    }
    std::string line = pidText + " " + std::to_string(threadId) + "\n";
    (void)OrxPlat_AppendToFile(pidFile.c_str(), line.c_str());

    int message, signalNum;
    while (OrxPlat_SigIpcReceive(&ipc, &message, &signalNum) == 0) {
        if (message == ORXPLAT_SIGIPC_MESSAGE && signalNum > 0 && signalNum < NSIG) {
            raise(signalNum);
        }
    }
    OrxPlat_SigIpcClose(&ipc);
}

} // namespace

void OrxSignalThread(char *pidPath)
{
    if (pidPath == nullptr) {
        return;
    }
    try {
        Serve(pidPath);
    } catch (...) {
        // Out of memory while forming names: no signal thread, as if the
        // endpoint could not be opened.
    }
    free(pidPath);
}

int OrxX_StartSignalThread(Tcl_Interp *interp, const char *pidPath)
{
    char *copy = pidPath != nullptr ? strdup(pidPath) : nullptr;
    if (copy == nullptr) {
        if (interp != nullptr) {
            orx::AppendResult(interp, "couldn't start the signal thread: ",
                              pidPath == nullptr ? "no pid file name" : "not enough memory");
        }
        return TCL_ERROR;
    }
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, SignalThreadMain, copy);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        free(copy);
        if (interp != nullptr) {
            orx::AppendResult(interp, "couldn't start the signal thread: ", strerror(rc));
        }
        return TCL_ERROR;
    }
    return TCL_OK;
}
