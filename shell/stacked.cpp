// Passing a stacked channel's calls on to the channel below (stacked.h).
#include "shell/stacked.h"

namespace orx::stacked {

int SetOptionBelow(Tcl_Channel below, Tcl_Interp *interp, const char *name, const char *value)
{
    Tcl_DriverSetOptionProc *set = Tcl_ChannelSetOptionProc(Tcl_GetChannelType(below));
    if (set == nullptr) {
        return Tcl_BadChannelOption(interp, name, "");
    }
    return set(Tcl_GetChannelInstanceData(below), interp, name, value);
}

int GetOptionBelow(Tcl_Channel below, Tcl_Interp *interp, const char *name, Tcl_DString *value)
{
    Tcl_DriverGetOptionProc *get = Tcl_ChannelGetOptionProc(Tcl_GetChannelType(below));
    if (get == nullptr) {
        return name == nullptr ? TCL_OK : Tcl_BadChannelOption(interp, name, "");
    }
    return get(Tcl_GetChannelInstanceData(below), interp, name, value);
}

void WatchBelow(Tcl_Channel below, int mask)
{
    Tcl_DriverWatchProc *watch = Tcl_ChannelWatchProc(Tcl_GetChannelType(below));
    if (watch != nullptr) {
        watch(Tcl_GetChannelInstanceData(below), mask);
    }
}

int BlockModeBelow(Tcl_Channel below, int mode)
{
    Tcl_DriverBlockModeProc *block = Tcl_ChannelBlockModeProc(Tcl_GetChannelType(below));
    return block != nullptr ? block(Tcl_GetChannelInstanceData(below), mode) : 0;
}

} // namespace orx::stacked
