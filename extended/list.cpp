// List commands: lvarcat, lvarpop, lvarpush and lassign change variables
// holding lists (a shared value is copied first, so no other holder sees the
// change); lempty, lmatch and lcontain query a list.
#include "orx_list.h"

#include <cstring>
#include <vector>

#include "orx_util.h"
#include "base/internal.h"

namespace {

// An element's text; inline for the loops over long lists, where a library
// call per element is a good part of the cost.
inline const char *TextOf(Tcl_Obj *obj, int *sizePtr)
{
    if (obj->bytes != nullptr) {
        *sizePtr = obj->length;
        return obj->bytes;
    }
    return Tcl_GetStringFromObj(obj, sizePtr);
}

// The element count of the list in a variable after an index expression ran:
// the expression may have run a script that changed or unset the variable, so
// its value is read again.  Null (with Tcl's message) when it cannot be read.
Tcl_Obj *ReadListVar(Tcl_Interp *interp, Tcl_Obj *varName, int flags, int *lengthPtr)
{
    Tcl_Obj *list = Tcl_ObjGetVar2(interp, varName, nullptr, flags);
    if (list == nullptr) {
        *lengthPtr = 0;
        return nullptr;
    }
    if (Tcl_ListObjLength(interp, list, lengthPtr) != TCL_OK) {
        *lengthPtr = -1;
        return nullptr;
    }
    return list;
}

// lvarcat var string ?string...?
int LvarcatObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 3) {
        return OrxX_WrongArgs(interp, objv[0], "var string ?string...?");
    }
    return orx::Guard(interp, [&] {
        constexpr int kStackOperands = 32;
        Tcl_Obj *stackOperands[kStackOperands];
        std::vector<Tcl_Obj *> heapOperands;
        Tcl_Obj **operands = stackOperands;
        if (objc > kStackOperands) {
            heapOperands.resize(static_cast<size_t>(objc));
            operands = heapOperands.data();
        }
        int count = 0;
        Tcl_Obj *current = Tcl_ObjGetVar2(interp, objv[1], nullptr, 0);
        if (current != nullptr) {
            operands[count++] = current;
        }
        for (int i = 2; i < objc; ++i) {
            operands[count++] = objv[i];
        }
        ObjRef joined(Tcl_ConcatObj(count, operands));
        Tcl_Obj *stored =
            Tcl_ObjSetVar2(interp, objv[1], nullptr, joined.get(), TCL_LEAVE_ERR_MSG);
        if (stored == nullptr) {
            return TCL_ERROR;
        }
        Tcl_SetObjResult(interp, stored);
        return TCL_OK;
    });
}

// lvarpop var ?indexExpr? ?string?
int LvarpopObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 2 || objc > 4) {
        return OrxX_WrongArgs(interp, objv[0], "var ?indexExpr? ?string?");
    }
    int length;
    Tcl_Obj *list = ReadListVar(interp, objv[1], TCL_LEAVE_ERR_MSG, &length);
    if (list == nullptr) {
        return TCL_ERROR;
    }
    long index = 0;
    if (objc > 2) {
        if (OrxX_RelativeExpr(interp, objv[2], length, &index) != TCL_OK) {
            return TCL_ERROR;
        }
        list = ReadListVar(interp, objv[1], TCL_LEAVE_ERR_MSG, &length);
        if (list == nullptr) {
            return TCL_ERROR;
        }
    }
    if (index < 0 || index >= length) {
        Tcl_ResetResult(interp);
        return TCL_OK;
    }
    if (Tcl_IsShared(list)) {
        list = Tcl_DuplicateObj(list);
    }
    Tcl_Obj *element;
    Tcl_ListObjIndex(nullptr, list, static_cast<int>(index), &element);
    ObjRef taken(element);
    Tcl_ListObjReplace(nullptr, list, static_cast<int>(index), 1, objc == 4 ? 1 : 0,
                       objc == 4 ? &objv[3] : nullptr);
    ObjRef changed(list);
    if (Tcl_ObjSetVar2(interp, objv[1], nullptr, list, TCL_LEAVE_ERR_MSG) == nullptr) {
        return TCL_ERROR;
    }
    Tcl_SetObjResult(interp, taken.get());
    return TCL_OK;
}

