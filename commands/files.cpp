// File, path and drive commands.  Texts with drive letters ("c:/work") keep
// their rules everywhere, so scripts written for Windows still take them
// apart; the native form is the system's (backslashes on Windows), and where
// names have no drive letters there are no drives and a mount point is what
// a drive root was (docs/platform.md).
#include "orx_files.h"

#include <cctype>
#include <cstdlib>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "base/internal.h"
#include "platform/orxplat.h"

namespace {

const char kConversionFailed[] = "Path string conversion failed.";

// Tcl's file-name translation (tilde substitution, native form).
bool Translate(Tcl_Interp *interp, const char *name, std::string *out)
{
    Tcl_DString buffer;
    const char *translated = Tcl_TranslateFileName(interp, name, &buffer);
    if (translated == nullptr) {
        return false;
    }
    out->assign(translated);
    Tcl_DStringFree(&buffer);
    return true;
}

int SetResult(Tcl_Interp *interp, const std::string &text)
{
    Tcl_SetObjResult(interp, orx::NewStringObj(text));
    return TCL_OK;
}

// Backslashes to slashes; the text is taken by value, as callers keep theirs.
std::string Neutral(std::string text)
{
    for (char &c : text) {
        if (c == '\\') {
            c = '/';
        }
    }
    return text;
}

} // namespace

int Orx_GetDrivesCmd(ClientData, Tcl_Interp *interp, int, const char *[])
{
    return orx::Guard(interp, [&] {
        Tcl_Obj *list = Tcl_NewObj();
        for (const std::string &drive : OrxPlat_Drives()) {
            Tcl_ListObjAppendElement(nullptr, list, orx::NewStringObj(drive));
        }
        Tcl_SetObjResult(interp, list);
        return TCL_OK;
    });
}

int Orx_GetCurrentDriveCmd(ClientData, Tcl_Interp *interp, int, const char *[])
{
    return orx::Guard(interp, [&] { return SetResult(interp, OrxPlat_CurrentDrive()); });
}

int Orx_FileDriveCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc != 2) {
        orx::SetError(interp, argv[0], ":  missing path argument.");
        return orx::UsageCode(interp);
    }
    // The second character, not the second byte: é takes two.
    const char *path = argv[1];
    std::string drive;
    int letter;
    int size = path[0] != '\0' ? orx::NextChar(path, &letter) : 0;
    if (size > 0 && path[size] == ':') {
        char upper[TCL_UTF_MAX + 4];
        if (letter <= 0xFFFF) {
            drive.assign(upper, static_cast<size_t>(
                                    Tcl_UniCharToUtf(Tcl_UniCharToUpper(letter), upper)));
        } else {
            drive.assign(path, static_cast<size_t>(size));  // a surrogate pair
        }
        drive.push_back(':');
    }
    return orx::Guard(interp, [&] { return SetResult(interp, drive); });
}

int Orx_FilePathCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc != 2) {
        orx::SetError(interp, argv[0], ":  missing path argument.");
        return orx::UsageCode(interp);
    }
    return orx::Guard(interp, [&] {
        std::string path;
        if (!Translate(interp, argv[1], &path)) {
            orx::SetError(interp, kConversionFailed);
            return orx::ValueCode(interp, "NAME", argv[1]);
        }
        size_t colon = path.find(':');
        return SetResult(interp, colon == std::string::npos ? path : path.substr(colon + 1));
    });
}

int Orx_FileComposeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc != 3) {
        orx::SetError(interp, argv[0], ":  missing drive or path argument.");
        return orx::UsageCode(interp);
    }
    return orx::Guard(interp, [&] {
        std::string path;
        if (!Translate(interp, (std::string(argv[1]) + argv[2]).c_str(), &path)) {
            orx::SetError(interp, kConversionFailed);
            return orx::ValueCode(interp, "NAME", std::string(argv[1]) + argv[2]);
        }
        return SetResult(interp, Neutral(path));
    });
}

int Orx_FileNativeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc != 2) {
        orx::SetError(interp, argv[0], ":  incorrect arguments; path");
        return orx::UsageCode(interp);
    }
    return orx::Guard(interp, [&] {
        std::string path;
        if (!Translate(interp, argv[1], &path)) {
            orx::SetError(interp, kConversionFailed);
            return orx::ValueCode(interp, "NAME", argv[1]);
        }
        return SetResult(interp, path);
    });
}

int Orx_FileNeutralCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc != 2) {
        orx::SetError(interp, argv[0], ": incorrect arguments: path");
        return orx::UsageCode(interp);
    }
    return orx::Guard(interp, [&] {
        std::string path;
        if (!Translate(interp, argv[1], &path)) {
            orx::SetError(interp, kConversionFailed);
            return orx::ValueCode(interp, "NAME", argv[1]);
        }
        return SetResult(interp, Neutral(path));
    });
}

int Orx_FileVerifyDriveCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc != 2) {
        orx::SetError(interp, argv[0], ":  incorrect arguments: drive.");
        return orx::UsageCode(interp);
    }
    return orx::Guard(interp, [&] {
        if (!OrxPlat_IsMountPoint(argv[1])) {
            orx::SetError(interp, "The drive \"", argv[1],
                          "\" is not active. Is it a removable with no disk?");
            return orx::LookupCode(interp, "DRIVE", argv[1]);
        }
        Tcl_ResetResult(interp);
        return TCL_OK;
    });
}

int Orx_FileExpandCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc != 2) {
        orx::SetError(interp, argv[0], ": incorrect arguments: path.");
        return orx::UsageCode(interp);
    }
    return orx::Guard(interp, [&] {
        std::string path;
        if (!Translate(interp, argv[1], &path)) {
            orx::SetError(interp, kConversionFailed);
            return orx::ValueCode(interp, "NAME", argv[1]);
        }
        std::string full, why;
        if (!OrxPlat_FullPathName(path, &full, &why)) {
            int error = errno;
            orx::SetError(interp, why);
            orx::PosixCode(interp, error);
            return TCL_ERROR;
        }
        return SetResult(interp, full);
    });
}
