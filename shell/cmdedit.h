// Line editing for the command loops: the process's editor on the terminal,
// prompts captured as its prompt, the history kept in the per-user
// directory, and Tab completion of commands, variables and file names.
// Internal to the shell.
#ifndef ORX_SHELL_CMDEDIT_H
#define ORX_SHELL_CMDEDIT_H

#include <tcl.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/orxplat.h"

namespace orx::cmdedit {

// The editor the loops of interp read through, or null when editing does
// not apply (not a terminal, ORX_NO_EDIT, libedit unavailable).  Made on
// first use, with the history of earlier sessions.
OrxPlat_LineEditor *EditorFor(Tcl_Interp *interp);

// What an interrupt during editing does (run the signals; true drops the
// line).  Returns the previous action, for the caller to put back.
std::function<bool()> SetInterrupted(std::function<bool()> interrupted);

// A command the user entered: into the editor's history and the file.
void Remember(const std::string &command);

// The history file: "<per-user directory>/history" (empty when there is
// no home directory).
std::string HistoryPath();

// Completion candidates for the word that ends before (the text of the
// command up to the cursor, earlier lines of the command included); each
// replaces the last *stem bytes.  Runs no script, trace or command of the
// user; any failure gives no candidates.
std::vector<std::string> Complete(Tcl_Interp *interp, const std::string &before, size_t *stem);

// Run body (the loops' prompt output) with what it writes to standard
// output collected: text up to the last newline goes on to standard output,
// the rest is returned, to be the editor's prompt.
std::string CapturePrompt(Tcl_Interp *interp, const std::function<void()> &body);

} // namespace orx::cmdedit

#endif
