/* Our stand-in for the string copies of the product's closed library libtq_cc,
 * built as libtq_cc.so.  Its isatty and access are the system's own. */
#ifndef TQ_CC_H
#define TQ_CC_H

#include <stddef.h>

#if defined(__GNUC__)
#define TQ_CC_API __attribute__((visibility("default")))
#else
#define TQ_CC_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Copies from malloc, freed with free(); null for a null argument or when
 * memory runs out.  tq_strndup copies at most length bytes and stops at a
 * zero byte. */
TQ_CC_API char *tq_strdup(const char *text);
TQ_CC_API char *tq_strndup(const char *text, size_t length);

#ifdef __cplusplus
}
#endif

#endif
