/* Option scanning for programs that start the shell, and the splitting of a
 * raw command line into an argument vector by the quoting rules of the
 * Windows command line. */
#ifndef ORX_GETOPT_H
#define ORX_GETOPT_H

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* Scan the next single-letter option of argv.  optionString holds one
 * character per letter, ":" after a letter that takes an argument; a leading
 * ":" makes the scanner silent and reports a missing argument as ':'.
 * Returns the letter, -1 at the end of the options ("--" is consumed, a lone
 * "-" or the first operand is not), or '?' for an unknown letter or a missing
 * argument, after "illegal option -- %c\n" or "option requires an argument --
 * %c\n" on stderr (when error printing is on and the string does not begin
 * with ":").  The scanner state is process-wide. */
ORX_API int orxgetopt(int argc, char **argv, char *optionString);

/* Argument of the option just returned (it points into argv), or NULL. */
ORX_API char *orxgetopt_get_optarg(void);
/* The letter last examined; after '?' or ':' the offending letter. */
ORX_API int orxgetopt_get_optopt(void);
/* Index of the next argument to scan; starts at 1 and is never set back. */
ORX_API int orxgetopt_get_optind(void);
/* A non-zero value makes the next call start with a new argument instead of
 * continuing inside a cluster such as "-qn". */
ORX_API void orxgetopt_set_optreset(int value);
/* Zero stops the diagnostics on stderr; non-zero (the start value) prints. */
ORX_API void orxgetopt_set_opterr(int value);

/* Split the process's raw command line into *argcPtr arguments and a
 * NULL-ended *argvPtr.  Array and texts are one block from Tcl's allocator:
 * free it with one Tcl_Free((char *) *argvPtr). */
ORX_API void OrxX_SplitWinCmdLine(int *argcPtr, char ***argvPtr);

/* The splitting of OrxX_SplitWinCmdLine, applied to a NUL-terminated text
 * instead of the process's command line.  Same result and ownership. */
ORX_API void OrxX_SplitCmdLineText(const char *line, int *argcPtr, char ***argvPtr);

ORX_EXTERN_C_END

#endif
