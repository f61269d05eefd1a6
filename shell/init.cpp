// Interpreter initialisation: environment, auto_path, type maps, the fixed
// command table and the family initialisers in their fixed order, the
// start-up packages, prompts, the per-user directory and the signal thread.
#include "orx_init.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "orx_etp.h"
#include "orx_etptype.h"
#include "orx_files.h"
#include "orx_filescan.h"
#include "orx_general.h"
#include "orx_help.h"
#include "orx_id.h"
#include "orx_keylist.h"
#include "orx_lgets.h"
#include "orx_library.h"
#include "orx_list.h"
#include "orx_loader.h"
#include "orx_netsplit.h"
#include "orx_math.h"
#include "orx_profile.h"
#include "orx_release.h"
#include "orx_shell.h"
#include "orx_signal.h"
#include "orx_string.h"
#include "orx_tclbuild.h"
#include "orx_tclextra.h"
#include "orx_strpath.h"
#include "orx_tessarycfg.h"
#include "orx_tree.h"
#include "base/internal.h"
#include "library/library.h"
#include "platform/orxplat.h"
#include "tq_cc.h"

#ifndef ORX_DEFAULT_MORVA_HOME
#define ORX_DEFAULT_MORVA_HOME "/usr/share/orx"
#endif
// The installation seen from the directory of an installed orxsh.
#ifndef ORX_HOME_FROM_BINDIR
#define ORX_HOME_FROM_BINDIR "../share/orx"
#endif
#ifndef ORX_VERSION_TEXT
#define ORX_VERSION_TEXT "1.0.0"
#endif

