/* Export marker of libtq_tclbuild.so, our stand-in for the additions of the
 * product's Tcl build.  Built with hidden visibility: only declarations marked
 * TQ_TCLBUILD_API leave the library. */
#ifndef TQ_TCLBUILD_EXPORT_H
#define TQ_TCLBUILD_EXPORT_H

#if defined(_WIN32)
#define TQ_TCLBUILD_API __declspec(dllexport)
#elif defined(__GNUC__)
#define TQ_TCLBUILD_API __attribute__((visibility("default")))
#else
#define TQ_TCLBUILD_API
#endif

#ifdef __cplusplus
#define TQ_TCLBUILD_EXTERN_C_BEGIN extern "C" {
#define TQ_TCLBUILD_EXTERN_C_END }
#else
#define TQ_TCLBUILD_EXTERN_C_BEGIN
#define TQ_TCLBUILD_EXTERN_C_END
#endif

#endif
