// Library indexes and on-demand loading of script packages: loadlibindex and
// orxx_load_tndxs fill auto_pkg_index and auto_index from index files,
// auto_load_pkg evaluates one package's byte range (decrypting it when
// needed), and the splitter and writer that the script-level builder uses.
#include "orx_library.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/internal.h"
#include "library/library.h"
#include "orx_os.h"
#include "orx_util.h"
#include "platform/orxplat.h"
#include "tq_cc.h"

namespace {

constexpr char kEncryptedMarker[] = "%ENCRYPTED%";
constexpr size_t kEncryptedMarkerLength = 11;

enum class LibraryForm { Tlib, Tli };

// A suffix only counts after a name long enough to have a base before it.
bool EndsWith(const std::string &text, const char *suffix, size_t minLength)
{
    size_t n = std::strlen(suffix);
    return text.size() >= minLength && text.compare(text.size() - n, n, suffix) == 0;
}

// ".tlib" needs a name of at least 6 characters, ".tli" of 5.
bool LibraryFormOf(const std::string &name, LibraryForm *form)
{
    if (EndsWith(name, ".tlib", 6)) {
        *form = LibraryForm::Tlib;
        return true;
    }
    if (EndsWith(name, ".tli", 5)) {
        *form = LibraryForm::Tli;
        return true;
    }
    return false;
}

// base.tlib -> base.tndx, base.tli -> base.ndi.
std::string IndexNameOf(const std::string &library, LibraryForm form)
{
    std::string index = library;
    size_t n = index.size();
    index[n - 3] = 'n';
    index[n - 2] = 'd';
    if (form == LibraryForm::Tlib) {
        index[n - 1] = 'x';
    }
    return index;
}

// "prefix name separator reason", with Tcl's POSIX errorcode.
int PosixMessage(Tcl_Interp *interp, int error, const char *prefix, const std::string &name,
                 const char *separator)
{
    // A failure that left no error number is still no "Success".
    std::string reason = orx::PosixCode(interp, error != 0 ? error : EIO);
    orx::AppendResult(interp, prefix, name, separator, reason);
    return TCL_ERROR;
}

bool Debugging(Tcl_Interp *interp)
{
    const char *debug = Tcl_GetVar2(interp, "env", "ORX_DEBUG", TCL_GLOBAL_ONLY);
    return debug != nullptr && std::strcmp(debug, "1") == 0;
}

bool ReadableFile(const std::string &path)
{
    return OrxPlat_IsRegularFile(path) && tq_access(path.c_str(), TQ_R_OK) == 0;
}

// Opens name for reading: only a regular file, never waiting on a FIFO.
// Null with the message "couldn't open ..." in interp, as Tcl words it, or
// prefix + name + separator + "not a regular file".
Tcl_Channel OpenRegular(Tcl_Interp *interp, const std::string &name, const char *prefix,
                        const char *separator)
{
    Tcl_Channel channel = nullptr;
    int error = OrxPlat_OpenChannel(name.c_str(), &channel);
    if (error == ORXPLAT_NOT_REGULAR) {
        orx::AppendResult(interp, prefix, name, separator, "not a regular file");
        orx::ValueCode(interp, "FILE", name);
    } else if (error != 0) {
        PosixMessage(interp, error, "couldn't open \"", name, "\": ");
    }
    return channel;
}

class IndexLoader {
public:
    IndexLoader(Tcl_Interp *interp, std::string library, LibraryForm form)
        : interp_(interp), library_(std::move(library)), index_(IndexNameOf(library_, form))
    {
        if (Debugging(interp)) {
            std::string index = index_ + "dbg";
            std::string library = library_ + "dbg";
            if (ReadableFile(index) && ReadableFile(library)) {
                index_ = index;
                library_ = library;
            }
        }
    }

