/* Shared utility interface of the extended command library: number and
 * index-expression parsing, channel look-up and coded options, usage errors,
 * result building and the saving of an interpreter's result and error state.
 * Every command family of the library, and other product libraries, use it. */
#ifndef ORX_UTIL_H
#define ORX_UTIL_H

#include <stdint.h>
#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* Channel option selectors for OrxX_GetChannelOption. */
#define ORXX_COPT_BLOCKING 1
#define ORXX_COPT_BUFFERING 2
#define ORXX_COPT_TRANSLATION 3

/* Coded values written by OrxX_GetChannelOption. */
#define ORXX_BUFFERING_FULL 0
#define ORXX_BUFFERING_LINE 1
#define ORXX_BUFFERING_NONE 2
#define ORXX_TRANSLATE_AUTO 1
#define ORXX_TRANSLATE_LF 2
#define ORXX_TRANSLATE_BINARY 2
#define ORXX_TRANSLATE_CR 3
#define ORXX_TRANSLATE_CRLF 4
#define ORXX_TRANSLATE_PLATFORM 5

/* Parse a whole string (blanks around it allowed, one optional sign) as a
 * 32-bit Tcl int in the given base (0: C prefixes); the magnitude may use all
 * 32 bits and wraps ("0xFFFFFFFF" is -1).  Returns 1 and stores the value, or
 * 0 leaving *valuePtr untouched when no digit was read, the magnitude
 * overflowed 32 bits or other characters follow. */
ORX_API int OrxX_StrToInt(const char *string, int base, long *valuePtr);

/* As OrxX_StrToInt for an unsigned value, by strtoul's rules: a "-" negates
 * modulo 2^32. */
ORX_API int OrxX_StrToUnsigned(const char *string, int base, unsigned *valuePtr);

/* As OrxX_StrToInt, storing a 64-bit value: "-" negates the 32-bit magnitude
 * in 64 bits. */
ORX_API int OrxX_StrToOffset(const char *string, int base, int64_t *offsetPtr);

/* Read an object as a non-negative Tcl int.  TCL_ERROR leaves Tcl's message or
 * "expected unsigned integer, got ..." appended to the result. */
ORX_API int OrxX_GetUnsignedFromObj(Tcl_Interp *interp, Tcl_Obj *objPtr, unsigned *valuePtr);

/* Read an object as a Tcl int, sign-extended to 64 bits. */
ORX_API int OrxX_GetOffsetFromObj(Tcl_Interp *interp, Tcl_Obj *objPtr, int64_t *offsetPtr);

/* Resolve an index expression against a length: a leading "end" stands for
 * length-1 and "len" for length, the rest is evaluated with the number as a
 * Tcl expression (an integer object is taken as is, an empty text is 0, a
 * fraction is truncated).  No clamping; TCL_ERROR leaves the evaluator's
 * message. */
ORX_API int OrxX_RelativeExpr(Tcl_Interp *interp, Tcl_Obj *exprPtr, int length,
                              long *exprResultPtr);

/* Copy source into target with ASCII letters lowered (DownShift) or raised
 * (UpShift).  A null target gets a Tcl_Alloc'ed copy the caller frees with
 * Tcl_Free.  Source and target may be the same.  Returns target. */
ORX_API char *OrxX_DownShift(char *target, const char *source);
ORX_API char *OrxX_UpShift(char *target, const char *source);

/* Look up an open channel, checking it was opened for the given direction
 * (TCL_READABLE, TCL_WRITABLE or 0).  Null with a message in the result. */
ORX_API Tcl_Channel OrxX_GetOpenChannel(Tcl_Interp *interp, const char *handle, int direction);
ORX_API Tcl_Channel OrxX_GetOpenChannelObj(Tcl_Interp *interp, Tcl_Obj *handleObj,
                                           int direction);

/* Read -blocking, -buffering or -translation of a channel in coded form
 * (see the ORXX_ values above; translation is input << 8 | output).  An
 * option text outside the known words is TCL_ERROR with a message; an
 * option selector other than the three is a panic. */
ORX_API int OrxX_GetChannelOption(Tcl_Interp *interp, Tcl_Channel channel, int option,
                                  int *valuePtr);

/* Join two path elements into the caller's (initialised) dynamic string;
 * returns its text. */
ORX_API char *OrxX_JoinPath(const char *path1, const char *path2, Tcl_DString *joinedPtr);

/* Append "wrong # args: <command> <usage>" to the result; returns TCL_ERROR. */
ORX_API int OrxX_WrongArgs(Tcl_Interp *interp, Tcl_Obj *commandNameObj, const char *usage);

/* Append strings, ended by a null pointer, to the interpreter result.  When
 * the result object is shared, a new empty result replaces it first (the
 * holder's value is left alone), so the strings alone make the result. */
ORX_API void OrxX_AppendObjResult(Tcl_Interp *interp, ...);

/* 1 when the object is an empty value (empty string or empty list). */
ORX_API int OrxX_IsNullObj(Tcl_Obj *objPtr);

/* Pack the interpreter's result, errorInfo, errorCode and error-state flags
 * into a new save object (reference count 1).  OrxX_RestoreResultErrorInfo
 * reinstates them and releases the save object: use it exactly once. */
ORX_API Tcl_Obj *OrxX_SaveResultErrorInfo(Tcl_Interp *interp);
ORX_API void OrxX_RestoreResultErrorInfo(Tcl_Interp *interp, Tcl_Obj *saveObjPtr);

/* base + offset, the offset adjusted for the layout of Tcl 8.0 to 8.3. */
ORX_API void *OrxX_StructOffset(void *base, int offset);

ORX_EXTERN_C_END

#endif