namespace {

struct CommandEntry {
    const char *name;
    Tcl_CmdProc *proc;
    int isProtected;
};

// Registration order is part of the interface: later commands join in their place.
const CommandEntry kCommandTable[] = {
    {"tessarycfg", Orx_TessarycfgCmd, 0},
    {"encrypt", Orx_EncryptCmd, 1},
    {"decrypt", Orx_DecryptCmd, 1},
    {"orx:tree", Orx_TreeCmd, 0},
    {"orx:load", Orx_LoadCmd, 0},
    {"orx:unload", Orx_UnloadCmd, 0},
    {"orx:copyr", Orx_CopyrCmd, 0},
    {"orx:relver", Orx_RelverCmd, 0},
    {"orx:relstring", Orx_RelstringCmd, 0},
    {"orx:FileCompose", Orx_FileComposeCmd, 0},
    {"orx:FileDrive", Orx_FileDriveCmd, 0},
    {"orx:FileExpand", Orx_FileExpandCmd, 0},
    {"orx:FileNative", Orx_FileNativeCmd, 0},
    {"orx:FileNeutral", Orx_FileNeutralCmd, 0},
    {"orx:FilePath", Orx_FilePathCmd, 0},
    {"orx:FileVerifyDrive", Orx_FileVerifyDriveCmd, 0},
    {"orx:GetDrives", Orx_GetDrivesCmd, 0},
    {"orx:GetCurrentDrive", Orx_GetCurrentDriveCmd, 0},
    {"orx:pathsplit", Orx_PathsplitCmd, 0},
    {"orx:MorvaListSplit", Orx_MorvaListSplitCmd, 0},
    {"orx:StrSplit", Orx_StrSplitCmd, 0},
    {"orx:StrJoin", Orx_StrJoinCmd, 0},
    {"orx:GetPlatform", Orx_GetPlatformCmd, 0},
    {"tmpname", Orx_TmpnamCmd, 0},
    {"tempname", Orx_TempnamCmd, 0},
    {"orx:setEtpType", Orx_SetEtpTypeCmd, 0},
    {"orx:netinfo", Orx_NetInfoCmd, 0},
    {nullptr, nullptr, 0},
};

struct FamilyInit {
    int (*init)(Tcl_Interp *);
    bool counts; // whether a failure stops the initialisation
};

// The command families in their fixed order, as Tcl's builtInCmds[]: each
// family adds its line in its place; every name is resolved at link time.
// Order: library, string, list, keyed list, file scanning, signal, command
// loop, general, debug, math, lgets, id, profile, constants.
const FamilyInit kFamilies[] = {
    {OrxX_LibraryInit, false},
    {OrxXStringInit, false},
    {OrxXListInit, false},
    {OrxXKeyedListInit, false},
    {OrxXFilescanInit, false},
    {OrxXSignalInit, false},
    {OrxXCmdloopInit, false},
    {OrxXHelpInit, false},
    {OrxXGeneralInit, false},
    {OrxXDebugInit, true},
    {OrxXMathInit, false},
    {OrxXLgetsInit, false},
    {OrxXIdInit, false},
    {OrxX_ProfileInit, true},
    {ConstantInit, true},
};

// Tilde substitution with the home directory every start-up name uses: HOME,
// else the user database (Tcl's own "~" fails without HOME).  False with
// Tcl's message for an unknown user.
bool Translate(Tcl_Interp *interp, const std::string &name, std::string *out)
{
    std::string why;
    if (!OrxPlat_ExpandTilde(name, out, &why)) {
        orx::SetError(interp, why);
        orx::ValueCode(interp, "NAME", name);
        return false;
    }
    return true;
}

// Appends the directories of ORX_PATH, then <dir>/lib/orx of each given one, to auto_path.
int ExtendAutoPath(Tcl_Interp *interp, char **dirs, int count)
{
    Tcl_DString text;
    Tcl_DStringInit(&text);
    Tcl_DStringAppend(&text, " ", 1);
    int code = TCL_OK;
    const char *orxPath = Tcl_GetVar2(interp, "env", "ORX_PATH", TCL_GLOBAL_ONLY);
    if (orxPath != nullptr) {
        int elemc;
        const char **elemv;
        if (Tcl_SplitList(interp, orxPath, &elemc, &elemv) != TCL_OK) {
            Tcl_DStringFree(&text);
            return TCL_ERROR;
        }
        for (int i = 0; i < elemc && code == TCL_OK; ++i) {
            std::string dir;
            if (Translate(interp, elemv[i], &dir)) {
                Tcl_DStringAppendElement(&text, dir.c_str());
            } else {
                code = TCL_ERROR;
            }
        }
        Tcl_Free(reinterpret_cast<char *>(elemv));
    }
    for (int i = 0; i < count && code == TCL_OK; ++i) {
        std::string dir;
        if (Translate(interp, std::string(dirs[i]) + "/lib/orx", &dir)) {
            Tcl_DStringAppendElement(&text, dir.c_str());
        } else {
            code = TCL_ERROR;
        }
    }
    if (code == TCL_OK &&
        Tcl_SetVar(interp, "auto_path", Tcl_DStringValue(&text),
                   TCL_GLOBAL_ONLY | TCL_APPEND_VALUE | TCL_LEAVE_ERR_MSG) == nullptr) {
        code = TCL_ERROR;
    }
    Tcl_DStringFree(&text);
    return code;
}

// Type maps from the installation directories (last first, so the first
// directory has the last word), the user's and the design's.  A map that is
// not a regular file is noted, never opened.
int LoadTypeMaps(Tcl_Interp *interp, char **dirs, int count, std::string *notes)
{
    for (int i = count - 1; i >= 0; --i) {
        std::string path;
        if (!Translate(interp, std::string(dirs[i]) + "/config/typemap.tq", &path)) {
            return TCL_ERROR;
        }
        if (OrxPlat_IsRegularFile(path)) {
            etpLoadTypeMap(path.c_str(), 0);
        } else {
            notes->append("Could not open file").append(path);
        }
    }
    for (const char *name : {"~/.typemap_user", "typemap.design"}) {
        std::string path;
        if (!Translate(interp, name, &path)) {
            return TCL_ERROR;
        }
        // Only a regular file: a FIFO would hold start-up until someone writes.
        if (OrxPlat_IsRegularFile(path)) {
            etpLoadTypeMap(path.c_str(), 0);
        } else if (tq_access(path.c_str(), TQ_F_OK) == 0) {
            notes->append("Could not open file").append(path);
        }
    }
    return TCL_OK;
}

// Whether some folder of MORVA_HOME holds an installation: its script
// library's start-up file, which spath finds there (a regular file).
bool InstallationFound(char **dirs, int count)
{
    for (int i = 0; i < count; ++i) {
        if (OrxPlat_IsRegularFile(std::string(dirs[i]) + "/lib/orx/autoload.tcl")) {
            return true;
        }
    }
    return false;
}

// A start-up failure message, plain text in the result.
int Fail(Tcl_Interp *interp, const char *message)
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(message, -1));
    return TCL_ERROR;
}

// Evaluate "file subcommand path ?more?" at global level, the path as one
// word whatever it holds.
int EvalFileCommand(Tcl_Interp *interp, const char *subcommand, const std::string &path,
                    std::initializer_list<const char *> more = {})
{
    Tcl_Obj *command = Tcl_NewObj();
    Tcl_IncrRefCount(command);
    Tcl_ListObjAppendElement(nullptr, command, Tcl_NewStringObj("file", -1));
    Tcl_ListObjAppendElement(nullptr, command, Tcl_NewStringObj(subcommand, -1));
    Tcl_ListObjAppendElement(nullptr, command, orx::NewStringObj(path));
    for (const char *word : more) {
        Tcl_ListObjAppendElement(nullptr, command, Tcl_NewStringObj(word, -1));
    }
    int code = Tcl_EvalObjEx(interp, command, TCL_EVAL_GLOBAL);
    Tcl_DecrRefCount(command);
    return code;
}

