// Raw command line on Windows: the line the process was started with, which
// the Windows splitting rules turn into its arguments.
#include "platform/orxplat.h"

#include "win32.h"

std::string OrxPlat_RawCommandLine()
{
    const char *line = GetCommandLineA();
    return line != nullptr ? std::string(line) : std::string();
}
