// Catching signals, POSIX side: the dispositions the signal commands set and
// read, the catching handler, and the relay thread that takes its deliveries
// to an ordinary thread (the handler itself may only count).  Internal to the
// library; the signal commands keep the logic, this file the system calls.
#ifndef ORX_PLATFORM_SIGCATCH_H
#define ORX_PLATFORM_SIGCATCH_H

enum OrxPlat_SigDisposition {
    ORXPLAT_SIG_DEFAULT, // the system's default action
    ORXPLAT_SIG_IGNORE,  // ignored
    ORXPLAT_SIG_CATCH,   // the catching handler of this file
    ORXPLAT_SIG_FOREIGN  // a handler someone else installed (read only)
};

// Called inside the catching handler, on whatever thread the signal arrives:
// async-signal-safe code only.  Returns true to wake the relay.
typedef bool(OrxPlat_SigCountProc)(int signum);

// Called on the relay thread after one or more wake-ups.  Returns 0 when done,
// or a number of microseconds after which to be called again even without a
// new wake-up (sooner when a wake-up comes first).
typedef unsigned(OrxPlat_SigRelayProc)(void);

// Once per process: record the two procedures and start the relay thread
// (all signals blocked in it; it lives until the process ends).  Later calls
// change nothing and return the first call's answer.  0, or an errno value.
int OrxPlat_SigCatchStart(OrxPlat_SigCountProc *count, OrxPlat_SigRelayProc *relay);

// Record the calling thread as the one whose CPU time OrxPlat_SigCatchOwnerCpuNs
// reports (the interpreters' thread).
void OrxPlat_SigCatchSetOwner(void);

// CPU time in nanoseconds used so far by the recorded thread, callable from
// any thread; -1 when unknown (none recorded, or it has ended).
long long OrxPlat_SigCatchOwnerCpuNs(void);

// Wake the relay from ordinary code (the handler wakes it by itself).
void OrxPlat_SigCatchWake(void);

// Set the disposition of signum (not ORXPLAT_SIG_FOREIGN).  The catching
// handler stays installed across deliveries, blocks nothing and does not
// restart interrupted system calls.  0, or -1 with errno.
int OrxPlat_SigSetDisposition(int signum, OrxPlat_SigDisposition disposition);

// Read the disposition of signum without changing it.  0, or -1 with errno.
int OrxPlat_SigGetDisposition(int signum, OrxPlat_SigDisposition *disposition);

#endif
