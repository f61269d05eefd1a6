/* Safe file writing for other product libraries: opening files through the
 * interpreter's file-name rules, and replacing a file without ever leaving a
 * half-written or missing one: the new content goes to a temporary file of
 * the handle's own beside the target, which is synced and renamed over the
 * target in one atomic step on close. */
#ifndef ORX_SAFEWRITE_H
#define ORX_SAFEWRITE_H

#include <stdio.h>
#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* A write in progress; opaque. */
typedef struct Orx_RobustFile Orx_RobustFile;

/* Longest name Orx_Fopen opens (its name buffer holds this plus a zero). */
#define ORX_FOPEN_NAME_MAX 1023

/* Open fileName with fopen's mode.  When the name has no extension and
 * defaultExt is not null, defaultExt (".txt") is appended to its root name.
 * Unless noSearch is set the name is looked up with Orx_Spath(interp, name,
 * searchSpec, mode, ORX_SPATH_PATH_FIRST).  On success *openedName (when not
 * null) points to the name opened, in a process-wide buffer valid until the
 * next call.  Null on failure, with the message
 * "couldn't open file "<name>" with access mode "<mode>":<reason>" (and
 * errorCode) in interp; a name longer than ORX_FOPEN_NAME_MAX is refused with
 * the reason "file name too long".  The interpreter result is reset first.
 * Not reentrant. */
ORX_API FILE *Orx_Fopen(Tcl_Interp *interp, const char *fileName, const char *searchSpec,
                        const char *mode, const char *defaultExt, const char **openedName,
                        int noSearch);

/* Start replacing fileName: checks that it may be written (an existing
 * target must be a writable non-directory, its directory must exist and be
 * writable) and creates a temporary file to write into, exclusively (never
 * through a link, never a file that is there): "<fileName>.tq_tmp", or
 * "<fileName>.<six letters>.tq_tmp" when that name is taken, so that every
 * handle, also on the same target, has its own.  The target is not touched
 * until Orx_RobustFcloseForWrite.  The interpreter result is reset first;
 * null with a message in interp ("No file name is given for writing.", "The
 * file "<name>" is not modifiable for writing.", or Orx_Fopen's message
 * naming "<fileName>.tq_tmp").  interp may be null (no message). */
ORX_API Orx_RobustFile *Orx_RobustFopenForWrite(Tcl_Interp *interp, const char *fileName);

/* The stream to write the new content to; null for a null handle. */
ORX_API FILE *Orx_GetFilePtr(Orx_RobustFile *handle);

/* Finish: flush and fsync the temporary file, give it the target's
 * permission bits, rename it over the target (atomic: the target holds the
 * old or the new content at every moment), fsync the directory, release the
 * handle.  Of two handles on one target, the one closed last wins.  TCL_OK,
 * also for a null handle, with the interpreter result untouched.  TCL_ERROR
 * with a message as the interpreter result (reset first) when the data could
 * not all be written (the target is left as it was and the temporary file
 * removed) or the rename failed (the temporary file is kept and the message
 * names it).  The handle is released in every case. */
ORX_API int Orx_RobustFcloseForWrite(Tcl_Interp *interp, Orx_RobustFile *handle);

/* Give up: close and remove the temporary file, release the handle; the
 * target is untouched.  Nothing for a null handle. */
ORX_API void Orx_RobustFabortForWrite(Orx_RobustFile *handle);

ORX_EXTERN_C_END

#endif
