/* Interpreter initialisation: Orx_TclInit turns a fresh interpreter into an
 * Orx interpreter (environment, auto_path, type maps, every command of the
 * system, the start-up packages, prompts, the per-user directory and the
 * signal thread), plus the registration helper and small string functions
 * offered to other product libraries. */
#ifndef ORX_INIT_H
#define ORX_INIT_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* Flags of OrxX_CreateObjCommand. */
#define ORXX_CMD_NO_ALIAS 1 /* do not create the "orxx_" alias */
#define ORXX_CMD_REPLACE 2  /* create the command even when the name exists */

/* Initialise interp once, before any script runs in it.  Needs MORVA_HOME in
 * the process environment (a ":"-separated list of installation
 * directories); ORX_PATH (a Tcl list of script-library directories) is
 * optional.  The start-up packages zub and lumbrine must be found along
 * PATH.  TCL_OK (the result then holds the notes about missing type maps,
 * if any), or TCL_ERROR with a message in the interpreter result. */
ORX_API int Orx_TclInit(Tcl_Interp *interp);

/* Register the fixed command table (the orx: commands, orx:load/orx:unload,
 * tessarycfg, ...).  Always TCL_OK. */
ORX_API int Orx_TclCmdInit(Tcl_Interp *interp);

/* Call the initialiser of every command family of the library in their fixed
 * order (the same table Orx_TclInit uses).  A family whose failure is not
 * fatal does not stop the others: its message is kept and the result ends
 * holding all such messages, one per line (empty when there were none).
 * TCL_ERROR when a family whose failure is fatal fails. */
ORX_API int OrxX_InitFamilies(Tcl_Interp *interp);

/* Create the object command cmdName unless a command of that name exists in
 * the global or current namespace (ORXX_CMD_REPLACE creates it anyway), and,
 * unless ORXX_CMD_NO_ALIAS is set or cmdName begins with "tclx", the alias
 * "orxx_<cmdName>" with the same procedure and data, replacing any command of
 * that name.  The names share clientData: deleteProc (if any) runs once, when
 * the last of them is deleted (by rename, deletion or with the interpreter).
 * Always returns 0. */
ORX_API int OrxX_CreateObjCommand(Tcl_Interp *interp, const char *cmdName, Tcl_ObjCmdProc *proc,
                                  ClientData clientData, Tcl_CmdDeleteProc *deleteProc,
                                  int flags);

/* Set errorCode to a one-element list holding code, a blank and detail (a
 * null string counts as empty). */
ORX_API void Orx_PutErrCode(Tcl_Interp *interp, const char *code, const char *detail);

/* The argc strings joined by single blanks, in memory from Tcl's allocator
 * (free with Tcl_Free); "" for argc 0 or less, a null string counts as
 * empty.  Null when the memory cannot be had. */
ORX_API char *Orx_Concat(int argc, const char *const argv[]);

/* A copy of s in memory from Tcl's allocator; null for a null s or when the
 * memory cannot be had. */
ORX_API char *Orx_Ckstrdup(const char *s);

/* MORVA_HOME for hosts that start without one: the installation beside the
 * running executable (<bindir>/../share/orx, else <bindir>/..), else the one
 * built into the library.  Found once; the text is static. */
ORX_API const char *Orx_DefaultMorvaHome(void);

/* Host entry (orxsh's start-up callback, "load libtq_orxtcl.so Orx" in a
 * tclsh): when the environment has no MORVA_HOME, use Orx_DefaultMorvaHome
 * and add its bin directory to PATH; record interp as the main interpreter
 * when there is none; run Orx_TclInit; provide the package Orx.  TCL_OK or
 * TCL_ERROR. */
ORX_API int Orx_Init(Tcl_Interp *interp);

/* The same, under the name Tcl's load derives from the file name. */
ORX_API int Tq_orxtcl_Init(Tcl_Interp *interp);

ORX_EXTERN_C_END

#endif
