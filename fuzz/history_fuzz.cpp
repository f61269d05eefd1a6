// Fuzzes the history file's line codec: any line decodes without reading
// past its end, and every entry survives encoding and decoding unchanged,
// as one line.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/orxplat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    std::string decoded = OrxPlat_UnescapeHistoryLine(text);
    if (decoded.size() > text.size()) {
        abort();
    }
    std::string encoded = OrxPlat_EscapeHistoryEntry(text);
    if (encoded.find('\n') != std::string::npos ||
        OrxPlat_UnescapeHistoryLine(encoded) != text) {
        abort();
    }
    return 0;
}