// lvarpush var string ?indexExpr?
int LvarpushObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 3 && objc != 4) {
        return OrxX_WrongArgs(interp, objv[0], "var string ?indexExpr?");
    }
    // An unset variable starts as an empty list.
    int length;
    Tcl_Obj *list = ReadListVar(interp, objv[1], 0, &length);
    if (length < 0) {
        return TCL_ERROR;
    }
    long position = 0;
    if (objc == 4) {
        if (OrxX_RelativeExpr(interp, objv[3], length, &position) != TCL_OK) {
            return TCL_ERROR;
        }
        list = ReadListVar(interp, objv[1], 0, &length);
        if (length < 0) {
            return TCL_ERROR;
        }
        position = position < 0 ? 0 : position > length ? length : position;
    }
    if (list == nullptr) {
        list = Tcl_NewObj();
    } else if (Tcl_IsShared(list)) {
        list = Tcl_DuplicateObj(list);
    }
    Tcl_ListObjReplace(nullptr, list, static_cast<int>(position), 0, 1, &objv[2]);
    ObjRef changed(list);
    if (Tcl_ObjSetVar2(interp, objv[1], nullptr, list, TCL_LEAVE_ERR_MSG) == nullptr) {
        return TCL_ERROR;
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// lempty list
int LemptyObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 2) {
        return OrxX_WrongArgs(interp, objv[0], "list");
    }
    static const Tcl_ObjType *listType = Tcl_GetObjType("list");
    Tcl_Obj *obj = objv[1];
    bool empty;
    if (obj->typePtr == listType && listType != nullptr) {
        int length;
        Tcl_ListObjLength(nullptr, obj, &length);
        empty = length == 0;
    } else {
        // Any character other than list white space starts an element or
        // makes the text malformed: either way not an empty list.  Read
        // this way, the value keeps its type.
        int size;
        const char *text = Tcl_GetStringFromObj(obj, &size);
        empty = true;
        for (int i = 0; i < size && empty; ++i) {
            empty = std::strchr(" \t\n\r\v\f", text[i]) != nullptr && text[i] != '\0';
        }
    }
    Tcl_SetObjResult(interp, Tcl_NewBooleanObj(empty));
    return TCL_OK;
}

// lassign list varname ?varname..?
int LassignObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 3) {
        return OrxX_WrongArgs(interp, objv[0], "list varname ?varname..?");
    }
    int count;
    Tcl_Obj **elements;
    if (Tcl_ListObjGetElements(interp, objv[1], &count, &elements) != TCL_OK) {
        return TCL_ERROR;
    }
    int names = objc - 2;
    // A private copy holds every element: a variable trace may change the
    // list's type and free its element array.  What is left of the copy
    // afterwards is the surplus.
    int assigned = count < names ? count : names;
    ObjRef held(Tcl_NewListObj(count, elements));
    Tcl_ListObjGetElements(nullptr, held.get(), &count, &elements);
    for (int i = 0; i < names; ++i) {
        ObjRef value(i < assigned ? elements[i] : Tcl_NewObj());
        if (Tcl_ObjSetVar2(interp, objv[i + 2], nullptr, value.get(), TCL_LEAVE_ERR_MSG) ==
            nullptr) {
            return TCL_ERROR;
        }
    }
    if (count > names) {
        Tcl_ListObjReplace(nullptr, held.get(), 0, names, 0, nullptr);
        Tcl_SetObjResult(interp, held.get());
    } else {
        Tcl_ResetResult(interp);
    }
    return TCL_OK;
}

enum class Mode { Exact, Glob, Regexp };

