// String copies of the libtq_cc stand-in.
#include "tq_cc.h"

#include <cstring>

char *tq_strdup(const char *text)
{
    return text ? ::strdup(text) : nullptr;
}

char *tq_strndup(const char *text, size_t length)
{
    return text ? ::strndup(text, length) : nullptr;
}