    // An index that is there but cannot be read (no permission, not a
    // regular file) is passed over, as Tcl passes over such a tclIndex;
    // under ORX_DEBUG the user hears of it.
    bool Unreadable()
    {
        OrxPlat_FileInfo info;
        if (OrxPlat_Stat(index_.c_str(), &info) != 0 || ReadableFile(index_)) {
            return false;
        }
        if (Debugging(interp_)) {
            if (Tcl_Channel err = Tcl_GetStdChannel(TCL_STDERR)) {
                std::string note = "orx: library index \"" + index_ + "\" skipped: " +
                                   (info.type == ORXPLAT_FILE_REGULAR ? "not readable"
                                                                      : "not a regular file") +
                                   "\n";
                Tcl_WriteChars(err, note.c_str(), -1);
                Tcl_Flush(err);
            }
        }
        return true;
    }

    int Load()
    {
        int code = Read();
        if (channel_ != nullptr) {
            Tcl_Close(nullptr, channel_);
            channel_ = nullptr;
        }
        if (code != TCL_OK) {
            std::string context = "\n    while loading Tcl library index \"" + index_ + "\"";
            Tcl_AddErrorInfo(interp_, context.c_str());
        }
        return code;
    }

private:
    int Read()
    {
        OrxPlat_FileInfo info;
        if (int error = OrxPlat_Stat(index_.c_str(), &info)) {
            return PosixMessage(interp_, error, "missing package index file \"", index_, "\": ");
        }
        channel_ = OpenRegular(interp_, index_, "error accessing package index file \"", "\": ");
        if (channel_ == nullptr) {
            return TCL_ERROR;
        }
        ObjRef libraryObj(orx::NewStringObj(library_));
        Tcl_DString line;
        Tcl_DStringInit(&line);
        int code = TCL_OK;
        while (code == TCL_OK) {
            Tcl_DStringSetLength(&line, 0);
            if (Tcl_Gets(channel_, &line) < 0) {
                break;
            }
            code = Entry(Tcl_DStringValue(&line), libraryObj.get());
        }
        Tcl_DStringFree(&line);
        if (code != TCL_OK) {
            return code;
        }
        if (!Tcl_Eof(channel_)) {
            return PosixMessage(interp_, Tcl_GetErrno(), "error accessing package index file \"",
                                index_, "\": ");
        }
        Tcl_Channel channel = channel_;
        channel_ = nullptr;
        if (Tcl_Close(nullptr, channel) != TCL_OK) {
            return PosixMessage(interp_, Tcl_GetErrno(), "error accessing package index file \"",
                                index_, "\": ");
        }
        return TCL_OK;
    }

    int FormatError(const char *line)
    {
        Tcl_ResetResult(interp_);
        orx::AppendResult(interp_, "format error in library index \"", index_, "\" (", line, ")");
        return orx::ValueCode(interp_, "FORMAT", index_);
    }

    // One line: package offset length proc ?proc ...?
    int Entry(const char *line, Tcl_Obj *libraryObj)
    {
        int count;
        const char **elements;
        if (Tcl_SplitList(nullptr, line, &count, &elements) != TCL_OK) {
            return FormatError(line);
        }
        int code = Record(line, count, elements, libraryObj);
        Tcl_Free(reinterpret_cast<char *>(elements));
        return code;
    }

    int Record(const char *line, int count, const char **elements, Tcl_Obj *libraryObj)
    {
        if (count < 4) {
            return FormatError(line);
        }
        // Read whole: Tcl_GetInt takes -4294967295 as the offset 1.
        int offset;
        int length;
        if (orx::GetInt(interp_, elements[1], &offset) != TCL_OK ||
            orx::GetInt(interp_, elements[2], &length) != TCL_OK) {
            return TCL_ERROR;
        }
        if (offset < 0 || length < 0) {
            return FormatError(line);
        }
        Tcl_Obj *where[3] = {libraryObj, Tcl_NewIntObj(offset), Tcl_NewIntObj(length)};
        if (Tcl_SetVar2Ex(interp_, "auto_pkg_index", elements[0], Tcl_NewListObj(3, where),
                          TCL_GLOBAL_ONLY | TCL_LEAVE_ERR_MSG) == nullptr) {
            return TCL_ERROR;
        }
        Tcl_Obj *loader[2] = {Tcl_NewStringObj("auto_load_pkg", -1),
                              Tcl_NewStringObj(elements[0], -1)};
        ObjRef command(Tcl_NewListObj(2, loader));
        for (int i = 3; i < count; ++i) {
            if (Tcl_SetVar2Ex(interp_, "auto_index", elements[i], command.get(),
                              TCL_GLOBAL_ONLY | TCL_LEAVE_ERR_MSG) == nullptr) {
                return TCL_ERROR;
            }
        }
        return TCL_OK;
    }

