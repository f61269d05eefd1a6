/* Keyed lists: ordered key -> value maps held in Tcl objects, with the string
 * form of a Tcl list of {key value} pairs.  The plain type "keyedList" reads
 * "." in a key as a path separator into nested keyed lists; the generic type
 * "genericKeyedList" treats every key as one opaque string.  Other libraries
 * of the product (the signal settings, for one) keep data in keyed lists
 * through the functions below. */
#ifndef ORX_KEYLIST_H
#define ORX_KEYLIST_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* Status codes: TCL_OK found or done; TCL_ERROR with a message appended to
 * the interpreter result (interp may be null, then no message is left);
 * TCL_BREAK the key was not found (no message).  Every function first
 * converts keylPtr to its type, which may fail with the parse error of its
 * string form; a failed conversion leaves the object unchanged.  Keys are
 * UTF-8 strings: for the plain functions key paths ("a.b.c"), whose
 * components must not be empty; for the generic ones single keys. */

/* A new empty keyed list, reference count 0. */
ORX_API Tcl_Obj *OrxX_NewKeyedListObj(void);
ORX_API Tcl_Obj *OrxX_NewGenericKeyedListObj(void);

/* Look up key.  TCL_OK stores the value held by the list in *valuePtrPtr
 * without taking a reference (it lives as long as the entry does; take a
 * reference to keep it); TCL_BREAK stores null. */
ORX_API int OrxX_KeyedListGet(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key,
                              Tcl_Obj **valuePtrPtr);
ORX_API int OrxX_GenericKeyedListGet(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key,
                                     Tcl_Obj **valuePtrPtr);

/* Set key to valuePtr, which gains one reference held by the list; an
 * existing key keeps its position, a new one is appended.  Missing levels of
 * a key path are created.  keylPtr must not be shared (TCL_ERROR otherwise,
 * nothing changed) and must not be valuePtr; nested values that are shared
 * are duplicated first.  A valuePtr with no reference is freed on failure. */
ORX_API int OrxX_KeyedListSet(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key,
                              Tcl_Obj *valuePtr);
ORX_API int OrxX_GenericKeyedListSet(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key,
                                     Tcl_Obj *valuePtr);

/* Delete key, releasing its value.  A nested list emptied by deleting a key
 * path is deleted from its parent too.  keylPtr must not be shared. */
ORX_API int OrxX_KeyedListDelete(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key);
ORX_API int OrxX_GenericKeyedListDelete(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key);

/* The keys of the level named by key (null or "" for the top level) as a new
 * list object, reference count 0, owned by the caller.  For the generic
 * variant a key names an entry whose value is read as a generic keyed list. */
ORX_API int OrxX_KeyedListGetKeys(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key,
                                  Tcl_Obj **listObjPtrPtr);
ORX_API int OrxX_GenericKeyedListGetKeys(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key,
                                         Tcl_Obj **listObjPtrPtr);

/* Register the two object types and the commands keylget, keylset, keyldel,
 * keylkeys and their generic twins gkeylget ... in interp.  TCL_OK. */
ORX_API int OrxXKeyedListInit(Tcl_Interp *interp);

ORX_EXTERN_C_END

#endif
