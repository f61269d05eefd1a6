/* The enumerated-type registry of the product's Tcl build: named types with
 * named literals, each literal carrying display attributes.  Type maps are
 * read from files (format in docs/reference/typemap.md) and merged into one
 * process-wide registry; handles stay valid for the life of the process. */
#ifndef ORX_ETP_H
#define ORX_ETP_H

#include <stddef.h>
#include <tcl.h>

#include "tclbuild_export.h"

TQ_TCLBUILD_EXTERN_C_BEGIN

typedef struct EtpType EtpType;
typedef struct EtpLiteral EtpLiteral;
typedef struct EtpAttr EtpAttr;

/* Attribute indices of a literal. */
#define ETP_ATTR_VALUE 0 /* int: the literal's ordinal value */
#define ETP_ATTR_LABEL 1 /* text: the name shown to users */
#define ETP_ATTR_WIDTH 2 /* int: line width */
#define ETP_ATTR_STYLE 3 /* text: line style "-", "- -" or "." */
#define ETP_ATTR_RED 4   /* int: colour components, -1 when unset */
#define ETP_ATTR_GREEN 5
#define ETP_ATTR_BLUE 6
#define ETP_ATTR_COUNT 7

/* Flags of the loaders. */
#define ETP_LOAD_QUIET 1  /* no messages on standard error */
#define ETP_LOAD_ATOMIC 2 /* merge nothing when any line is malformed */
#define ETP_LOAD_CHECK 4  /* only check the text, merge nothing */

/* Load a type-map file and merge it into the registry.  Malformed lines are
 * reported as "<path>:<line>: <what>" on standard error (unless
 * ETP_LOAD_QUIET) and skipped.  Returns 0, the number of malformed lines, or
 * -1 when the file cannot be read. */
TQ_TCLBUILD_API int etpLoadTypeMap(const char *path, int flags);

/* As etpLoadTypeMap for length bytes of text named fileName in messages.
 * When errorsPtr is not null it receives the messages, one per line, in a
 * Tcl_Alloc'ed string (null when there are none) that the caller frees with
 * Tcl_Free.  Returns the number of malformed lines. */
TQ_TCLBUILD_API int etpLoadTypeMapText(const char *text, size_t length, const char *fileName, int flags,
                               char **errorsPtr);

/* Register the registry's Tcl commands (etp:types, etp:literals, etp:attr,
 * etp:load).  Returns TCL_OK. */
TQ_TCLBUILD_API int etpCreateTclCommands(Tcl_Interp *interp);

/* Non-zero when the type exists; *typePtr is then set. */
TQ_TCLBUILD_API int etpFindType(const char *typeName, EtpType **typePtr);

/* Non-zero when the literal exists in the type; *literalPtr is then set. */
TQ_TCLBUILD_API int etpFindTypeLiteralByName(EtpType *type, const char *literalName,
                                     EtpLiteral **literalPtr);

/* Non-zero for an index from 0 to ETP_ATTR_COUNT - 1; *attrPtr is then set. */
TQ_TCLBUILD_API int etpGetLiteralAttr(EtpLiteral *literal, int index, EtpAttr **attrPtr);

/* Store a value.  An int attribute given text keeps its value unless the
 * text is an integer; a text attribute given an int stores its decimal text.
 * Non-zero when stored. */
TQ_TCLBUILD_API int etpSetAttrValFromInt(EtpAttr *attr, int value);
TQ_TCLBUILD_API int etpSetAttrValFromString(EtpAttr *attr, const char *value);

/* Read an attribute: its int (0 for a text attribute that is not an integer)
 * or its text (a decimal text for an int attribute) into a buffer of size
 * bytes, cut to fit.  Non-zero when attr is valid. */
TQ_TCLBUILD_API int etpGetAttrInt(EtpAttr *attr, int *valuePtr);
TQ_TCLBUILD_API int etpGetAttrString(EtpAttr *attr, char *buffer, size_t size);

TQ_TCLBUILD_EXTERN_C_END

#endif
