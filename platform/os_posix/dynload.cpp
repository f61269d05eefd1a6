// Dynamic loading on POSIX through the dynamic linker.  A library handle is
// dlopen's own, cast: nothing is allocated for it.
#include "platform/orxplat.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <cstring>

namespace {

// The opaque library handle is dlopen's own.
void *Handle(OrxPlat_Library *library)
{
    return reinterpret_cast<void *>(library);
}

// dlerror's text, read once: the call clears it.
std::string LoaderText()
{
    const char *text = dlerror();
    return text != nullptr ? std::string(text) : std::string();
}

} // namespace

const char *OrxPlat_LibrarySuffix(void)
{
    return ".so";
}

OrxPlat_Library *OrxPlat_OpenLibrary(const char *path, std::string *why)
{
    // dlopen would block on a FIFO until someone writes to it.  A name
    // without "/" is the loader's to search, as dlopen's own.
    struct stat st;
    if (std::strchr(path, '/') != nullptr && ::stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        *why = std::string(path) + ": not a regular file";
        return nullptr;
    }
    void *handle = dlopen(path, RTLD_NOW);
    if (handle == nullptr) {
        *why = LoaderText();
        return nullptr;
    }
    return reinterpret_cast<OrxPlat_Library *>(handle);
}

OrxPlat_SymbolStatus OrxPlat_FindSymbol(OrxPlat_Library *library, const char *name,
                                        void **address, std::string *why)
{
    dlerror();
    void *symbol = dlsym(Handle(library), name);
    if (symbol == nullptr) {
        *why = LoaderText();
        return ORXPLAT_SYMBOL_MISSING;
    }
    // dlsym also searches the libraries this one depends on, whose functions
    // (getpid of the C library) are not the library's own.
    struct link_map *own = nullptr;
    struct link_map *found = nullptr;
    Dl_info info;
    if (dlinfo(Handle(library), RTLD_DI_LINKMAP, &own) != 0 ||
        dladdr1(symbol, &info, reinterpret_cast<void **>(&found), RTLD_DL_LINKMAP) == 0 ||
        found != own) {
        dlerror();
        return ORXPLAT_SYMBOL_FOREIGN;
    }
    *address = symbol;
    return ORXPLAT_SYMBOL_FOUND;
}

int OrxPlat_CloseLibrary(OrxPlat_Library *library, std::string *why)
{
    if (dlclose(Handle(library)) != 0) {
        *why = LoaderText();
        return -1;
    }
    return 0;
}