    Tcl_Interp *interp_;
    std::string library_;
    std::string index_;
    Tcl_Channel channel_ = nullptr;
};

// Reads the index of one library into the auto-load tables.
int LoadIndex(Tcl_Interp *interp, const std::string &library, LibraryForm form)
{
    return IndexLoader(interp, library, form).Load();
}

// Tilde expansion and native form; relative names joined to the current
// directory.
int AbsolutePath(Tcl_Interp *interp, const char *name, std::string *out)
{
    Tcl_DString translated;
    if (Tcl_TranslateFileName(interp, name, &translated) == nullptr) {
        return TCL_ERROR;
    }
    std::string path(Tcl_DStringValue(&translated), Tcl_DStringLength(&translated));
    Tcl_DStringFree(&translated);
    if (Tcl_GetPathType(path.c_str()) != TCL_PATH_ABSOLUTE) {
        Tcl_DString cwd;
        if (Tcl_GetCwd(interp, &cwd) == nullptr) {
            return TCL_ERROR;
        }
        Tcl_DString joined;
        Tcl_DStringInit(&joined);
        path = OrxX_JoinPath(Tcl_DStringValue(&cwd), path.c_str(), &joined);
        Tcl_DStringFree(&joined);
        Tcl_DStringFree(&cwd);
    }
    *out = std::move(path);
    return TCL_OK;
}

// loadlibindex libFile
int LoadlibindexObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 2) {
        return OrxX_WrongArgs(interp, objv[0], "libFile");
    }
    return orx::Guard(interp, [&] {
        std::string path;
        if (AbsolutePath(interp, Tcl_GetString(objv[1]), &path) != TCL_OK) {
            return TCL_ERROR;
        }
        LibraryForm form;
        if (EndsWith(path, ".tlib", 0)) {
            form = LibraryForm::Tlib;
        } else if (EndsWith(path, ".tli", 0)) {
            form = LibraryForm::Tli;
        } else {
            orx::AppendResult(interp,
                              "invalid library name, must have an extension of \".tlib\", "
                              "\".tli\", got \"",
                              Tcl_GetString(objv[1]), "\"");
            return orx::ValueCode(interp, "NAME", Tcl_GetString(objv[1]));
        }
        return LoadIndex(interp, path, form);
    });
}

struct WalkState {
    bool indexFailed = false;
};

// Directory walk callback: loads the index of each package library the directory holds.
int LoadDirEntry(Tcl_Interp *interp, const char *dir, const char *fileName, int caseSensitive,
                 ClientData clientData)
{
    std::string name = fileName;
    if (!caseSensitive) {
        OrxX_DownShift(&name[0], name.c_str());
    }
    LibraryForm form;
    if (!LibraryFormOf(name, &form)) {
        return TCL_OK;
    }
    Tcl_DString joined;
    Tcl_DStringInit(&joined);
    std::string path = OrxX_JoinPath(dir, fileName, &joined);
    Tcl_DStringFree(&joined);
    if (tq_access(path.c_str(), TQ_R_OK) != 0) {
        return TCL_OK;
    }
    IndexLoader loader(interp, path, form);
    if (!loader.Unreadable() && loader.Load() != TCL_OK) {
        static_cast<WalkState *>(clientData)->indexFailed = true;
        return TCL_ERROR;
    }
    return TCL_OK;
}

