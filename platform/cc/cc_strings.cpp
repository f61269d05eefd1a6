// String copies of the libtq_cc stand-in, in standard C.
#include "tq_cc.h"

#include <cstdlib>
#include <cstring>

namespace {

// malloc'ed, as the C library's own copies are; null when memory runs out.
char *CopyOf(const char *text, size_t length)
{
    char *copy = static_cast<char *>(std::malloc(length + 1));
    if (copy != nullptr) {
        std::memcpy(copy, text, length);
        copy[length] = '\0';
    }
    return copy;
}

} // namespace

char *tq_strdup(const char *text)
{
    return text ? CopyOf(text, std::strlen(text)) : nullptr;
}

char *tq_strndup(const char *text, size_t length)
{
    if (text == nullptr) {
        return nullptr;
    }
    const void *end = std::memchr(text, '\0', length);
    return CopyOf(text, end != nullptr ? static_cast<size_t>(static_cast<const char *>(end) - text)
                                       : length);
}