// lmatch ?mode? list pattern
int LmatchObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 3 && objc != 4) {
        return OrxX_WrongArgs(interp, objv[0], "?mode? list pattern");
    }
    Mode mode = Mode::Glob;
    const char *modeOption = "-glob";
    if (objc == 4) {
        modeOption = Tcl_GetString(objv[1]);
        if (std::strcmp(modeOption, "-exact") == 0) {
            mode = Mode::Exact;
        } else if (std::strcmp(modeOption, "-glob") == 0) {
            mode = Mode::Glob;
        } else if (std::strcmp(modeOption, "-regexp") == 0) {
            mode = Mode::Regexp;
        } else {
            orx::SetError(interp, "bad search mode \"", modeOption,
                          "\": must be -exact, -glob, or -regexp");
            return orx::ValueCode(interp, "OPTION", modeOption);
        }
    }
    Tcl_Obj *listObj = objv[objc - 2];
    Tcl_Obj *pattern = objv[objc - 1];
    int patternSize;
    const char *patternText = TextOf(pattern, &patternSize);
    bool binaryPattern = orx::HasNulChar({patternText, static_cast<size_t>(patternSize)});
    if (mode != Mode::Exact && binaryPattern) {
        orx::SetError(interp, "The ", modeOption, " option does not support binary data");
        return orx::ValueCode(interp, "TEXT");
    }
    // Compiled before the list is split: the pattern may be the list itself,
    // and compiling it changes its type.
    Tcl_RegExp regexp = nullptr;
    if (mode == Mode::Regexp) {
        regexp = Tcl_GetRegExpFromObj(interp, pattern, TCL_REG_ADVANCED);
        if (regexp == nullptr) {
            return TCL_ERROR;
        }
    }
    int count;
    Tcl_Obj **elements;
    if (Tcl_ListObjGetElements(interp, listObj, &count, &elements) != TCL_OK) {
        return TCL_ERROR;
    }
    // Compiling may have changed the pattern's type, not its text.
    patternText = TextOf(pattern, &patternSize);
    return orx::Guard(interp, [&] {
        // Matches are collected on the stack while they fit.
        constexpr int kStackMatches = 32;
        Tcl_Obj *stackMatches[kStackMatches];
        std::vector<Tcl_Obj *> heapMatches;
        int found = 0;
        for (int i = 0; i < count; ++i) {
            int size;
            const char *text = TextOf(elements[i], &size);
            bool match;
            if (mode == Mode::Exact) {
                match = size == patternSize &&
                        std::memcmp(text, patternText, static_cast<size_t>(size)) == 0;
            } else if (orx::HasNulChar({text, static_cast<size_t>(size)})) {
                orx::SetError(interp, "The ", modeOption, " option does not support binary data");
                return orx::ValueCode(interp, "TEXT");
            } else if (mode == Mode::Glob) {
                match = Tcl_StringCaseMatch(text, patternText, 0) != 0;
            } else {
                // Matching an object keeps its characters for the next time;
                // the pattern object itself (as an element) would lose the
                // compiled expression that way, so it is matched as text.
                int status = elements[i] == pattern
                                 ? Tcl_RegExpExec(interp, regexp, text, text)
                                 : Tcl_RegExpExecObj(interp, regexp, elements[i], 0, 0, 0);
                if (status < 0) {
                    return TCL_ERROR;
                }
                match = status != 0;
            }
            if (!match) {
                continue;
            }
            if (found < kStackMatches) {
                stackMatches[found] = elements[i];
            } else {
                if (found == kStackMatches) {
                    heapMatches.assign(stackMatches, stackMatches + kStackMatches);
                }
                heapMatches.push_back(elements[i]);
            }
            ++found;
        }
        Tcl_SetObjResult(interp,
                         Tcl_NewListObj(found, found > kStackMatches ? heapMatches.data()
                                                                     : stackMatches));
        return TCL_OK;
    });
}

// lcontain list element
int LcontainObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 3) {
        return OrxX_WrongArgs(interp, objv[0], "list element");
    }
    int count;
    Tcl_Obj **elements;
    if (Tcl_ListObjGetElements(interp, objv[1], &count, &elements) != TCL_OK) {
        return TCL_ERROR;
    }
    int targetSize;
    const char *target = TextOf(objv[2], &targetSize);
    bool found = false;
    for (int i = 0; i < count && !found; ++i) {
        int size;
        const char *text = TextOf(elements[i], &size);
        found = size == targetSize && std::memcmp(text, target, static_cast<size_t>(size)) == 0;
    }
    Tcl_SetObjResult(interp, Tcl_NewBooleanObj(found));
    return TCL_OK;
}

} // namespace

int OrxXListInit(Tcl_Interp *interp)
{
    // Tcl 8.6 has a compiled lassign of its own; creating ours replaces it
    // (and drops its compiler, so procedures compiled later call ours).
    struct {
        const char *name;
        Tcl_ObjCmdProc *proc;
    } const commands[] = {
        {"lvarcat", LvarcatObjCmd}, {"lvarpop", LvarpopObjCmd}, {"lvarpush", LvarpushObjCmd},
        {"lempty", LemptyObjCmd},   {"lassign", LassignObjCmd}, {"lmatch", LmatchObjCmd},
        {"lcontain", LcontainObjCmd},
    };
    for (const auto &cmd : commands) {
        Tcl_CreateObjCommand(interp, cmd.name, cmd.proc, nullptr, nullptr);
    }
    return TCL_OK;
}
