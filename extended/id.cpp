// Identity and network information: "id user" (registered by OrxXIdInit) and
// "orx:netinfo", whose string command procedure interpreter initialisation
// puts in its fixed command table.  The look-ups themselves live in the
// platform layer (platform/orxplat.h).
#include "orx_id.h"
#include "orx_util.h"
#include "platform/orxplat.h"
#include "base/internal.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t kLoopbackAddress = 0x7F000001u;

// id user
int IdObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 2) {
        return OrxX_WrongArgs(interp, objv[0], "");
    }
    if (std::strcmp(Tcl_GetString(objv[1]), "user") != 0) {
        orx::AppendResult(interp, "second arg must be \"user\"");
        return orx::ValueCode(interp, "OPTION", Tcl_GetString(objv[1]));
    }
    if (objc != 2) {
        return OrxX_WrongArgs(interp, objv[0], "user");
    }
    std::string name;
    int error = OrxPlat_UserName(&name);
    if (error != 0) {
        orx::AppendResult(interp, "failed to get user name: ", orx::PosixCode(interp, error));
        return TCL_ERROR;
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(name.data(), static_cast<int>(name.size())));
    return TCL_OK;
}

// The message and LOOKUP errorcode shared by the address and name lookups.
int UnknownHost(Tcl_Interp *interp, const char *command, const char *arg)
{
    orx::AppendResult(interp, command, " -address unknown host \"", arg, "\"");
    return orx::LookupCode(interp, "HOST", arg);
}

// Both ways: a dotted address gives its host name, a name its addresses.
int NetInfoAddress(Tcl_Interp *interp, const char *command, const char *arg)
{
    uint32_t address = 0;
    if (OrxPlat_ParseIPv4(arg, &address)) {
        if (address == kLoopbackAddress) {
            Tcl_SetObjResult(interp, Tcl_NewStringObj("localhost", -1));
            return TCL_OK;
        }
        std::string name;
        if (!OrxPlat_HostByAddr(address, &name)) {
            return UnknownHost(interp, command, arg);
        }
        Tcl_SetObjResult(interp, Tcl_NewStringObj(name.data(), static_cast<int>(name.size())));
        return TCL_OK;
    }
    if (std::strcmp(arg, "localhost") == 0) {
        address = kLoopbackAddress;
    } else if (*arg == '\0' || !OrxPlat_HostByName(arg, &address)) {
        return UnknownHost(interp, command, arg);
    }
    char dotted[32];
    std::snprintf(dotted, sizeof dotted, "%d.%d.%d.%d", static_cast<int>(address >> 24),
                  static_cast<int>((address >> 16) & 0xFF), static_cast<int>((address >> 8) & 0xFF),
                  static_cast<int>(address & 0xFF));
    Tcl_SetObjResult(interp, Tcl_NewStringObj(dotted, -1));
    return TCL_OK;
}

// The text as atoi reads it (blanks, sign, leading digits), without atoi's
// undefined overflow: a value outside int is no port at all.
bool AsPortNumber(const char *arg, int *port)
{
    errno = 0;
    long value = std::strtol(arg, nullptr, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX) {
        return false;
    }
    *port = static_cast<int>(value);
    return true;
}

// Both ways: a service name gives its port, a port number its name.
int NetInfoService(Tcl_Interp *interp, const char *command, const char *arg)
{
    std::string name;
    int port = 0;
    bool found = OrxPlat_ServByName(arg, &name, &port);
    if (!found && AsPortNumber(arg, &port)) {
        found = OrxPlat_ServByPort(port, &name);
    }
    if (!found) {
        orx::AppendResult(interp, command, " -service unknown service/port# \"", arg, "\"");
        return orx::LookupCode(interp, "SERVICE", arg);
    }
    char number[16];
    std::snprintf(number, sizeof number, "%4d", port);
    name += ' ';
    name += number;
    name += ' ';
    Tcl_SetObjResult(interp, Tcl_NewStringObj(name.data(), static_cast<int>(name.size())));
    return TCL_OK;
}

} // namespace

extern "C" {

int Orx_NetInfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc != 3) {
        orx::AppendResult(interp, "wrong # args: should be \"", argv[0], " option arg\"");
        return orx::UsageCode(interp);
    }
    const char *option = argv[1];
    try {
        if (std::strlen(option) > 1) {
            if (option[1] == 'a' && std::strcmp(option, "-address") == 0) {
                return NetInfoAddress(interp, argv[0], argv[2]);
            }
            if (option[1] == 's' && std::strcmp(option, "-service") == 0) {
                return NetInfoService(interp, argv[0], argv[2]);
            }
        }
    } catch (...) {
        orx::AppendResult(interp, argv[0], ": out of memory");
        return TCL_ERROR;
    }
    orx::AppendResult(interp, argv[0], ":  unknown option \"", option, "\"");
    return orx::ValueCode(interp, "OPTION", option);
}

int OrxXIdInit(Tcl_Interp *interp)
{
    Tcl_CreateObjCommand(interp, "id", IdObjCmd, nullptr, nullptr);
    return TCL_OK;
}

} // extern "C"
