/* Our stand-in for the product's closed library libtq_cc, built as
 * libtq_cc.so: string copies, and the terminal and access checks the product
 * takes from it rather than from the system. */
#ifndef TQ_CC_H
#define TQ_CC_H

#include <stddef.h>

#if defined(_WIN32)
#define TQ_CC_API __declspec(dllexport)
#elif defined(__GNUC__)
#define TQ_CC_API __attribute__((visibility("default")))
#else
#define TQ_CC_API
#endif

/* Rights for tq_access, to be ORed; TQ_F_OK asks for existence only. */
#define TQ_F_OK 0
#define TQ_X_OK 1
#define TQ_W_OK 2
#define TQ_R_OK 4

#ifdef __cplusplus
extern "C" {
#endif

/* Copies from malloc, freed with free(); null for a null argument or when
 * memory runs out.  tq_strndup copies at most length bytes and stops at a
 * zero byte. */
TQ_CC_API char *tq_strdup(const char *text);
TQ_CC_API char *tq_strndup(const char *text, size_t length);

/* 1 when the C runtime's descriptor fd (0 standard input, 1 output, 2 error)
 * is a terminal, else 0. */
TQ_CC_API int tq_isatty(int fd);

/* 0 when this process may access path with the TQ_*_OK rights in mode, else
 * -1 with errno set (also for a null path: EINVAL). */
TQ_CC_API int tq_access(const char *path, int mode);

#ifdef __cplusplus
}
#endif

#endif
