// The process's raw command line, the stand-in for the Windows command-line
// text: rebuilt from the argument vector the kernel holds, quoted so that the
// Windows splitting rules give the same vector back.
#ifndef ORX_PLATFORM_CMDLINE_H
#define ORX_PLATFORM_CMDLINE_H

#include <string>
#include <vector>

// One argument quoted for the Windows splitting rules (appended to *line).
void OrxPlat_QuoteCmdArg(const std::string &arg, std::string *line);

// The arguments joined by blanks, each quoted as needed.
std::string OrxPlat_JoinCmdLine(const std::vector<std::string> &args);

// The raw command line of this process (from /proc/self/cmdline); empty when
// it cannot be read.  May throw std::bad_alloc.
std::string OrxPlat_RawCommandLine();

#endif