// orxx_load_tndxs dir
int LoadTndxsObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 2) {
        return OrxX_WrongArgs(interp, objv[0], "dir");
    }
    return orx::Guard(interp, [&] {
        WalkState state;
        if (OrxXOSWalkDir(interp, Tcl_GetString(objv[1]), 0, LoadDirEntry, &state) != TCL_OK &&
            state.indexFailed) {
            return TCL_ERROR;
        }
        // A directory that cannot be read holds no indexes for us.
        Tcl_ResetResult(interp);
        return TCL_OK;
    });
}

// Message for a library file that cannot be read.
int AccessError(Tcl_Interp *interp, const std::string &fileName)
{
    return PosixMessage(interp, Tcl_GetErrno(), "error accessing: ", fileName, ": ");
}

// The exact bytes of the range; the channel is closed on every path.
int ReadRange(Tcl_Interp *interp, const std::string &fileName, int64_t offset, unsigned length,
              std::string *text)
{
    Tcl_Channel channel = OpenRegular(interp, fileName, "error accessing: ", ": ");
    if (channel == nullptr) {
        return TCL_ERROR;
    }
    auto fail = [&](int code) {
        Tcl_Close(nullptr, channel);
        return code;
    };
    int64_t size;
    errno = 0;
    if (OrxXOSGetFileSize(channel, &size) != TCL_OK) {
        Tcl_SetErrno(errno);
        return fail(AccessError(interp, fileName));
    }
    // No sum that could pass the 64-bit range; a range beyond the largest Tcl
    // value cannot be a script.
    if (offset < 0 || offset > size || static_cast<int64_t>(length) > size - offset ||
        length > static_cast<unsigned>(INT_MAX)) {
        orx::AppendResult(interp, "range to eval outside of file bounds in \"", fileName,
                          "\", index file probably corrupt");
        return fail(orx::ValueCode(interp, "FORMAT", fileName));
    }
    // Bytes, not characters: the index counts bytes.  Encoding and line
    // ends are dealt with once the range is in hand.
    if (Tcl_SetChannelOption(interp, channel, "-translation", "binary") != TCL_OK) {
        return fail(TCL_ERROR);
    }
    if (Tcl_Seek(channel, offset, SEEK_SET) < 0) {
        return fail(AccessError(interp, fileName));
    }
    text->resize(length);
    int got = length > 0 ? Tcl_Read(channel, &(*text)[0], static_cast<int>(length)) : 0;
    if (got < 0) {
        return fail(AccessError(interp, fileName));
    }
    if (static_cast<unsigned>(got) < length) {
        orx::AppendResult(interp, "premature EOF on: ", fileName);
        return fail(orx::ValueCode(interp, "FORMAT", fileName));
    }
    if (Tcl_Close(nullptr, channel) != TCL_OK) {
        return AccessError(interp, fileName);
    }
    return TCL_OK;
}

// Plain package text is what OrxPackage:Puts wrote: the UTF-8 string form,
// whatever the system encoding; line ends as Tcl's auto translation reads them.
void PlainToScript(const std::string &bytes, Tcl_DString *script)
{
    Tcl_Encoding utf8 = Tcl_GetEncoding(nullptr, "utf-8");
    Tcl_DString utf;
    Tcl_ExternalToUtfDString(utf8, bytes.data(), static_cast<int>(bytes.size()), &utf);
    Tcl_FreeEncoding(utf8);
    const char *p = Tcl_DStringValue(&utf);
    size_t n = static_cast<size_t>(Tcl_DStringLength(&utf));
    Tcl_DStringInit(script);
    size_t i = 0;
    while (i < n) {
        const void *cr = std::memchr(p + i, '\r', n - i);
        size_t stop = cr != nullptr ? static_cast<const char *>(cr) - p : n;
        Tcl_DStringAppend(script, p + i, static_cast<int>(stop - i));
        if (cr == nullptr) {
            break;
        }
        Tcl_DStringAppend(script, "\n", 1);
        i = stop + 1;
        if (i < n && p[i] == '\n') {
            ++i;
        }
    }
    Tcl_DStringFree(&utf);
}

