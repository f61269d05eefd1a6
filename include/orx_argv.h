/* Argument tables: a command declares its options in a table of Orx_ArgvInfo
 * entries, and Orx_ParseArgv (strings) or Orx_ParseArgsObjv (Tcl objects)
 * consumes the matching words, stores their values and leaves the other words
 * for the caller.  "-help" is always there and answers with a summary of the
 * table.  Offered to the product's other libraries. */
#ifndef ORX_ARGV_H
#define ORX_ARGV_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* One table entry; a table ends with an entry of type ORX_ARGV_END. */
typedef struct Orx_ArgvInfo {
    const char *key;  /* the option word with its "-"; null for a help text line */
    int type;         /* ORX_ARGV_... below */
    void *src;        /* the constant (as a pointer-sized integer) or the procedure */
    void *dst;        /* where the value goes (its type depends on type) */
    const char *help; /* one line of help text */
} Orx_ArgvInfo;

/* Types: what the option takes and what dst points to.
 *  CONSTANT  no value word; stores (int)(intptr_t)src in the int at dst
 *  INT       one value word; an int at dst
 *  STRING    one value word; the word's string (not copied) in the
 *            const char * at dst: it lives as long as the word
 *  REST      no value word; the index in the result array where the
 *            remaining words start, in the int at dst; the words after it
 *            are left over unparsed
 *  FLOAT     one value word; a double at dst
 *  FUNC      src is an Orx_ArgvFuncProc, called with the next word (null when
 *            none is left); a non-zero answer consumes that word
 *  GENFUNC   src is an Orx_ArgvGenFuncProc (Orx_ParseArgv) or an
 *            Orx_ArgvGenFuncObjProc (Orx_ParseArgsObjv), given the remaining
 *            words; it moves the words it leaves to the front of the array
 *            it is given and returns how many there are, or -1 (with a
 *            message in the interpreter result) to fail the parse
 *  HELP      no value word; the help summary goes into the result and the
 *            parse fails
 *  END       ends the table */
#define ORX_ARGV_CONSTANT 15
#define ORX_ARGV_INT 16
#define ORX_ARGV_STRING 17
#define ORX_ARGV_REST 18
#define ORX_ARGV_FLOAT 19
#define ORX_ARGV_FUNC 20
#define ORX_ARGV_GENFUNC 21
#define ORX_ARGV_HELP 22
#define ORX_ARGV_END 23

/* Flags. */
#define ORX_ARGV_NO_DEFAULTS 0x1          /* the summary leaves out the generic options */
#define ORX_ARGV_NO_LEFTOVERS 0x2         /* a word matching no option is an error */
#define ORX_ARGV_NO_ABBREV 0x4            /* only whole option words match */
#define ORX_ARGV_DONT_SKIP_FIRST_ARG 0x8  /* the first word is an option word too */

typedef int(Orx_ArgvFuncProc)(void *dst, const char *key, const char *nextArg);
typedef int(Orx_ArgvGenFuncProc)(void *dst, Tcl_Interp *interp, const char *key, int argc,
                                 const char **argv);
typedef int(Orx_ArgvGenFuncObjProc)(void *dst, Tcl_Interp *interp, const char *key, int objc,
                                    Tcl_Obj **objv);

/* Parse the *argcPtr words of argv (argv[0], the command name, is kept in
 * place unless ORX_ARGV_DONT_SKIP_FIRST_ARG) against argTable (may be null),
 * then the generic table ("-help").  An option is its whole key or, unless
 * ORX_ARGV_NO_ABBREV, an unambiguous prefix of it.  TCL_OK: argv holds the
 * words left over, in order, followed by a null entry (argv must have room
 * for *argcPtr + 1 entries, as main's and Tcl's string argument vectors
 * have), and *argcPtr their number.  TCL_ERROR: the message is appended to
 * the interpreter result; argv may be partly rewritten and values already
 * stored stay stored.  Integers are read as C reads them (0x hexadecimal,
 * leading 0 octal) and must fit an int. */
ORX_API int Orx_ParseArgv(Tcl_Interp *interp, int *argcPtr, const char **argv,
                          const Orx_ArgvInfo *argTable, int flags);

/* The same over objects, with Tcl's rules for numbers (a bad number replaces
 * the result with the message).  No reference counts change.  The entry after
 * the last word left over is set to null when it lies inside the original
 * *objcPtr entries (a command's objv has no room beyond them). */
ORX_API int Orx_ParseArgsObjv(Tcl_Interp *interp, int *objcPtr, Tcl_Obj **objv,
                              const Orx_ArgvInfo *argTable, int flags);

ORX_EXTERN_C_END

#endif
