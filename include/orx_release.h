/* Release and copyright information of the product: the orx:copyr,
 * orx:relver and orx:relstring command procedures, and the functions other
 * product libraries call (the upper-case ones take texts with separate
 * lengths, as Fortran passes them). */
#ifndef ORX_RELEASE_H
#define ORX_RELEASE_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* String-argument command procedures; no client data is used. */
ORX_API int Orx_CopyrCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char *argv[]);
ORX_API int Orx_RelverCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char *argv[]);
ORX_API int Orx_RelstringCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                             const char *argv[]);

/* Run orx:copyr with argv (argv[0] is the command name). */
ORX_API int Orx_Copyr(Tcl_Interp *interp, int argc, const char *argv[]);

/* The version of product (null allowed): its own VERSION, else its entry in
 * section VERSIONS, else " ".  The text is the configuration store's: it
 * stays valid as long as mcf_getString's (reference page tessary.md). */
ORX_API const char *Tq_GetRelver(const char *product);

/* The value of key in section RELINFO, "" when absent or key is null. */
ORX_API const char *Tq_GetRelInf(const char *key);

/* The copyright line: 40 characters beginning with a blank. */
ORX_API const char *Tq_GetRelstring(void);

/* Build the release string of product into out: at most maxLength - 1
 * bytes and a terminating zero, never ending in part of a UTF-8 character;
 * *outLength gets the number of bytes.  A maxLength below 1 writes nothing
 * and sets *outLength to 0. */
ORX_API void c_reln(const char *product, char *out, int *outLength, int maxLength);

/* Write the legal notice into the memory file *memFile (appending when it
 * exists, creating it when *memFile is 0).  On failure reports 2003 through
 * c_erc and sets *memFile to 0. */
ORX_API void c_mf_copyr(int *memFile);

/* A new memory file holding the product notice of product, introduced by
 * label; with a non-empty info, the information notice and info instead of
 * the legal notice.  The caller deletes it with c_mfdel.  0 on failure. */
ORX_API int c_mcopyr(const char *product, const char *label, const char *info);

/* Write the product notice, or the legal notice, to the current output. */
ORX_API void c_op_mcopyr(const char *product, const char *label, const char *info);
ORX_API void c_copyr(void);

/* The same for callers passing texts with lengths: each text is cut to its
 * length and trailing blanks are dropped. */
ORX_API void MF_COPYR(int *memFile);
ORX_API void COPYR(void);
ORX_API int MCOPYR(const char *product, const char *label, const char *info, int productLength,
                   int labelLength, int infoLength);
ORX_API void OP_MCOPYR(const char *product, const char *label, const char *info,
                       int productLength, int labelLength, int infoLength);
ORX_API void RELN(const char *product, char *out, int *outLength, const int *maxLength,
                  int productLength);

ORX_EXTERN_C_END

#endif
