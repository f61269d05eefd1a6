/* Handle tables of the product's Tcl build: numbered entries of a fixed size
 * that scripts name by text handles ("context0", "context1", ...), as the
 * scan contexts of scanfile do.  One table belongs to its creator (usually
 * one interpreter); nothing here is locked. */
#ifndef ORX_HANDLES_H
#define ORX_HANDLES_H

#include <tcl.h>

#include "tclbuild_export.h"

TQ_TCLBUILD_EXTERN_C_BEGIN

/* Longest handle base name OrxX_HandleTblInit accepts. */
#define ORXX_HANDLE_BASE_MAX 32
/* Size of the name buffer OrxX_HandleAlloc writes: the base name, at most
 * ten digits and the terminating zero. */
#define ORXX_HANDLE_NAME_MAX (ORXX_HANDLE_BASE_MAX + 11)

/* A table whose handles are handleBase followed by the entry's number (from
 * 0).  Every entry holds entrySize bytes (at least 1), aligned for any type;
 * room for initEntries entries is made at once and the table grows beyond
 * that as needed.  Null when handleBase is null, empty or longer than
 * ORXX_HANDLE_BASE_MAX, when entrySize or initEntries is below 1, or when
 * the memory cannot be had. */
TQ_TCLBUILD_API void *OrxX_HandleTblInit(const char *handleBase, int entrySize, int initEntries);

/* Allocate an entry, zero-filled: the lowest number that is free is used
 * again first.  The handle's name is written to handleName (at least
 * ORXX_HANDLE_NAME_MAX bytes) when it is not null.  The entry stays at the
 * same address until it is freed, however the table grows.  Null when the
 * memory cannot be had (or the table holds INT_MAX entries). */
TQ_TCLBUILD_API void *OrxX_HandleAlloc(void *headerPtr, char *handleName);

/* The entry a handle names, or null with
 * "invalid <base> handle "<handle>"" in the interpreter result (when interp
 * is not null) for text that names no allocated entry: another base, digits
 * with a sign, blanks or leading zeros, an entry never allocated or freed. */
TQ_TCLBUILD_API void *OrxX_HandleXlate(Tcl_Interp *interp, void *headerPtr, const char *handle);
TQ_TCLBUILD_API void *OrxX_HandleXlateObj(Tcl_Interp *interp, void *headerPtr, Tcl_Obj *handleObj);

/* Free an entry; its number becomes free for the next OrxX_HandleAlloc.
 * Returns 1, or 0 (and does nothing) for a pointer that is not an allocated
 * entry of this table. */
TQ_TCLBUILD_API int OrxX_HandleFree(void *headerPtr, void *entryPtr);

/* Walk the allocated entries in the order of their numbers: start with
 * *walkKeyPtr = -1; each call returns the next entry (and moves the key on)
 * or null at the end.  Entries may be freed during the walk. */
TQ_TCLBUILD_API void *OrxX_HandleWalk(void *headerPtr, int *walkKeyPtr);

/* Write the name of an allocated entry's handle to handleName (at least
 * ORXX_HANDLE_NAME_MAX bytes).  Returns 1, or 0 for a pointer that is not an
 * allocated entry of this table. */
TQ_TCLBUILD_API int OrxX_HandleName(void *headerPtr, void *entryPtr, char *handleName);

/* Free the table and every entry still allocated in it.  A null table is
 * ignored. */
TQ_TCLBUILD_API void OrxX_HandleTblRelease(void *headerPtr);

TQ_TCLBUILD_EXTERN_C_END

#endif
