// The pid file's name and reading it, the same on every system: kill finds the signal
// thread of another shell there.  Compiled with the OS folder of the build.
#include "platform/orxplat.h"

#include <cstdio>
#include <cstring>

std::string OrxPlat_PidFileName()
{
    try {
        std::string dir = OrxPlat_UserDirName();
        return dir.empty() ? dir : dir + "/pid_tq";
    } catch (...) {
        return std::string();
    }
}

bool OrxPlat_PidFileThread(int pid, unsigned long *threadId)
{
    std::string file = OrxPlat_PidFileName();
    if (file.empty()) {
        return false;
    }
    // Never waits on a FIFO planted at the name.
    Tcl_Channel channel = nullptr;
    if (OrxPlat_OpenChannel(file.c_str(), &channel) != 0) {
        return false;
    }
    char prefix[32];
    int prefixLength = std::snprintf(prefix, sizeof prefix, "%d ", pid);
    bool found = false;
    Tcl_Obj *line = Tcl_NewObj();
    Tcl_IncrRefCount(line);
    while (Tcl_GetsObj(channel, line) >= 0) {
        int length = 0;
        const char *text = Tcl_GetStringFromObj(line, &length);
        if (length >= prefixLength && std::memcmp(text, prefix, prefixLength) == 0) {
            Tcl_WideInt value = 0;
            Tcl_Obj *idObj = Tcl_NewStringObj(text + prefixLength, length - prefixLength);
            Tcl_IncrRefCount(idObj);
            int rc = Tcl_GetWideIntFromObj(nullptr, idObj, &value);
            Tcl_DecrRefCount(idObj);
            if (rc != TCL_OK || value < 0) {
                break;
            }
            *threadId = static_cast<unsigned long>(value);
            found = true;
        }
        Tcl_SetObjLength(line, 0);
    }
    Tcl_DecrRefCount(line);
    Tcl_Close(nullptr, channel);
    return found;
}
