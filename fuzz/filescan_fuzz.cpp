// Fuzzes scanfile: the first lines of the input are regular expressions (the
// first with -nocase), the rest the text scanned.  Every match must describe
// itself consistently in matchInfo: each submatch is the text its subindex
// range names in the line, or empty with -1 -1.  Match commands also seek,
// read and close the scanned channel, and each offset must stay true.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_script.h"
#include "orx_filescan.h"

namespace {

const char kCheck[] = R"(
proc scanCheck {} {
    upvar 1 matchInfo m
    # An earlier command of the line may have unset matchInfo.
    if {![info exists m(line)]} {
        incr ::matches
        return
    }
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
# Lines with "@" act on the scanned channel from the match command; the
# offset of every such line must still be where a fresh read finds it.
proc scanAct {} {
    upvar 1 matchInfo m
    seek $::scanG $m(offset)
    if {[gets $::scanG again] < 0 || $again ne $m(line)} {
        error "FUZZ offset $m(offset) of \"$m(line)\" reads \"$again\""
    }
    set line $m(line)
    if {[regexp {@seek (\d+)} $line -> to] && [incr ::seeks] < 20} {catch {seek $::scanF $to}}
    if {[string match *@gets* $line]} {catch {gets $::scanF}}
    if {[string match *@unset* $line]} {unset m}
    if {[string match *@close* $line]} {close $::scanF}
}
proc scanRun {path patterns copyPath} {
    set c [scancontext create]
    scanmatch $c @ scanAct
    set ::seeks 0
    set ::scanG [open $path]
    fconfigure $::scanG -translation binary
    set nocase -nocase
    foreach p $patterns {
        catch {scanmatch {*}$nocase $c $p scanCheck}
        set nocase {}
    }
    scanmatch $c {incr ::defaults}
    set f [set ::scanF [open $path]]
    fconfigure $f -translation binary
    set out [open $copyPath w]
    set code [catch {scanfile -copyfile $out $c $f} msg]
    catch {close $f}
    close $::scanG
    close $out
    scancontext delete $c
    if {$code && [string match FUZZ* $msg]} {error $msg}
    if {$code && $msg ne "no patterns in current scan context"} {error "FUZZ scanfile: $msg"}
}
)";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Tcl_Interp *interp = FuzzInterp(OrxXFilescanInit, kCheck);
    std::string input(reinterpret_cast<const char *>(data), size);
    Tcl_Obj *patterns = Tcl_NewListObj(0, nullptr);
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        size_t nl = input.find('\n', start);
        if (nl == std::string::npos) {
            break;
        }
        Tcl_ListObjAppendElement(nullptr, patterns,
                                 Tcl_NewStringObj(input.data() + start, static_cast<int>(nl - start)));
        start = nl + 1;
    }
    std::string path = FuzzFile("filescan_fuzz", input.data() + start, input.size() - start);
    if (path.empty()) {
        Tcl_IncrRefCount(patterns);
        Tcl_DecrRefCount(patterns);
        return 0;
    }
    Tcl_Obj *command = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(nullptr, command, Tcl_NewStringObj("scanRun", -1));
    Tcl_ListObjAppendElement(nullptr, command, Tcl_NewStringObj(path.c_str(), -1));
    Tcl_ListObjAppendElement(nullptr, command, patterns);
    Tcl_ListObjAppendElement(nullptr, command, Tcl_NewStringObj((path + ".copy").c_str(), -1));
    FuzzCheck(interp, command, "filescan");
    return 0;
}
