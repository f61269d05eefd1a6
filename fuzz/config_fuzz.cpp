// The configuration-file parser of the tessary layer on arbitrary text; every
// entry found is then listed the way c_mcfgn and mcf_getString list them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tq_tessary.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exactly sized copy, so that reading past the end is caught.
    std::vector<char> text(data, data + size);
    TessaryConfig *config = Tessary_ConfigParse(text.data(), text.size(), "fuzz.cfg");
    if (config == nullptr) {
        return 0;
    }
    int sections = Tessary_ConfigCount(config, nullptr, nullptr);
    for (int s = 1; s <= sections && s <= 16; ++s) {
        const char *section = Tessary_ConfigString(config, nullptr, nullptr, s);
        int keys = Tessary_ConfigCount(config, section, nullptr);
        for (int k = 1; k <= keys && k <= 16; ++k) {
            const char *key = Tessary_ConfigString(config, section, nullptr, k);
            int values = Tessary_ConfigCount(config, section, key);
            for (int v = 1; v <= values + 1 && v <= 16; ++v) {
                const char *value = Tessary_ConfigString(config, section, key, v);
                if (value != nullptr) {
                    (void)std::strlen(value);
                }
            }
            Tessary_ConfigCount(config, nullptr, key);
        }
    }
    for (int e = 0; e < Tessary_ConfigErrorCount(config); ++e) {
        (void)std::strlen(Tessary_ConfigError(config, e));
    }
    Tessary_ConfigFree(config);
    return 0;
}