// The secure marker as an association value, keeping whatever delete
// procedure the association already had.
ClientData SetSecure(Tcl_Interp *interp, ClientData value)
{
    Tcl_InterpDeleteProc *deleteProc = nullptr;
    ClientData previous = Tcl_GetAssocData(interp, "secure", &deleteProc);
    Tcl_SetAssocData(interp, "secure", deleteProc, value);
    return previous;
}

// Evaluates one package's bytes of a library file at global level.
int EvalRange(Tcl_Interp *interp, const char *fileArg, int64_t offset, unsigned length)
{
    Tcl_ResetResult(interp);
    Tcl_DString translated;
    if (Tcl_TranslateFileName(interp, fileArg, &translated) == nullptr) {
        return TCL_ERROR;
    }
    std::string fileName(Tcl_DStringValue(&translated), Tcl_DStringLength(&translated));
    Tcl_DStringFree(&translated);

    std::string bytes;
    if (ReadRange(interp, fileName, offset, length, &bytes) != TCL_OK) {
        return TCL_ERROR;
    }
    Tcl_DString script;
    bool encrypted = bytes.compare(0, kEncryptedMarkerLength, kEncryptedMarker) == 0;
    if (encrypted) {
        Tcl_DStringInit(&script);
        Tcl_DStringAppend(&script, bytes.data(), static_cast<int>(bytes.size()));
        int token = orx::NewDecryptToken();
        if (DecryptString(interp, token, &script) != TCL_OK) {
            Tcl_DStringFree(&script);
            return TCL_ERROR;
        }
    } else {
        PlainToScript(bytes, &script);
    }
    std::string().swap(bytes);

    // info script names the library while its package runs.
    const char *const kInfoScript = "::tcl::info::script";
    ObjRef previousFile = orx::CallQuietly(interp, kInfoScript, {});
    if (previousFile.get() != nullptr) {
        orx::CallQuietly(interp, kInfoScript, {orx::NewStringObj(fileName)});
    }
    ClientData previousSecure = encrypted ? SetSecure(interp, reinterpret_cast<ClientData>(1))
                                          : nullptr;

    Tcl_Preserve(interp);
    int code = Tcl_EvalEx(interp, Tcl_DStringValue(&script), Tcl_DStringLength(&script),
                          TCL_EVAL_GLOBAL);
    Tcl_DStringFree(&script);

    if (encrypted) {
        SetSecure(interp, previousSecure);
    }
    // Whatever the package did to it, the caller's script file comes back.
    if (previousFile.get() != nullptr) {
        orx::CallQuietly(interp, kInfoScript, {previousFile.get()});
    }
    if (code == TCL_ERROR) {
        char line[64];
        std::snprintf(line, sizeof line, "%d", Tcl_GetErrorLine(interp));
        std::string context = "\n    (file \"" + fileName + "\" line " + line + ")";
        Tcl_AddErrorInfo(interp, context.c_str());
    }
    Tcl_Release(interp);
    return code == TCL_ERROR ? TCL_ERROR : TCL_OK;
}

// auto_load_pkg package
int AutoLoadPkgObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 2) {
        return OrxX_WrongArgs(interp, objv[0], "package");
    }
    return orx::Guard(interp, [&] {
        const char *package = Tcl_GetString(objv[1]);
        Tcl_Obj *value = Tcl_GetVar2Ex(interp, "auto_pkg_index", package, TCL_GLOBAL_ONLY);
        if (value == nullptr) {
            orx::AppendResult(interp, "entry not found in \"auto_pkg_index\" for package \"",
                              package, "\"");
            return orx::LookupCode(interp, "PACKAGE", package);
        }
        ObjRef hold(value);
        int count;
        Tcl_Obj **elements;
        int64_t offset;
        unsigned length;
        if (Tcl_ListObjGetElements(nullptr, value, &count, &elements) != TCL_OK || count != 3 ||
            OrxX_GetOffsetFromObj(nullptr, elements[1], &offset) != TCL_OK ||
            OrxX_GetUnsignedFromObj(nullptr, elements[2], &length) != TCL_OK) {
            Tcl_ResetResult(interp);
            orx::AppendResult(interp, "invalid entry in \"auto_pkg_index\" for package \"",
                              package, "\"");
            return orx::ValueCode(interp, "FORMAT", std::string("auto_pkg_index(") + package + ")");
        }
        std::string file = Tcl_GetString(elements[0]);
        return EvalRange(interp, file.c_str(), offset, length);
    });
}

