// Internal pieces shared by the script-library files: the decryption call
// token, the encrypting function and the start-up constants.  Not exported.
#ifndef ORX_LIBRARY_LIBRARY_H
#define ORX_LIBRARY_LIBRARY_H

#include <tcl.h>

#include <cstdint>
#include <string>

namespace orx {

// Set the process-wide decryption call token to a fresh rand() value and
// return it, for the DecryptString call that follows at once.
int NewDecryptToken();

// Encrypt n bytes of text with seed into *out ("%ENCRYPTED%" format) under
// the interpreter's base key.  False with a message in the result when the
// interpreter has no key.  May throw std::bad_alloc.
bool EncryptText(Tcl_Interp *interp, const char *text, size_t n, uint32_t seed,
                 std::string *out);

} // namespace orx

// Define the math constants through the script library's Orx:MathInit and
// constant; the status of the last script evaluated.  Called last among the
// family initialisers; kept out of the exported interface (its name is too
// generic for a shared library's symbol table).
int ConstantInit(Tcl_Interp *interp);

#endif
