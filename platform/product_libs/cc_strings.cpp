// Stand-in for the string copies of the closed library libtq_cc; its isatty
// and access are the POSIX functions themselves.
#include "orx_tessary.h"

#include <cstring>

char *tq_strdup(const char *text)
{
    return text ? ::strdup(text) : nullptr;
}

char *tq_strndup(const char *text, size_t length)
{
    return text ? ::strndup(text, length) : nullptr;
}
