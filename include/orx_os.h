/* Operating-system layer of the extended command library: elapsed time,
 * signalling another shell process, directory walking, channel file sizes and
 * the flock probe.  Used by kill, infox, the library index and list reading. */
#ifndef ORX_OS_H
#define ORX_OS_H

#include <stdint.h>
#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* Called by OrxXOSWalkDir for each entry: path is the directory exactly as the
 * caller passed it, fileName the entry's name, caseSensitive 1 when the file
 * system tells names apart by case.  TCL_OK or TCL_CONTINUE go on to the next
 * entry; any other status stops the walk and becomes its result. */
typedef int(OrxXOSWalkCallbackProc)(Tcl_Interp *interp, const char *path, const char *fileName,
                                    int caseSensitive, ClientData clientData);

/* Milliseconds since the first call in *realTime (the first call stores 0), on
 * a monotonic clock; *cpuTime gets the CPU time (user + system) this process
 * has used, in milliseconds.  Either pointer may be null. */
ORX_API void OrxXOSElapsedTime(long *realTime, long *cpuTime);

/* Send signalNumber to the shell process pid through the signal thread named
 * for it in the pid file ~/ruvadiredavoz/pid_tq.  A process without a line
 * there is ended only for signal 2 (interrupt); any other signal is then
 * dropped.  Refuses pids of 0 and below.  TCL_OK with an empty result, or
 * TCL_ERROR with a message.  funcName is not used. */
ORX_API int OrxXOSkill(Tcl_Interp *interp, int pid, int signalNumber, const char *funcName);

/* Call callback for each entry of the directory path ("" means "."), except
 * "." and "..", and names beginning with "." unless hidden is non-zero.  A
 * path that is missing or not a directory gives TCL_OK without a call; an
 * unreadable directory gives TCL_ERROR with a message.  Otherwise returns the
 * last callback status (TCL_OK if none was called). */
ORX_API int OrxXOSWalkDir(Tcl_Interp *interp, const char *path, int hidden,
                          OrxXOSWalkCallbackProc *callback, ClientData clientData);

/* Size in bytes of the file behind the channel (its read handle, else its
 * write handle): the file's size for a disk file or pipe, 0 for a character
 * device or socket.  TCL_ERROR without a message, errno set (EISDIR for a
 * directory, else EINVAL unless fstat said otherwise), when the channel has
 * no OS handle or its type is unknown. */
ORX_API int OrxXOSGetFileSize(Tcl_Channel channel, int64_t *fileSize);

/* 1 when advisory file locking (flock) works on this system, else 0.  Probed
 * once per process. */
ORX_API int OrxXOSHaveFlock(void);

ORX_EXTERN_C_END

#endif
