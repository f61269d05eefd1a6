// Helpers the Windows files of the OS layer share.  Internal to os_win32/.
#ifndef ORX_PLATFORM_OS_WIN32_WIN32_H
#define ORX_PLATFORM_OS_WIN32_WIN32_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <string>
#include <vector>

namespace orx::win {

// The <cerrno> value for a Windows error code (what Tcl_PosixError takes).
int ErrnoOf(DWORD error);

// The <cerrno> value for GetLastError().
inline int LastErrno()
{
    return ErrnoOf(GetLastError());
}

// The system's text for a Windows error code, in the user's language,
// without the line end it comes with.
std::string SystemMessage(DWORD error);

// The file-system flags (FILE_CASE_SENSITIVE_SEARCH, ...) of the volume
// that holds the directory dir: GetVolumeInformation asked through the
// directory's own handle, which also sees volumes mounted on folders.
// False with GetLastError() set when there is no volume to ask.
bool VolumeFlags(const std::string &dir, DWORD *flags);

// Security attributes that give a new file or directory to the user of
// this process alone (full control, nothing inherited): what mode 0600 and
// 0700 are on POSIX.  Ready() is false, with GetLastError() set, when the
// user cannot be found out.
class OwnerOnly {
public:
    OwnerOnly();
    OwnerOnly(const OwnerOnly &) = delete;
    OwnerOnly &operator=(const OwnerOnly &) = delete;
    bool Ready() const { return ready_; }
    SECURITY_ATTRIBUTES *Attributes() { return &attributes_; }

private:
    bool ready_ = false;
    std::vector<unsigned char> user_; // TOKEN_USER
    std::vector<unsigned char> acl_;
    SECURITY_DESCRIPTOR descriptor_;
    SECURITY_ATTRIBUTES attributes_;
};

} // namespace orx::win

#endif
