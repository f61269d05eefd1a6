// Names of the per-user Orx directory and of the pid file in it.  Shared by
// start-up (which creates the directory and hands the pid path to the signal
// thread) and by kill (which looks target threads up in the file), so both
// agree on one name.
#ifndef ORX_PLATFORM_PIDFILE_H
#define ORX_PLATFORM_PIDFILE_H

#include <string>

// "<home>/ruvadiredavoz", home being $HOME as Tcl's "~" expands it, or the
// home directory of the effective user when HOME is unset or empty.  Empty
// when neither is known.
std::string OrxPlat_UserDirName();

// "<home>/ruvadiredavoz/pid_tq", or empty when the home directory is unknown.
std::string OrxPlat_PidFileName();

#endif