// ~/ruvadiredavoz, private to the user: hidden on Windows; Linux has no
// hidden attribute, the directory is made with mode 0700 instead.  "~" is
// expanded here, as for the pid file, so that start-up works without HOME.
int PrepareUserDir(Tcl_Interp *interp)
{
    std::string dir = OrxPlat_UserDirName();
    if (!dir.empty() && dir[0] == '~') {
        dir.insert(0, "./"); // a home named "~..." is no user's home to expand again
    }
    if (dir.empty() || EvalFileCommand(interp, "isdirectory", dir) != TCL_OK) {
        return Fail(interp, "Failure determining of the ~/ruvadiredavoz directory exists.");
    }
    const char *option, *value;
    OrxPlat_PrivateDirAttribute(&option, &value);
    if (std::strcmp(Tcl_GetStringResult(interp), "0") != 0) {
        return TCL_OK;
    }
    if (EvalFileCommand(interp, "mkdir", dir) != TCL_OK) {
        return Fail(interp, "Could not make the ~/ruvadiredavoz directory.");
    }
    if (EvalFileCommand(interp, "attributes", dir, {option, value}) != TCL_OK) {
        return Fail(interp, "Could not set the hidden attribute of the ~/ruvadiredavoz directory.");
    }
    return TCL_OK;
}

// "<home>/ruvadiredavoz/pid_tq/<pid>": the signal thread splits it into the
// pid file, which kill reads, and this process's id.
int StartSignalThread(Tcl_Interp *interp)
{
    std::string pidFile = OrxPlat_PidFileName();
    if (pidFile.empty()) {
        return Fail(interp, "Failure creating the pid filename for the current process.");
    }
    std::string pidPath = pidFile + "/" + std::to_string(OrxPlat_ProcessId());
    return OrxX_StartSignalThread(interp, pidPath.c_str());
}

// Sets a global of the start-up environment.
void SetGlobal(Tcl_Interp *interp, const char *name, const char *value)
{
    Tcl_SetVar(interp, name, value, TCL_GLOBAL_ONLY); // failures are not fatal
}

} // namespace

namespace {

// Runs the family initialisers in order; a failing family that counts stops
// start-up, the others only leave their message in notes.
int InitFamilies(Tcl_Interp *interp, std::string *notes)
{
    for (const FamilyInit &family : kFamilies) {
        if (family.init(interp) != TCL_ERROR) {
            continue;
        }
        if (family.counts) {
            return TCL_ERROR;
        }
        // Not fatal, but the user should still hear of it.
        if (!notes->empty()) {
            notes->push_back('\n');
        }
        notes->append(Tcl_GetStringResult(interp));
        Tcl_ResetResult(interp);
    }
    return TCL_OK;
}

} // namespace

int OrxX_InitFamilies(Tcl_Interp *interp)
{
    std::string notes;
    try {
        if (InitFamilies(interp, &notes) != TCL_OK) {
            return TCL_ERROR;
        }
    } catch (const std::bad_alloc &) {
        return orx::OutOfMemory(interp);
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(notes.c_str(), static_cast<int>(notes.size())));
    return TCL_OK;
}

int Orx_TclCmdInit(Tcl_Interp *interp)
{
    for (const CommandEntry *entry = kCommandTable; entry->name != nullptr; ++entry) {
        Tcl_CreateCommand(interp, entry->name, entry->proc, nullptr, nullptr);
        if (entry->isProtected) {
            Orx_SetCommandProtected(
                interp, Tcl_FindCommand(interp, entry->name, nullptr, TCL_GLOBAL_ONLY), 1);
        }
    }
    return TCL_OK;
}

