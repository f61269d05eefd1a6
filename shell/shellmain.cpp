// Entry point of the Orx shell: options, the start-up variables, the host's
// initialisation, and then exactly one of -c, a script file, server mode or
// the command loop.  Every path ends the process.

#include "orx_shell.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/internal.h"
#include "platform/orxplat.h"
#include "platform/tclint/tclint.h"
#include "orx_getopt.h"
#include "orx_init.h"
#include "orx_release.h"
#include "orx_signal.h"
#include "orx_tclbuild.h"
#include "tq_cc.h"

namespace {

const char kUsageTail[] = " ?-quns? ?-f? ?script?|?-c command? ?args?\n";

[[noreturn]] void UsageExit(const char *programName)
{
    Tcl_Channel err = Tcl_GetStdChannel(TCL_STDERR);
    if (err != nullptr) {
        Tcl_WriteChars(err, "usage: ", -1);
        Tcl_WriteChars(err, programName, -1);
        Tcl_WriteChars(err, kUsageTail, -1);
        Tcl_Flush(err);
    }
    // Nothing has used the timer module yet; closing the channels at exit
    // would set it up after its thread cleanup ran, leaking it.
    Tcl_DeleteTimerHandler(nullptr);
    Tcl_Exit(1);
}

// The long usage: every option, the environment, where the reference is, and
// the exit statuses.
const char kHelpText[] =
    " ?-quns? ?-f? ?script?|?-c command? ?args?\n"
    "\n"
    "The Orx shell: evaluates a command (-c) or a script file, services events\n"
    "(-s), or reads commands from standard input, with line editing, history\n"
    "and Tab completion when that is a terminal.\n"
    "\n"
    "Options:\n"
    "  -q            quick start: ORXXENV(quick) is 1, for scripts to read\n"
    "  -n            on a fatal error print the message without the error trace\n"
    "  -s            server mode: after the command or script, service events\n"
    "                for ever instead of exiting or reading commands\n"
    "  -u            no meaning: answered with the short usage (status 1)\n"
    "  -c command    evaluate the command, then exit; the arguments after it\n"
    "                become argv (options included)\n"
    "  -f script     evaluate the script file, found along PATH, then exit; the\n"
    "                arguments after it become argv\n"
    "  --            end of the options: the rest is argv, and no script file\n"
    "  script        without -c or -f, the first argument is the script file\n"
    "  --help        alone: print this text (status 0)\n"
    "  --version     alone: print the version and release of the product (status 0)\n"
    "Flags combine (-qn); -q, -n and -s may each be given once.\n"
    "\n"
    "Environment:\n"
    "  MORVA_HOME    installation directories, separated by \":\"\n"
    "  ORX_PATH      Tcl list of script-library directories for auto_path\n"
    "  ORX_DEBUG     report what the library auto-loader does\n"
    "  ORX_NO_EDIT   when set and not empty: no line editing on a terminal\n"
    "  PATH          where script files and extension packages are found\n"
    "  HOME          the per-user directory ~/ruvadiredavoz (pid file, history)\n"
    "                and the start-up file ~/.orxshrc\n"
    "\n"
    "Exit status: 0 at a normal end, 1 for a usage error, 255 when start-up,\n"
    "the command, the script or reading commands fails.\n"
    "\n";

// orxsh --help and orxsh --version.
[[noreturn]] void InfoExit(const char *programName, const char *request)
{
    if (getenv("MORVA_HOME") == nullptr) {
        OrxPlat_SetEnv("MORVA_HOME", Orx_DefaultMorvaHome()); // where the release data is
    }
    std::string text;
    if (strcmp(request, "--version") == 0) {
        char release[256];
        int length = 0;
        c_reln("ORX", release, &length, static_cast<int>(sizeof release));
        text = std::string("orxsh ") + Tq_GetRelver("ORX") + "\n" +
               std::string(release, static_cast<size_t>(length)) + "\n";
    } else {
        text = std::string("usage: ") + programName + kHelpText + "Reference: " +
               Orx_DefaultMorvaHome() + "/doc/README.md; in the shell, \"help\" lists the\n"
               "commands and \"help NAME\" shows one.\n";
    }
    fwrite(text.data(), 1, text.size(), stdout);
    exit(fflush(stdout) == 0 ? 0 : 1);
}

// Set a start-up variable; a failure is fatal.
void SetStartVar(Tcl_Interp *interp, const char *name1, const char *name2, const char *value)
{
    if (Tcl_SetVar2(interp, name1, name2, value, TCL_GLOBAL_ONLY | TCL_LEAVE_ERR_MSG) ==
        nullptr) {
        OrxX_ErrorExit(interp, 255, nullptr);
    }
}

// The arguments in Tcl's encoding, converted from the system encoding as
// Tcl's own shell converts them.  Kept for the life of the process: the
// option scan and the start-up variables point into them.
char **gArguments = nullptr;

char **ArgumentsFromSystem(int argc, char **argv)
{
    gArguments = reinterpret_cast<char **>(
        Tcl_Alloc(static_cast<unsigned>(sizeof(char *) * (argc > 0 ? argc + 1 : 1))));
    for (int i = 0; i < argc; ++i) {
        std::string text = orx::FromSystem(argv[i] != nullptr ? argv[i] : "");
        gArguments[i] = Tcl_Alloc(static_cast<unsigned>(text.size() + 1));
        memcpy(gArguments[i], text.c_str(), text.size() + 1);
    }
    gArguments[argc > 0 ? argc : 0] = nullptr;
    return gArguments;
}

// The user's start-up file, as Tcl_SourceRCFile sources it, but with "~"
// expanded as every start-up name is (HOME, else the user database): Tcl's
// own expansion fails without HOME.  Only a regular file: a FIFO at the name
// would hold start-up until someone writes to it.
void SourceStartupFile(Tcl_Interp *interp)
{
    const char *name = Tcl_GetVar2(interp, "tcl_rcFileName", nullptr, TCL_GLOBAL_ONLY);
    std::string path, why;
    if (name == nullptr || !OrxPlat_ExpandTilde(name, &path, &why)) {
        return; // no name, or an unknown user: no file, as with Tcl
    }
    Tcl_Channel probe = nullptr;
    if (OrxPlat_OpenChannel(path.c_str(), &probe) != 0) {
        return;
    }
    Tcl_Close(nullptr, probe);
    if (Tcl_EvalFile(interp, path.c_str()) != TCL_OK) {
        Tcl_Channel err = Tcl_GetStdChannel(TCL_STDERR);
        if (err != nullptr) {
            Tcl_WriteObj(err, Tcl_GetObjResult(interp));
            Tcl_WriteChars(err, "\n", 1);
        }
    }
}

} // namespace