// ---- Package splitter -------------------------------------------------------

// Process-wide, like the product's: one splitting pass at a time.
struct Splitter {
    ObjRef contents;
    size_t cursor = 0;
    size_t end = 0;
    ObjRef sourceFile;
};
Splitter splitter;

// Bytes compared, not text: lines may hold anything.
bool StartsWith(const char *line, size_t length, const char *prefix, size_t n)
{
    return length >= n && std::memcmp(line, prefix, n) == 0;
}

// End of the logical line starting at start: past its newline, taking in
// lines whose newline follows an odd run of backslashes.
size_t LogicalLineEnd(const char *text, size_t start, size_t end)
{
    size_t physical = start;
    for (;;) {
        const void *nl = std::memchr(text + physical, '\n', end - physical);
        if (nl == nullptr) {
            return end;
        }
        size_t at = static_cast<const char *>(nl) - text;
        size_t backslashes = 0;
        while (at - backslashes > physical && text[at - backslashes - 1] == '\\') {
            ++backslashes;
        }
        if (backslashes % 2 == 0) {
            return at + 1;
        }
        physical = at + 1;
    }
}

// A "#" line, not counting "#define" which C-like libraries use.
bool IsCommentLine(const char *line, size_t length)
{
    size_t i = 0;
    while (i < length && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' ||
                          line[i] == '\f' || line[i] == '\v')) {
        ++i;
    }
    return i < length && line[i] == '#' && !StartsWith(line + i, length - i, "#define", 7);
}

// OrxPackage:GetPackageInit contents
int GetPackageInitObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, " contents");
        return TCL_ERROR;
    }
    int length;
    Tcl_GetStringFromObj(objv[1], &length);
    splitter.contents = ObjRef(objv[1]);
    splitter.cursor = 0;
    splitter.end = static_cast<size_t>(length);
    splitter.sourceFile = ObjRef();
    return TCL_OK;
}

// The next #@package block of the splitter's text, as name, procs and files.
int GetPackage(Tcl_Interp *interp)
{
    int textLength = 0;
    const char *text = splitter.contents.get() != nullptr
                           ? Tcl_GetStringFromObj(splitter.contents.get(), &textLength)
                           : "";
    size_t end = std::min(splitter.end, static_cast<size_t>(textLength));
    bool open = false;
    bool fileTaken = false;
    ObjRef name, procs, files;
    std::string body;
    while (splitter.cursor < end) {
        size_t start = splitter.cursor;
        size_t stop = LogicalLineEnd(text, start, end);
        const char *line = text + start;
        size_t length = stop - start;
        if (StartsWith(line, length, "#@package:", 10)) {
            if (open) {
                break;
            }
            std::string copy(line, length);
            for (char &c : copy) {
                if (c == '\n' || c == '\\') {
                    c = ' ';
                }
            }
            ObjRef header(orx::NewStringObj(copy));
            int count;
            Tcl_Obj **elements;
            if (Tcl_ListObjGetElements(nullptr, header.get(), &count, &elements) != TCL_OK) {
                orx::SetError(interp, "Split of list failed for: ", copy);
                return orx::ValueCode(interp, "FORMAT");
            }
            if (count < 3) {
                orx::SetError(interp, "Wrong number of arguments in: ", copy);
                return orx::ValueCode(interp, "FORMAT");
            }
            name = ObjRef(elements[1]);
            procs = ObjRef(Tcl_NewListObj(count - 2, elements + 2));
            files = ObjRef(Tcl_NewListObj(0, nullptr));
            open = true;
        } else if (StartsWith(line, length, "#@packend", 9)) {
            if (open) {
                splitter.cursor = stop;
                break;
            }
        } else if (StartsWith(line, length, "#@filename: ", 12)) {
            const void *nl = std::memchr(line, '\n', length);
            size_t nameLength = nl != nullptr ? static_cast<const char *>(nl) - line : length;
            splitter.sourceFile =
                ObjRef(orx::NewStringObj(std::string_view(line + 12, nameLength - 12)));
            fileTaken = false;
        } else if (open && !IsCommentLine(line, length)) {
            body.append(line, length);
            if (!fileTaken && splitter.sourceFile.get() != nullptr) {
                Tcl_ListObjAppendElement(nullptr, files.get(), splitter.sourceFile.get());
                fileTaken = true;
            }
        }
        splitter.cursor = stop;
    }
    if (!open) {
        Tcl_SetObjResult(interp, Tcl_NewListObj(0, nullptr));
        return TCL_OK;
    }
    Tcl_Obj *parts[4] = {name.get(), procs.get(), orx::NewStringObj(body), files.get()};
    int fileCount = 0;
    Tcl_ListObjLength(nullptr, files.get(), &fileCount);
    Tcl_SetObjResult(interp, Tcl_NewListObj(fileCount > 0 ? 4 : 3, parts));
    return TCL_OK;
}

