// Dynamic loading on Windows: LoadLibrary, GetProcAddress, FreeLibrary.  A
// library handle is the module handle, cast: nothing is allocated for it.
#include "platform/orxplat.h"

#include "win32.h"

namespace {

HMODULE Handle(OrxPlat_Library *library)
{
    return reinterpret_cast<HMODULE>(library);
}

} // namespace

const char *OrxPlat_LibrarySuffix(void)
{
    return ".dll";
}

OrxPlat_Library *OrxPlat_OpenLibrary(const char *path, std::string *why)
{
    // The DLLs a package needs are looked for beside it first; no error box.
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    DWORD error = GetLastError();
    SetErrorMode(oldMode);
    if (module == nullptr) {
        *why = orx::win::SystemMessage(error);
        return nullptr;
    }
    return reinterpret_cast<OrxPlat_Library *>(module);
}

OrxPlat_SymbolStatus OrxPlat_FindSymbol(OrxPlat_Library *library, const char *name,
                                        void **address, std::string *why)
{
    // A DLL's exports are its own: the libraries it imports from are not
    // searched, so there is no foreign symbol to tell apart.
    FARPROC symbol = GetProcAddress(Handle(library), name);
    if (symbol == nullptr) {
        *why = orx::win::SystemMessage(GetLastError());
        return ORXPLAT_SYMBOL_MISSING;
    }
    *address = reinterpret_cast<void *>(symbol);
    return ORXPLAT_SYMBOL_FOUND;
}

int OrxPlat_CloseLibrary(OrxPlat_Library *library, std::string *why)
{
    if (!FreeLibrary(Handle(library))) {
        *why = orx::win::SystemMessage(GetLastError());
        return -1;
    }
    return 0;
}