int Orx_TclInit(Tcl_Interp *interp)
{
    setlocale(LC_ALL, "");
    setlocale(LC_NUMERIC, "C");

    const char *homeEnv = getenv("MORVA_HOME");
    if (homeEnv == nullptr) {
        orx::AppendResult(interp, "orx: INTERNAL ERROR: Cannot find MORVA_HOME in environment.");
        return TCL_ERROR;
    }
    std::string morvaHome(homeEnv); // the env writes below may move it
    Tcl_SetVar2(interp, "env", "MORVA_HOME", morvaHome.c_str(), TCL_GLOBAL_ONLY);
    Tcl_SetVar2(interp, "env", "ORX_HOME", morvaHome.c_str(), TCL_GLOBAL_ONLY);

    int count;
    char **dirs;
    if (Orx_SplitPathVar(interp, morvaHome.c_str(), &count, &dirs) != TCL_OK) {
        return TCL_ERROR;
    }
    if (!InstallationFound(dirs, count)) {
        // Without it start-up would end later, on the first command of the
        // script library, with no word of the cause.
        Tcl_Free(reinterpret_cast<char *>(dirs));
        orx::AppendResult(interp, "orx: the installation is missing: MORVA_HOME is \"",
                          morvaHome.c_str(),
                          "\", and no folder it names holds lib/orx/autoload.tcl");
        return TCL_ERROR;
    }
    std::string notes;
    int code = ExtendAutoPath(interp, dirs, count);
    if (code == TCL_OK) {
        code = LoadTypeMaps(interp, dirs, count, &notes);
    }
    Tcl_Free(reinterpret_cast<char *>(dirs));
    if (code != TCL_OK) {
        return TCL_ERROR;
    }

    Orx_TclBuildInit(interp);
    etpCreateTclCommands(interp);
    if (Orx_TclCmdInit(interp) == TCL_ERROR) {
        return TCL_ERROR;
    }
    SetGlobal(interp, "tcl_precision", "14");
    SetGlobal(interp, "orx_fpformat", "engmult");

    if (InitFamilies(interp, &notes) != TCL_OK) {
        return TCL_ERROR;
    }
    for (const char *load : {"orx:load zub", "orx:load lumbrine -exact"}) {
        if (Tcl_EvalEx(interp, load, -1, TCL_EVAL_GLOBAL) == TCL_ERROR) {
            return TCL_ERROR;
        }
    }

    SetGlobal(interp, "tcl_prompt1", "puts -nonewline stdout {orx: }");
    SetGlobal(interp, "tcl_prompt2", "puts -nonewline stdout {> }");
    SetGlobal(interp, "orx_version", Tq_GetRelver("ORX"));

    if (PrepareUserDir(interp) != TCL_OK || StartSignalThread(interp) != TCL_OK) {
        return TCL_ERROR;
    }
    // The notes on missing type maps are all the caller hears of them.
    Tcl_SetObjResult(interp, Tcl_NewStringObj(notes.c_str(), static_cast<int>(notes.size())));
    return TCL_OK;
}

namespace {

// Client data shared by a command and its alias: the owner's delete procedure
// runs once, when the last name goes.  Process-wide (client data is not tied
// to one interpreter) and keyed by the data, since Tcl hands a delete
// procedure nothing else.
struct SharedData {
    Tcl_CmdDeleteProc *deleteProc;
    int names;
};
std::mutex sharedDataLock;
std::map<ClientData, SharedData> sharedData;

// Command delete procedure of a shared name: the owner's runs when the last name goes.
void DeleteSharedName(ClientData clientData)
{
    Tcl_CmdDeleteProc *owner = nullptr;
    {
        std::lock_guard<std::mutex> hold(sharedDataLock);
        auto it = sharedData.find(clientData);
        if (it == sharedData.end() || --it->second.names > 0) {
            return;
        }
        owner = it->second.deleteProc;
        sharedData.erase(it);
    }
    owner(clientData);
}

} // namespace

int OrxX_CreateObjCommand(Tcl_Interp *interp, const char *cmdName, Tcl_ObjCmdProc *proc,
                          ClientData clientData, Tcl_CmdDeleteProc *deleteProc, int flags)
{
    bool exists = false;
    if ((flags & ORXX_CMD_REPLACE) == 0) {
        exists = Tcl_FindCommand(interp, cmdName, nullptr, TCL_GLOBAL_ONLY) != nullptr ||
                 Tcl_FindCommand(interp, cmdName, nullptr, TCL_NAMESPACE_ONLY) != nullptr;
    }
    std::string alias;
    if ((flags & ORXX_CMD_NO_ALIAS) == 0 && std::strncmp(cmdName, "tclx", 4) != 0) {
        alias = std::string("orxx_") + cmdName;
    }
    int names = (exists ? 0 : 1) + (alias.empty() ? 0 : 1);
    Tcl_CmdDeleteProc *registered = deleteProc;
    if (deleteProc != nullptr && names > 0) {
        // Count before creating: replacing an existing name deletes it, which
        // may release an earlier registration of the same data.
        std::lock_guard<std::mutex> hold(sharedDataLock);
        auto &record = sharedData[clientData];
        record.deleteProc = deleteProc; // one owner per data
        record.names += names;
        registered = DeleteSharedName;
    }
    if (!exists) {
        Tcl_CreateObjCommand(interp, cmdName, proc, clientData, registered);
    }
    if (!alias.empty()) {
        Tcl_CreateObjCommand(interp, alias.c_str(), proc, clientData, registered);
    }
    return 0;
}