// OrxPackage:GetPackage
int GetPackageObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 1) {
        Tcl_WrongNumArgs(interp, 1, objv, "");
        return TCL_ERROR;
    }
    return orx::Guard(interp, [&] { return GetPackage(interp); });
}

// OrxPackage:GetPackageTerm ?anything?
int GetPackageTermObjCmd(ClientData, Tcl_Interp *, int, Tcl_Obj *const[])
{
    splitter.contents = ObjRef();
    splitter.sourceFile = ObjRef();
    splitter.cursor = 0;
    splitter.end = 0;
    return TCL_OK;
}

// OrxPackage:Puts fileName data: the string form byte for byte, so that the
// builder's offsets hold.
int PutsObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "fileName data");
        return TCL_ERROR;
    }
    const char *fileName = Tcl_GetString(objv[1]);
    Tcl_Channel channel = Tcl_OpenFileChannel(interp, fileName, "w", 0666);
    if (channel == nullptr) {
        return TCL_ERROR; // Tcl's "couldn't open ..." says why; nothing was written
    }
    int length;
    const char *data = Tcl_GetStringFromObj(objv[2], &length);
    bool written = Tcl_SetChannelOption(interp, channel, "-translation", "binary") == TCL_OK &&
                   Tcl_Write(channel, data, length) == length;
    int error = written ? 0 : Tcl_GetErrno();
    if (Tcl_Close(nullptr, channel) != TCL_OK && written) {
        written = false;
        error = Tcl_GetErrno();
    }
    if (!written) {
        Tcl_ResetResult(interp);
        return PosixMessage(interp, error, "error writing \"", fileName, "\": ");
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}

} // namespace

int OrxX_LibraryInit(Tcl_Interp *interp)
{
    if (Tcl_EvalEx(interp, "source [spath lib/orx/autoload.tcl MORVA_HOME r]", -1,
                   TCL_EVAL_GLOBAL) == TCL_ERROR) {
        return TCL_ERROR;
    }
    Tcl_CreateObjCommand(interp, "orxx_load_tndxs", LoadTndxsObjCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "auto_load_pkg", AutoLoadPkgObjCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "loadlibindex", LoadlibindexObjCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "OrxPackage:GetPackageInit", GetPackageInitObjCmd, nullptr,
                         nullptr);
    Tcl_CreateObjCommand(interp, "OrxPackage:GetPackage", GetPackageObjCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "OrxPackage:GetPackageTerm", GetPackageTermObjCmd, nullptr,
                         nullptr);
    Tcl_CreateObjCommand(interp, "OrxPackage:Puts", PutsObjCmd, nullptr, nullptr);
    Tcl_ResetResult(interp);
    return TCL_OK;
}
