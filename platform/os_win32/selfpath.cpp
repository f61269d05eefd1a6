// Where the running executable lies, for hosts that find their installation
// relative to themselves: the module file name, its links resolved, in the
// system encoding and with "/" between its parts.
#include "platform/orxplat.h"

#include "win32.h"

#include <vector>

namespace {

// A file name of the system, wide, in the system encoding; empty when a
// character has no equivalent there.
std::string SystemName(const std::wstring &wide)
{
    BOOL lossy = FALSE;
    int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                   static_cast<int>(wide.size()), nullptr, 0, nullptr, &lossy);
    if (size <= 0 || lossy) {
        return std::string();
    }
    std::string name(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                        &name[0], size, nullptr, nullptr);
    return name;
}

// path with its links resolved; path itself when that cannot be done.
std::wstring Resolved(const std::wstring &path)
{
    HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return path;
    }
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD n = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()),
                                        FILE_NAME_NORMALIZED);
    if (n >= buffer.size()) {
        buffer.resize(n + 1);
        n = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()),
                                      FILE_NAME_NORMALIZED);
    }
    CloseHandle(h);
    if (n == 0 || n >= buffer.size()) {
        return path;
    }
    std::wstring final(buffer.data(), n);
    // "\\?\C:\..." for a drive, "\\?\UNC\server\share\..." for a share.
    if (final.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        return L"\\\\" + final.substr(8);
    }
    if (final.compare(0, 4, L"\\\\?\\") == 0) {
        return final.substr(4);
    }
    return final;
}

} // namespace

std::string OrxPlat_ExecutablePath()
{
    try {
        std::vector<wchar_t> buffer(MAX_PATH);
        for (;;) {
            DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
            if (n == 0) {
                return std::string();
            }
            // A full buffer holds a truncated name: try again with more room.
            if (n < buffer.size()) {
                // Turned before the conversion: in a double-byte code page
                // a backslash byte may be half of a character.
                std::wstring name = Resolved(std::wstring(buffer.data(), n));
                for (wchar_t &c : name) {
                    if (c == L'\\') {
                        c = L'/';
                    }
                }
                return SystemName(name);
            }
            if (buffer.size() >= (1u << 15)) {
                return std::string();
            }
            buffer.resize(buffer.size() * 2);
        }
    } catch (...) {
        return std::string();
    }
}
