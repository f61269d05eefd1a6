// Option scanning for the shell entry and other starters of the shell, and
// the splitting of a raw command line by the Windows quoting rules.  The raw
// line itself comes from the platform layer.

#include "orx_getopt.h"

#include <cstdio>
#include <cstring>
#include <string>

#include <tcl.h>

#include "platform/orxplat.h"

namespace {

// Process-wide scanner state, shared by every caller of orxgetopt in the
// process and touched only from the thread that starts the shell.
int optionIndex = 1;
int errorPrinting = 1;
int resetRequest = 0;
int currentOption = 0;
char *optionArgument = nullptr;
const char *scanPosition = "";

// Only blanks and tabs separate words of an option string.
bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

}  // namespace

extern "C" {

int orxgetopt(int argc, char **argv, char *optionString)
{
    const char *options = optionString != nullptr ? optionString : "";
    bool silent = options[0] == ':';

    if (resetRequest || *scanPosition == '\0') {
        resetRequest = 0;
        if (optionIndex >= argc || argv[optionIndex] == nullptr
            || argv[optionIndex][0] != '-') {
            scanPosition = "";
            return -1;
        }
        scanPosition = argv[optionIndex];
        if (scanPosition[1] != '\0' && *++scanPosition == '-') {
            optionIndex++;
            scanPosition = "";
            return -1;
        }
        // A lone "-" stays at scanPosition and ends the scan below.
    }

    currentOption = static_cast<unsigned char>(*scanPosition++);
    const char *spec = currentOption == ':' ? nullptr : strchr(options, currentOption);
    if (spec == nullptr) {
        if (currentOption == '-') {
            return -1;
        }
        if (*scanPosition == '\0') {
            optionIndex++;
        }
        if (errorPrinting && !silent) {
            fprintf(stderr, "illegal option -- %c\n", currentOption);
        }
        return '?';
    }

    if (spec[1] != ':') {
        optionArgument = nullptr;
        if (*scanPosition == '\0') {
            optionIndex++;
        }
        return currentOption;
    }

    if (*scanPosition != '\0') {
        optionArgument = const_cast<char *>(scanPosition);
    } else if (argc <= ++optionIndex || argv[optionIndex] == nullptr) {
        // Leave no pointer into a vector the caller may be done with.
        optionArgument = nullptr;
        scanPosition = "";
        if (silent) {
            return ':';
        }
        if (errorPrinting) {
            fprintf(stderr, "option requires an argument -- %c\n", currentOption);
        }
        return '?';
    } else {
        optionArgument = argv[optionIndex];
    }
    scanPosition = "";
    optionIndex++;
    return currentOption;
}

char *orxgetopt_get_optarg(void)
{
    return optionArgument;
}

int orxgetopt_get_optopt(void)
{
    return currentOption;
}

int orxgetopt_get_optind(void)
{
    return optionIndex;
}

void orxgetopt_set_optreset(int value)
{
    resetRequest = value;
}

void orxgetopt_set_opterr(int value)
{
    errorPrinting = value;
}

void OrxX_SplitCmdLineText(const char *line, int *argcPtr, char ***argvPtr)
{
    if (line == nullptr) {
        line = "";
    }
    // Every argument but the last ends at a run of blanks, so runs + 2
    // pointers hold all arguments and the NULL.
    size_t size = 2;
    for (const char *p = line; *p != '\0';) {
        if (IsBlank(*p)) {
            size++;
            while (IsBlank(*p)) {
                p++;
            }
        } else {
            p++;
        }
    }
    // Quotes and halved backslashes only shrink an argument, and each
    // argument's terminator fits in the blank (or final NUL) behind it.
    size_t lineLength = strlen(line);
    char *block = Tcl_Alloc(size * sizeof(char *) + lineLength + 1);
    char **argv = reinterpret_cast<char **>(block);
    char *space = block + size * sizeof(char *);

    const char *p = line;
    int argc = 0;
    for (; size_t(argc) < size - 1; argc++) {
        while (IsBlank(*p)) {
            p++;
        }
        if (*p == '\0') {
            break;
        }
        char *arg = space;
        argv[argc] = arg;
        bool inQuote = false;
        for (;;) {
            bool copy = true;
            size_t slashes = 0;
            while (*p == '\\') {
                slashes++;
                p++;
            }
            if (*p == '"') {
                if ((slashes & 1) == 0) {
                    copy = false;
                    if (inQuote && p[1] == '"') {
                        p++;
                        copy = true;
                    } else {
                        inQuote = !inQuote;
                    }
                }
                slashes >>= 1;
            }
            for (; slashes > 0; slashes--) {
                *arg++ = '\\';
            }
            if (*p == '\0' || (!inQuote && IsBlank(*p))) {
                break;
            }
            if (copy) {
                *arg++ = *p;
            }
            p++;
        }
        *arg = '\0';
        space = arg + 1;
    }
    argv[argc] = nullptr;
    *argcPtr = argc;
    *argvPtr = argv;
}

void OrxX_SplitWinCmdLine(int *argcPtr, char ***argvPtr)
{
    std::string line;
    try {
        line = OrxPlat_RawCommandLine();
    } catch (...) {
        line.clear();  // no memory for the line: an empty vector
    }
    OrxX_SplitCmdLineText(line.c_str(), argcPtr, argvPtr);
}

}  // extern "C"