extern "C" {

void OrxSh_Main(int argc, char **argv, Tcl_AppInitProc *appInitProc)
{
    // Help and version go out through stdio, before Tcl: the bytes as given.
    // Only the long words, and only alone: "-h" and "-v" are letters the
    // shell does not define, and "--help script" runs the script.
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "--version") == 0)) {
        InfoExit(argv[0] != nullptr ? argv[0] : "orxsh", argv[1]);
    }
    // The terminal as the user's shell left it, before the line editor
    // changes it; TERM, HUP and QUIT end the shell tidily from here on.
    OrxPlat_SigCleanEnds();
    Tcl_FindExecutable(argc > 0 ? argv[0] : nullptr);
    argv = ArgumentsFromSystem(argc, argv);
    const char *programName = argc > 0 && argv[0] != nullptr ? argv[0] : "orxsh";
    Tcl_Interp *interp = Tcl_CreateInterp();
    Orx_SetMainInterp(interp);

    // "u" is in the usage text but means nothing: the scanner accepts it and
    // the shell answers with the usage.
    char optionString[] = "qnsuc:f:";
    bool quick = false, noDump = false, server = false;
    const char *evalCmd = nullptr;
    const char *evalFile = nullptr;
    bool scanning = true;
    while (scanning && argc > 1) {
        int letter = orxgetopt(argc, argv, optionString);
        switch (letter) {
        case -1:
            scanning = false;
            break;
        case 'q':
            if (quick) UsageExit(programName);
            quick = true;
            break;
        case 'n':
            if (noDump) UsageExit(programName);
            noDump = true;
            break;
        case 's':
            if (server) UsageExit(programName);
            server = true;
            break;
        case 'c':
            evalCmd = orxgetopt_get_optarg();
            scanning = false;
            break;
        case 'f':
            evalFile = orxgetopt_get_optarg();
            scanning = false;
            break;
        default: UsageExit(programName);
        }
    }
    int optind = argc > 1 ? orxgetopt_get_optind() : 1;
    if (optind > argc) {
        optind = argc;
    }
    // The first operand is the script, unless "--" stood just before it: a
    // longer "--word" ends the options too, but still lets the script follow.
    if (evalCmd == nullptr && evalFile == nullptr && optind < argc &&
        strcmp(argv[optind - 1], "--") != 0) {
        evalFile = argv[optind++];
    }

    SetStartVar(interp, "argv0", nullptr, evalFile != nullptr ? evalFile : programName);
    if (evalFile != nullptr) {
        Tcl_SetVar2(interp, "orx_exec_dir", nullptr, programName, TCL_GLOBAL_ONLY);
    }
    char *merged = Tcl_Merge(argc - optind, argv + optind);
    if (Tcl_SetVar2(interp, "argv", nullptr, merged, TCL_GLOBAL_ONLY | TCL_LEAVE_ERR_MSG) ==
        nullptr) {
        Tcl_Free(merged);
        OrxX_ErrorExit(interp, 255, nullptr);
    }
    Tcl_Free(merged);
    char count[TCL_INTEGER_SPACE];
    snprintf(count, sizeof count, "%d", argc - optind);
    SetStartVar(interp, "argc", nullptr, count);
    SetStartVar(interp, "tcl_interactive", nullptr,
                evalCmd != nullptr || evalFile != nullptr ? "0" : "1");
    if (evalCmd != nullptr) {
        SetStartVar(interp, "ORXXENV", "evalCmd", evalCmd);
    }
    if (evalFile != nullptr) {
        SetStartVar(interp, "ORXXENV", "evalFile", evalFile);
    }
    SetStartVar(interp, "ORXXENV", "quick", quick ? "1" : "0");
    SetStartVar(interp, "ORXXENV", "noDump", noDump ? "1" : "0");
    SetStartVar(interp, "ORXXENV", "isserver", server ? "1" : "0");

    const char *isServer = Tcl_GetVar2(interp, "ORXXENV", "isserver", TCL_GLOBAL_ONLY);
    server = isServer != nullptr && isServer[0] == '1';

    if (appInitProc(interp) != TCL_OK) {
        OrxX_ErrorExit(interp, 255, "\n    while\ninitializing application (Tcl_AppInit?)");
    }
    // The notes of an initialisation that went on (Orx_TclInit leaves them
    // in the result), before anything can replace them.
    orx::ShowNotes(interp);
    OrxCoverage_Init();

    bool evaluated = false;
    if (Tcl_Obj *cmdObj = Tcl_GetVar2Ex(interp, "ORXXENV", "evalCmd", TCL_GLOBAL_ONLY)) {
        // The command may change the variable that holds it.
        Tcl_IncrRefCount(cmdObj);
        // Tcl 8.6 would turn a break or continue at level 0 into an error;
        // the shell accepts every code but TCL_ERROR.
        Tcl_AllowExceptions(interp);
        int code = Tcl_EvalObjEx(interp, cmdObj, TCL_EVAL_GLOBAL);
        Tcl_DecrRefCount(cmdObj);
        if (code == TCL_ERROR) {
            OrxX_ErrorExit(interp, 255, "\n    while\nevaluating -c supplied command");
        }
        if (!server) {
            OrxX_ShellExit(interp, 0);
        }
        evaluated = true;
    }
    if (const char *name = Tcl_GetVar2(interp, "ORXXENV", "evalFile", TCL_GLOBAL_ONLY)) {
        std::string fileName = name;
        const char *found = Orx_Spath(interp, fileName.c_str(), "PATH", "r", 0);
        if (found == nullptr) {
            OrxX_ErrorExit(interp, 255, "\n    while\nevaluating -f supplied command");
        }
        std::string path = found; // the search buffer may be reused by the script
        int savedReturnCode = orx::SwapReturnCode(interp, TCL_OK);
        int code = Tcl_EvalFile(interp, path.c_str());
        orx::SwapReturnCode(interp, savedReturnCode);
        if (code == TCL_ERROR) {
            OrxX_ErrorExit(interp, 255, nullptr);
        }
        if (!server) {
            OrxX_ShellExit(interp, 0);
        }
        evaluated = true;
    }
    if (!evaluated) {
        SourceStartupFile(interp);
    }

    OrxX_SetupSigInt();
    if (server) {
        for (;;) {
            Tcl_DoOneEvent(0);
        }
    }
    int options = tq_isatty(0) ? ORXX_CMDLOOP_INTERACTIVE : 0;
    if (OrxX_CommandLoop(interp, options, nullptr, nullptr, nullptr, nullptr) != TCL_OK) {
        OrxX_ErrorExit(interp, 255, "\n    while\nevaulating interactive commands");
    }
    OrxX_ShellExit(interp, 0);
}

} // extern "C"
