/* Export marker shared by every public header of libtq_orxtcl.
 * The library is built with hidden visibility: only declarations marked
 * ORX_API are part of the interface other libraries link against. */
#ifndef ORX_EXPORT_H
#define ORX_EXPORT_H

#if defined(_WIN32)
#define ORX_API __declspec(dllexport)
#elif defined(__GNUC__)
#define ORX_API __attribute__((visibility("default")))
#else
#define ORX_API
#endif

#ifdef __cplusplus
#define ORX_EXTERN_C_BEGIN extern "C" {
#define ORX_EXTERN_C_END }
#else
#define ORX_EXTERN_C_BEGIN
#define ORX_EXTERN_C_END
#endif

#endif