void Orx_PutErrCode(Tcl_Interp *interp, const char *code, const char *detail)
{
    std::string text = std::string(code != nullptr ? code : "") + " " +
                       (detail != nullptr ? detail : "");
    Tcl_Obj *element = Tcl_NewStringObj(text.c_str(), static_cast<int>(text.size()));
    Tcl_Obj *list = Tcl_NewListObj(1, &element);
    Tcl_IncrRefCount(list);
    Tcl_SetObjErrorCode(interp, list);
    // The variable as well: callers read it before the error reaches a script.
    Tcl_SetVar2Ex(interp, "errorCode", nullptr, list, TCL_GLOBAL_ONLY);
    Tcl_DecrRefCount(list);
}

char *Orx_Concat(int argc, const char *const argv[])
{
    size_t length = 1;
    for (int i = 0; i < argc; ++i) {
        length += (argv[i] != nullptr ? std::strlen(argv[i]) : 0) + 1;
    }
    char *result = static_cast<char *>(attemptckalloc(length));
    if (result == nullptr) {
        return nullptr;
    }
    char *p = result;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) {
            *p++ = ' ';
        }
        if (argv[i] != nullptr) {
            size_t n = std::strlen(argv[i]);
            std::memcpy(p, argv[i], n);
            p += n;
        }
    }
    *p = '\0';
    return result;
}

char *Orx_Ckstrdup(const char *s)
{
    if (s == nullptr) {
        return nullptr;
    }
    size_t n = std::strlen(s) + 1;
    char *copy = static_cast<char *>(attemptckalloc(n));
    if (copy != nullptr) {
        std::memcpy(copy, s, n);
    }
    return copy;
}

namespace {

// Every start-up sources the installation's auto-loader, so a directory
// without one is no installation.
bool HoldsInstallation(const std::string &dir)
{
    return OrxPlat_IsRegularFile(dir + "/lib/orx/autoload.tcl");
}

// The installation of the running executable: the installed layout
// (bin/ beside share/orx/), then a tree such as the build's, whose bin/
// lies inside it; else the one the library was built for.
std::string FindDefaultHome()
{
    std::string exe = OrxPlat_ExecutablePath();
    size_t slash = exe.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        std::string bindir = exe.substr(0, slash);
        for (const char *relative : {ORX_HOME_FROM_BINDIR, ".."}) {
            std::string dir, why;
            if (OrxPlat_FullPathName(bindir + "/" + relative, &dir, &why) &&
                HoldsInstallation(dir)) {
                return dir;
            }
        }
    }
    return ORX_DEFAULT_MORVA_HOME;
}

} // namespace

const char *Orx_DefaultMorvaHome(void)
{
    try {
        static const std::string home = FindDefaultHome();
        return home.c_str();
    } catch (...) {
        return ORX_DEFAULT_MORVA_HOME;
    }
}

int Orx_Init(Tcl_Interp *interp)
{
    if (getenv("MORVA_HOME") == nullptr) {
        // The start-up packages live in the installation's bin directory.
        const char *home = Orx_DefaultMorvaHome();
        std::string bin = std::string(home) + "/bin";
        const char *path = Tcl_GetVar2(interp, "env", "PATH", TCL_GLOBAL_ONLY);
        std::string newPath = path == nullptr || *path == '\0' ? bin : std::string(path) + orx::kPathListSeparator + bin;
        Tcl_SetVar2(interp, "env", "PATH", newPath.c_str(), TCL_GLOBAL_ONLY);
        Tcl_SetVar2(interp, "env", "MORVA_HOME", home, TCL_GLOBAL_ONLY);
    }
    if (Orx_GetMainInterp() == nullptr) {
        Orx_SetMainInterp(interp);
    }
    if (Orx_TclInit(interp) != TCL_OK) {
        return TCL_ERROR;
    }
    // No caller of a package's initialisation shows its result, so the
    // notes of an initialisation that went on are written out here.
    orx::ShowNotes(interp);
    return Tcl_PkgProvide(interp, "Orx", ORX_VERSION_TEXT);
}

int Tq_orxtcl_Init(Tcl_Interp *interp)
{
    return Orx_Init(interp);
}
