/* The Orx shell: the entry point a host executable calls, the command loops
 * that read commands from standard input (blocking, or driven by the event
 * loop), the result printer they share, and the two ways the shell ends the
 * process. */
#ifndef ORX_SHELL_H
#define ORX_SHELL_H

#include <tcl.h>

#include "orx_export.h"

#if defined(__GNUC__)
#define ORX_NORETURN __attribute__((noreturn))
#define ORX_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define ORX_NORETURN
#define ORX_PRINTF(f, a)
#endif

ORX_EXTERN_C_BEGIN

/* Bits of the loop options word. */
#define ORXX_CMDLOOP_INTERACTIVE 1 /* print prompts and successful results */
#define ORXX_CMDLOOP_EXIT_AT_END 2 /* async loop: end the process (status 0) at its end */

/* Run the Orx shell: create the main interpreter, scan the options
 * "?-quns? ?-f? ?script?|?-c command? ?args?" of argv, publish them in
 * ORXXENV, argv0, argv, argc, tcl_interactive and orx_exec_dir, call
 * appInitProc(interp), then evaluate the -c command or the script file, or
 * service events for ever (-s), or run the command loop on standard input.
 * Never returns: the process ends with status 0, 255 on a fatal error, or 1
 * after a usage error. */
ORX_API ORX_NORETURN void OrxSh_Main(int argc, char **argv, Tcl_AppInitProc *appInitProc);

/* Read commands from standard input until its end, evaluating each complete
 * command (prefixed by command and a blank when command is not null) with
 * history recording at the current level.  With ORXX_CMDLOOP_INTERACTIVE in
 * options, prompts (prompt1/prompt2 scripts, else tcl_prompt1/tcl_prompt2,
 * else "%" and ">") and successful results are printed; failures always are.
 * An interrupt discards the command being typed.  endCommand, when given, is
 * evaluated once at the end.  TCL_OK, or TCL_ERROR on a read error ("command
 * input error on stdin: ...") or when endCommand fails.  The strings are only
 * read, during the call. */
ORX_API int OrxX_CommandLoop(Tcl_Interp *interp, int options, const char *command,
                             const char *endCommand, const char *prompt1, const char *prompt2);

/* Install a command loop on standard input that the event loop drives, and
 * return at once.  The strings are copied.  Commands are evaluated at global
 * level.  At end of input the loop is removed (endCommand evaluated at global
 * level, a failure reported as a background error), or with
 * ORXX_CMDLOOP_EXIT_AT_END the process ends with status 0.  TCL_OK, or
 * TCL_ERROR when standard input cannot be opened for reading. */
ORX_API int OrxX_AsyncCommandLoop(Tcl_Interp *interp, int options, const char *command,
                                  const char *endCommand, const char *prompt1,
                                  const char *prompt2);

/* Print the interpreter result for completion code intResult: a non-empty
 * TCL_OK result on standard output, anything else on standard error (with
 * "Bad return code (N): " before it unless the code is TCL_ERROR).  When
 * checkCmd is a "set" command with more than two words and the code is
 * TCL_OK, nothing is printed. */
ORX_API void OrxX_PrintResult(Tcl_Interp *interp, int intResult, const char *checkCmd);

/* End the process with exitCode (the shell always passes 0), deleting interp
 * first when ORXXENV(deleteInterpAtShellExit) is a true boolean. */
ORX_API ORX_NORETURN void OrxX_ShellExit(Tcl_Interp *interp, int exitCode);

/* End the process with exitCode after a fatal error: add the printf-style
 * message (format may be null) to errorInfo, then print the result and, unless
 * ORXXENV(noDump) is set to something other than "0", the error trace on
 * standard error. */
ORX_API ORX_NORETURN void OrxX_ErrorExit(Tcl_Interp *interp, int exitCode, const char *format,
                                         ...) ORX_PRINTF(3, 4);

/* Register the commandloop command in interp.  Returns TCL_OK. */
ORX_API int OrxXCmdloopInit(Tcl_Interp *interp);

ORX_EXTERN_C_END

#endif
