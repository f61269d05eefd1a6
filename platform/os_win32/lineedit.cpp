// Line editing on Windows is the console's own: its line input (what Tcl's
// console channel reads with ReadConsoleW) edits the line, recalls earlier
// ones with the arrow keys and F7, and gives way to Ctrl-C.  So no editor of
// ours runs here (Open gives none and the loops read standard input as it
// is); the history file is kept all the same (platform/history.cpp).
#include "platform/orxplat.h"



bool OrxPlat_EditingWanted()
{
    return false;
}

std::unique_ptr<OrxPlat_LineEditor> OrxPlat_LineEditor::Open(const char *, OrxPlat_EditHooks)
{
    return nullptr;
}
