// List commands: lvarcat, lvarpop, lvarpush and lassign change variables
// holding lists (a shared value is copied first, so no other holder sees the
// change); lempty, lmatch and lcontain query a list.
#include "orx_list.h"

#include <cstring>
#include <vector>

#include "orx_init.h"
#include "orx_util.h"
#include "extended/internal.h"

namespace {

// A NUL character, as a real zero byte or as Tcl's two-byte form of it.
bool HasNul(Tcl_Obj *obj)
{
    int size;
    const char *text = Tcl_GetStringFromObj(obj, &size);
    return std::memchr(text, '\0', size) != nullptr ||
           std::string_view(text, size).find("\xC0\x80") != std::string_view::npos;
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
    return orx::Guard(interp, [&] {
        int names = objc - 2;
        // Hold every value first: a variable trace may change the list's
        // type, and with it the element array.
        std::vector<ObjRef> values(elements, elements + (count < names ? count : names));
        ObjRef surplus(count > names ? Tcl_NewListObj(count - names, elements + names) : nullptr);
        for (int i = 0; i < names; ++i) {
            ObjRef value(i < count ? values[static_cast<size_t>(i)] : ObjRef(Tcl_NewObj()));
            if (Tcl_ObjSetVar2(interp, objv[i + 2], nullptr, value.get(), TCL_LEAVE_ERR_MSG) ==
                nullptr) {
                return TCL_ERROR;
            }
        }
        if (surplus.get() != nullptr) {
            Tcl_SetObjResult(interp, surplus.get());
        } else {
            Tcl_ResetResult(interp);
        }
        return TCL_OK;
    });
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
            return orx::SetError(interp, "bad search mode \"", modeOption,
                                 "\": must be -exact, -glob, or -regexp");
        }
    }
    Tcl_Obj *listObj = objv[objc - 2];
    Tcl_Obj *pattern = objv[objc - 1];
    if (mode != Mode::Exact && HasNul(pattern)) {
        return orx::SetError(interp, "The ", modeOption, " option does not support binary data");
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
    int patternSize;
    const char *patternText = Tcl_GetStringFromObj(pattern, &patternSize);
    return orx::Guard(interp, [&] {
        std::vector<Tcl_Obj *> matches;
        for (int i = 0; i < count; ++i) {
            int size;
            const char *text = Tcl_GetStringFromObj(elements[i], &size);
            bool match;
            if (mode == Mode::Exact) {
                match = size == patternSize &&
                        std::memcmp(text, patternText, static_cast<size_t>(size)) == 0;
            } else if (HasNul(elements[i])) {
                return orx::SetError(interp, "The ", modeOption,
                                     " option does not support binary data");
            } else if (mode == Mode::Glob) {
                match = Tcl_StringMatch(text, patternText) != 0;
            } else {
                int found = Tcl_RegExpExec(interp, regexp, text, text);
                if (found < 0) {
                    return TCL_ERROR;
                }
                match = found != 0;
            }
            if (match) {
                matches.push_back(elements[i]);
            }
        }
        Tcl_SetObjResult(interp, Tcl_NewListObj(static_cast<int>(matches.size()), matches.data()));
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
    const char *target = Tcl_GetStringFromObj(objv[2], &targetSize);
    bool found = false;
    for (int i = 0; i < count && !found; ++i) {
        int size;
        const char *text = Tcl_GetStringFromObj(elements[i], &size);
        found = size == targetSize && std::memcmp(text, target, static_cast<size_t>(size)) == 0;
    }
    Tcl_SetObjResult(interp, Tcl_NewBooleanObj(found));
    return TCL_OK;
}

} // namespace

int OrxXListInit(Tcl_Interp *interp)
{
    struct {
        const char *name;
        Tcl_ObjCmdProc *proc;
        int flags;
    } const commands[] = {
        {"lvarcat", LvarcatObjCmd, 0},
        {"lvarpop", LvarpopObjCmd, 0},
        {"lvarpush", LvarpushObjCmd, 0},
        {"lempty", LemptyObjCmd, 0},
        // Tcl 8.6 has a compiled lassign of its own; ours takes the name over.
        {"lassign", LassignObjCmd, ORXX_CMD_REPLACE},
        {"lmatch", LmatchObjCmd, 0},
        {"lcontain", LcontainObjCmd, 0},
    };
    for (const auto &cmd : commands) {
        OrxX_CreateObjCommand(interp, cmd.name, cmd.proc, nullptr, nullptr, cmd.flags);
    }
    return TCL_OK;
}
