// Test helper: run a piece of code in a forked child whose standard output and error go to files,
// for code that ends the process (the shell's exits, OrxSh_Main) or must not leave state behind.
#ifndef ORX_CHILD_RUN_H
#define ORX_CHILD_RUN_H
#include <tcl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace orxtest {

struct ChildRun {
    int status; // exit status, or -1 when the child did not exit
    std::string out, err;
};

inline std::string ReadAll(FILE *file)
{
    std::string text;
    rewind(file);
    for (int c; (c = fgetc(file)) != EOF;) {
        text += static_cast<char>(c);
    }
    fclose(file);
    return text;
}

// Tcl_Exit in the child must not finalise a Tcl whose threads stayed in the parent.
inline void ExitNow(ClientData clientData)
{
    _exit(static_cast<int>(reinterpret_cast<intptr_t>(clientData)));
}

// In a forked child: gives up root, which may read, write and search anything.
inline bool BecomeNobody()
{
    return geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0);
}

// Runs body in a forked child with a fresh interpreter; a body that returns exits with 100.
inline ChildRun RunChild(const std::function<void(Tcl_Interp *)> &body)
{
    FILE *out = tmpfile(), *err = tmpfile();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fileno(out), 1);
        dup2(fileno(err), 2);
        Tcl_SetExitProc(ExitNow);
        Tcl_Interp *interp = Tcl_CreateInterp();
        body(interp);
        Tcl_Flush(Tcl_GetStdChannel(TCL_STDOUT));
        Tcl_Flush(Tcl_GetStdChannel(TCL_STDERR));
        _exit(100);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(out), ReadAll(err)};
}
} // namespace orxtest
#endif
