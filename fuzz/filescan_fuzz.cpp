// Fuzzes scanfile: the first lines of the input are regular expressions (the
// first with -nocase), the rest the text scanned.  Every match must describe
// itself consistently in matchInfo: each submatch is the text its subindex
// range names in the line, or empty with -1 -1.
#include <tcl.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "orx_filescan.h"

namespace {

const char kCheck[] = R"(
proc scanCheck {} {
    upvar 1 matchInfo m
    foreach k [array names m subindex*] {
        set n [string range $k 8 end]
        lassign $m($k) s e
        if {$s == -1} {
            if {$e != -1 || $m(submatch$n) ne ""} {error "FUZZ unset submatch $n"}
        } elseif {$s < 0 || $e < $s - 1 || $e >= [string length $m(line)]
                  || [string range $m(line) $s $e] ne $m(submatch$n)} {
            error "FUZZ submatch $n of \"$m(line)\": $s $e \"$m(submatch$n)\""
        }
    }
    incr ::matches
}
proc scanRun {path patterns copyPath} {
    set c [scancontext create]
    set nocase -nocase
    foreach p $patterns {
        catch {scanmatch {*}$nocase $c $p scanCheck}
        set nocase {}
    }
    scanmatch $c {incr ::defaults}
    set f [open $path]
    fconfigure $f -translation binary
    set out [open $copyPath w]
    set code [catch {scanfile -copyfile $out $c $f} msg]
    close $f
    close $out
    scancontext delete $c
    if {$code && [string match FUZZ* $msg]} {error $msg}
    if {$code && $msg ne "no patterns in current scan context"} {error "FUZZ scanfile: $msg"}
}
)";

Tcl_Interp *TheInterp()
{
    static Tcl_Interp *interp = [] {
        Tcl_FindExecutable(nullptr);
        Tcl_Interp *i = Tcl_CreateInterp();
        OrxXFilescanInit(i);
        if (Tcl_Eval(i, kCheck) != TCL_OK) {
            std::abort();
        }
        return i;
    }();
    return interp;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Tcl_Interp *interp = TheInterp();
    std::string input(reinterpret_cast<const char *>(data), size);
    Tcl_Obj *patterns = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(patterns);
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        size_t nl = input.find('\n', start);
        if (nl == std::string::npos) {
            break;
        }
        std::string pattern = input.substr(start, nl - start);
        Tcl_ListObjAppendElement(nullptr, patterns,
                                 Tcl_NewStringObj(pattern.data(), static_cast<int>(pattern.size())));
        start = nl + 1;
    }
    static const std::string base = "/tmp/filescan_fuzz_" + std::to_string(getpid());
    std::FILE *file = std::fopen((base + ".txt").c_str(), "wb");
    if (file == nullptr) {
        Tcl_DecrRefCount(patterns);
        return 0;
    }
    std::fwrite(input.data() + start, 1, input.size() - start, file);
    std::fclose(file);
    Tcl_Obj *script = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(script);
    Tcl_ListObjAppendElement(nullptr, script, Tcl_NewStringObj("scanRun", -1));
    Tcl_ListObjAppendElement(nullptr, script, Tcl_NewStringObj((base + ".txt").c_str(), -1));
    Tcl_ListObjAppendElement(nullptr, script, patterns);
    Tcl_ListObjAppendElement(nullptr, script, Tcl_NewStringObj((base + ".copy").c_str(), -1));
    if (Tcl_EvalObjEx(interp, script, 0) != TCL_OK) {
        std::fprintf(stderr, "filescan fuzz: %s\n", Tcl_GetStringResult(interp));
        std::abort();
    }
    Tcl_DecrRefCount(script);
    Tcl_DecrRefCount(patterns);
    Tcl_ResetResult(interp);
    return 0;
}
