// Keyed lists: the object types "keyedList" and "genericKeyedList", their
// exported C interface and the commands keylget, keylset, keyldel, keylkeys
// (and the g-prefixed twins, which treat keys as opaque strings).
// A keyed list is an ordered entry array plus a string hash table of
// key -> position; copies start without the table and scan until it is rebuilt.
#include "orx_keylist.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "orx_util.h"

#include "base/internal.h"
#include "platform/tclint/tclint.h"

namespace {

// ---------------------------------------------------------------- helpers

// The C interface allows a null interpreter: the message then goes nowhere.
template <typename... Parts>
void AppendMsg(Tcl_Interp *interp, const Parts &...parts)
{
    if (interp != nullptr) {
        orx::AppendResult(interp, parts...);
    }
}

const char kBinaryKeyMsg[] = "keyed list key may not be a binary string";
const char kEmptyKeyMsg[] = "keyed list key may not be an empty string";
const char kDotKeyMsg[] =
    "keyed list key may not contain a \".\"; it is used as a separator in key paths";
const char kSharedMsg[] = "cannot modify a shared keyed list";

// Past this many entries a lookup missing from an incomplete index rebuilds
// the index rather than scanning again and again.
constexpr int kScanLimit = 16;
// Lists built from the entries keep up to this many elements on the stack.
constexpr int kStackPairs = 32;

// ------------------------------------------------------ representation

struct KeylEntry {
    char *key;
    int keySize;
    Tcl_Obj *value;  // one reference held
    Tcl_Obj *keyObj; // the key as an object, made when first needed; one reference
};

struct KeylIntRep {
    int arraySize;
    int numEntries;
    KeylEntry *entries;
    Tcl_HashTable *keyIndex; // may be null, may lack keys
    bool indexComplete;      // keyIndex holds every key: a miss is final
    uint64_t id;             // never reused: key arguments remember where they were found
};

std::atomic<uint64_t> nextRepId{1};

void FreeKeyedListIntRep(Tcl_Obj *objPtr);
void DupKeyedListIntRep(Tcl_Obj *srcPtr, Tcl_Obj *copyPtr);
void UpdateKeyedListString(Tcl_Obj *objPtr);
int SetKeyedListFromAny(Tcl_Interp *interp, Tcl_Obj *objPtr);
int SetGenericKeyedListFromAny(Tcl_Interp *interp, Tcl_Obj *objPtr);

Tcl_ObjType keyedListType = {
    "keyedList", FreeKeyedListIntRep, DupKeyedListIntRep,
    UpdateKeyedListString, SetKeyedListFromAny};

Tcl_ObjType genericKeyedListType = {
    "genericKeyedList", FreeKeyedListIntRep, DupKeyedListIntRep,
    UpdateKeyedListString, SetGenericKeyedListFromAny};

inline Tcl_ObjType *TypeOf(bool isGeneric)
{
    return isGeneric ? &genericKeyedListType : &keyedListType;
}

inline KeylIntRep *RepOf(Tcl_Obj *objPtr)
{
    return static_cast<KeylIntRep *>(objPtr->internalRep.twoPtrValue.ptr1);
}

inline bool IsKeyedListType(const Tcl_ObjType *typePtr)
{
    return typePtr == &keyedListType || typePtr == &genericKeyedListType;
}

KeylIntRep *NewRep()
{
    auto *rep = reinterpret_cast<KeylIntRep *>(ckalloc(sizeof(KeylIntRep)));
    rep->arraySize = 0;
    rep->numEntries = 0;
    rep->entries = nullptr;
    rep->keyIndex = nullptr;
    rep->indexComplete = false;
    rep->id = nextRepId.fetch_add(1, std::memory_order_relaxed);
    return rep;
}

void FreeEntry(KeylEntry &e)
{
    ckfree(e.key);
    Tcl_DecrRefCount(e.value);
    if (e.keyObj != nullptr) {
        Tcl_DecrRefCount(e.keyObj);
    }
}

// Key objects are shared by the string builder and the key lists handed out.
Tcl_Obj *KeyObjOf(KeylEntry &e)
{
    if (e.keyObj == nullptr) {
        e.keyObj = Tcl_NewStringObj(e.key, e.keySize);
        Tcl_IncrRefCount(e.keyObj);
    }
    return e.keyObj;
}

void FreeRep(KeylIntRep *rep)
{
    for (int i = 0; i < rep->numEntries; i++) {
        FreeEntry(rep->entries[i]);
    }
    if (rep->entries != nullptr) {
        ckfree(reinterpret_cast<char *>(rep->entries));
    }
    if (rep->keyIndex != nullptr) {
        Tcl_DeleteHashTable(rep->keyIndex);
        ckfree(reinterpret_cast<char *>(rep->keyIndex));
    }
    ckfree(reinterpret_cast<char *>(rep));
}

void EnsureRoom(KeylIntRep *rep, int needed)
{
    if (rep->numEntries + needed <= rep->arraySize) {
        return;
    }
    int newSize = rep->arraySize + needed + 16;
    size_t bytes = sizeof(KeylEntry) * static_cast<size_t>(newSize);
    if (rep->entries == nullptr) {
        rep->entries = reinterpret_cast<KeylEntry *>(ckalloc(bytes));
    } else {
        rep->entries =
            reinterpret_cast<KeylEntry *>(ckrealloc(reinterpret_cast<char *>(rep->entries), bytes));
    }
    rep->arraySize = newSize;
}

char *CopyKey(const char *key, int keySize)
{
    char *copy = static_cast<char *>(ckalloc(keySize + 1));
    std::memcpy(copy, key, keySize);
    copy[keySize] = '\0';
    return copy;
}

void CreateIndex(KeylIntRep *rep)
{
    rep->keyIndex = reinterpret_cast<Tcl_HashTable *>(ckalloc(sizeof(Tcl_HashTable)));
    Tcl_InitHashTable(rep->keyIndex, TCL_STRING_KEYS);
    rep->indexComplete = rep->numEntries == 0;
}

inline void SetIndexPos(Tcl_HashEntry *h, int pos)
{
    Tcl_SetHashValue(h, reinterpret_cast<ClientData>(static_cast<intptr_t>(pos)));
}

inline int IndexPos(Tcl_HashEntry *h)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(Tcl_GetHashValue(h)));
}

inline void IndexPut(KeylIntRep *rep, const char *key, int pos)
{
    int isNew;
    SetIndexPos(Tcl_CreateHashEntry(rep->keyIndex, key, &isNew), pos);
}

// Fill the index with every key (keys are unique, so positions do not clash).
void CompleteIndex(KeylIntRep *rep)
{
    if (rep->keyIndex == nullptr) {
        CreateIndex(rep);
    }
    for (int i = 0; i < rep->numEntries; i++) {
        IndexPut(rep, rep->entries[i].key, i);
    }
    rep->indexComplete = true;
}

// A key component as a terminated string for the hash table, without copying
// when it already ends the key path.
class KeyText {
public:
    KeyText(const char *text, int len)
    {
        if (text[len] == '\0') {
            str_ = text;
        } else {
            Tcl_DStringInit(&ds_);
            used_ = true;
            str_ = Tcl_DStringAppend(&ds_, text, len);
        }
    }
    KeyText(const KeyText &) = delete;
    KeyText &operator=(const KeyText &) = delete;
    ~KeyText()
    {
        if (used_) {
            Tcl_DStringFree(&ds_);
        }
    }
    const char *str() const { return str_; }

private:
    const char *str_;
    Tcl_DString ds_;
    bool used_ = false;
};

inline bool SameBytes(const char *a, const char *b, int len)
{
    // Keys are short: a plain loop beats a call.
    for (int i = 0; i < len; i++) {
        if (a[i] != b[i]) {
            return false;
        }
    }
    return true;
}

// Position of the entry named by one key component, or -1.
int FindEntry(KeylIntRep *rep, const char *comp, int compLen)
{
    if (rep->keyIndex == nullptr && rep->numEntries > kScanLimit) {
        CompleteIndex(rep);
    }
    if (rep->keyIndex != nullptr) {
        KeyText text(comp, compLen);
        Tcl_HashEntry *h = Tcl_FindHashEntry(rep->keyIndex, text.str());
        if (h != nullptr) {
            return IndexPos(h);
        }
        if (rep->indexComplete) {
            return -1;
        }
        if (rep->numEntries > kScanLimit) {
            CompleteIndex(rep);
            h = Tcl_FindHashEntry(rep->keyIndex, text.str());
            return h != nullptr ? IndexPos(h) : -1;
        }
    }
    for (int i = 0; i < rep->numEntries; i++) {
        const KeylEntry &e = rep->entries[i];
        if (e.keySize == compLen && SameBytes(e.key, comp, compLen)) {
            return i;
        }
    }
    return -1;
}

// Appends a new entry (the key must be absent); takes over one reference to value.
void AppendEntry(KeylIntRep *rep, const char *key, int keySize, Tcl_Obj *value)
{
    // Small lists built entry by entry go without an index: a scan is as
    // quick, and deleting and adding keys costs no hashing.
    if (rep->keyIndex == nullptr && rep->numEntries >= kScanLimit) {
        CompleteIndex(rep);
    }
    EnsureRoom(rep, 1);
    int pos = rep->numEntries++;
    KeylEntry &e = rep->entries[pos];
    e.key = CopyKey(key, keySize);
    e.keySize = keySize;
    e.value = value;
    e.keyObj = nullptr;
    if (rep->keyIndex != nullptr) {
        IndexPut(rep, e.key, pos);
    }
}

void RemoveEntry(KeylIntRep *rep, int pos)
{
    KeylEntry &e = rep->entries[pos];
    if (rep->keyIndex != nullptr) {
        Tcl_HashEntry *h = Tcl_FindHashEntry(rep->keyIndex, e.key);
        if (h != nullptr) {
            Tcl_DeleteHashEntry(h);
        }
        if (pos < rep->numEntries - 1) {
            Tcl_HashSearch search;
            for (h = Tcl_FirstHashEntry(rep->keyIndex, &search); h != nullptr;
                 h = Tcl_NextHashEntry(&search)) {
                int p = IndexPos(h);
                if (p > pos) {
                    SetIndexPos(h, p - 1);
                }
            }
        }
    }
    FreeEntry(e);
    std::memmove(rep->entries + pos, rep->entries + pos + 1,
                 sizeof(KeylEntry) * static_cast<size_t>(rep->numEntries - pos - 1));
    rep->numEntries--;
}

// Replaces an entry's value by an unshared copy when others hold it, so that
// a nested change does not show through them.
Tcl_Obj *UnshareValue(KeylEntry &e)
{
    if (Tcl_IsShared(e.value)) {
        Tcl_Obj *copy = Tcl_DuplicateObj(e.value);
        Tcl_IncrRefCount(copy);
        Tcl_DecrRefCount(e.value);
        e.value = copy;
    }
    return e.value;
}

// --------------------------------------------------------- object type

void FreeKeyedListIntRep(Tcl_Obj *objPtr)
{
    FreeRep(RepOf(objPtr));
    objPtr->internalRep.twoPtrValue.ptr1 = nullptr;
    objPtr->typePtr = nullptr;
}

// Values are shared with the source: every change unshares before it writes.
KeylIntRep *CopyRep(const KeylIntRep *src)
{
    KeylIntRep *copy = NewRep();
    if (src->arraySize > 0) {
        copy->entries = reinterpret_cast<KeylEntry *>(
            ckalloc(sizeof(KeylEntry) * static_cast<size_t>(src->arraySize)));
        copy->arraySize = src->arraySize;
    }
    for (int i = 0; i < src->numEntries; i++) {
        const KeylEntry &s = src->entries[i];
        KeylEntry &d = copy->entries[i];
        d.key = CopyKey(s.key, s.keySize);
        d.keySize = s.keySize;
        d.value = s.value;
        Tcl_IncrRefCount(d.value);
        d.keyObj = s.keyObj;
        if (d.keyObj != nullptr) {
            Tcl_IncrRefCount(d.keyObj);
        }
    }
    copy->numEntries = src->numEntries;
    return copy;
}

void DupKeyedListIntRep(Tcl_Obj *srcPtr, Tcl_Obj *copyPtr)
{
    copyPtr->internalRep.twoPtrValue.ptr1 = CopyRep(RepOf(srcPtr));
    copyPtr->internalRep.twoPtrValue.ptr2 = nullptr;
    copyPtr->typePtr = srcPtr->typePtr;
}

// A new list with one element per entry, in entry order.
template <class ElementOf>
Tcl_Obj *NewEntryList(KeylIntRep *rep, ElementOf elementOf)
{
    Tcl_Obj *stackElements[kStackPairs] = {};
    Tcl_Obj **elements = stackElements;
    if (rep->numEntries > kStackPairs) {
        elements = reinterpret_cast<Tcl_Obj **>(
            ckalloc(sizeof(Tcl_Obj *) * static_cast<size_t>(rep->numEntries)));
    }
    for (int i = 0; i < rep->numEntries; i++) {
        elements[i] = elementOf(rep->entries[i]);
    }
    Tcl_Obj *list = Tcl_NewListObj(rep->numEntries, elements);
    if (elements != stackElements) {
        ckfree(reinterpret_cast<char *>(elements));
    }
    return list;
}

void UpdateKeyedListString(Tcl_Obj *objPtr)
{
    Tcl_Obj *list = NewEntryList(RepOf(objPtr), [](KeylEntry &e) {
        Tcl_Obj *kv[2] = {KeyObjOf(e), e.value};
        return Tcl_NewListObj(2, kv);
    });
    Tcl_IncrRefCount(list);
    int len;
    const char *str = Tcl_GetStringFromObj(list, &len);
    objPtr->bytes = static_cast<char *>(ckalloc(len + 1));
    std::memcpy(objPtr->bytes, str, len + 1);
    objPtr->length = len;
    Tcl_DecrRefCount(list);
}

// The bytes Tcl uses for a zero character (0xC0 0x80) count as a zero byte.
bool HasZeroChar(const char *key, int len)
{
    if (static_cast<int>(std::strlen(key)) != len) {
        return true;
    }
    for (const char *p = key; (p = std::strchr(p, '\xC0')) != nullptr; p++) {
        if (p[1] == '\x80') {
            return true;
        }
    }
    return false;
}

// Key rules of the parser: no zero byte, not empty, no dot in plain keys.
int CheckParsedKey(Tcl_Interp *interp, const char *key, int len, bool isGeneric)
{
    if (HasZeroChar(key, len)) {
        AppendMsg(interp, kBinaryKeyMsg);
        return TCL_ERROR;
    }
    if (len == 0) {
        AppendMsg(interp, kEmptyKeyMsg);
        return TCL_ERROR;
    }
    if (!isGeneric && std::memchr(key, '.', len) != nullptr) {
        AppendMsg(interp, kDotKeyMsg);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// Installs rep as objPtr's representation of the given type; the old one goes.
void InstallRep(Tcl_Obj *objPtr, KeylIntRep *rep, bool isGeneric)
{
    if (objPtr->typePtr != nullptr && objPtr->typePtr->freeIntRepProc != nullptr) {
        objPtr->typePtr->freeIntRepProc(objPtr);
    }
    objPtr->internalRep.twoPtrValue.ptr1 = rep;
    objPtr->internalRep.twoPtrValue.ptr2 = nullptr;
    objPtr->typePtr = TypeOf(isGeneric);
}

// Between the two keyed types the entries are taken over as they are; only
// the plain type's ban on dots needs checking.
int ConvertFromOtherKeyedType(Tcl_Interp *interp, Tcl_Obj *objPtr, bool isGeneric)
{
    KeylIntRep *src = RepOf(objPtr);
    if (!isGeneric) {
        for (int i = 0; i < src->numEntries; i++) {
            if (std::memchr(src->entries[i].key, '.', src->entries[i].keySize) != nullptr) {
                AppendMsg(interp, kDotKeyMsg);
                return TCL_ERROR;
            }
        }
    }
    KeylIntRep *rep = CopyRep(src);
    CompleteIndex(rep);
    InstallRep(objPtr, rep, isGeneric);
    return TCL_OK;
}

// Parses the string form.  A key repeated in the text keeps one entry, at the
// place of its first appearance with the value of its last (as the index
// sees it), so keys stay unique and every operation sees the same entry.
int SetFromAny(Tcl_Interp *interp, Tcl_Obj *objPtr, bool isGeneric)
{
    if (IsKeyedListType(objPtr->typePtr)) {
        if (objPtr->typePtr == TypeOf(isGeneric)) {
            return TCL_OK;
        }
        return ConvertFromOtherKeyedType(interp, objPtr, isGeneric);
    }

    // Split a private copy of the text unless the object is a plain string
    // or already a list, so a failure leaves its representation alone.
    ObjRef listHolder;
    Tcl_Obj *listObj = objPtr;
    static const Tcl_ObjType *listType = Tcl_GetObjType("list");
    if (objPtr->typePtr != nullptr && objPtr->typePtr != listType) {
        int len;
        const char *str = Tcl_GetStringFromObj(objPtr, &len);
        listHolder = ObjRef(Tcl_NewStringObj(str, len));
        listObj = listHolder.get();
    }
    int objc;
    Tcl_Obj **objv;
    if (Tcl_ListObjGetElements(interp, listObj, &objc, &objv) != TCL_OK) {
        return TCL_ERROR;
    }
    KeylIntRep *rep = NewRep();
    EnsureRoom(rep, objc);
    CreateIndex(rep);
    bool collapsed = false;
    for (int i = 0; i < objc; i++) {
        int kvc;
        Tcl_Obj **kvv;
        if (Tcl_ListObjGetElements(nullptr, objv[i], &kvc, &kvv) != TCL_OK || kvc != 2) {
            if (interp != nullptr) {
                Tcl_ResetResult(interp);
            }
            AppendMsg(interp, "keyed list entry must be a valid, 2 element list, got \"",
                      Tcl_GetString(objv[i]), "\"");
            FreeRep(rep);
            return TCL_ERROR;
        }
        int keyLen;
        const char *key = Tcl_GetStringFromObj(kvv[0], &keyLen);
        if (CheckParsedKey(interp, key, keyLen, isGeneric) != TCL_OK) {
            FreeRep(rep);
            return TCL_ERROR;
        }
        Tcl_Obj *value = kvv[1];
        Tcl_IncrRefCount(value);
        int isNew;
        Tcl_HashEntry *h = Tcl_CreateHashEntry(rep->keyIndex, key, &isNew);
        if (!isNew) {
            KeylEntry &e = rep->entries[IndexPos(h)];
            Tcl_DecrRefCount(e.value);
            e.value = value;
            collapsed = true;
            continue;
        }
        int pos = rep->numEntries++;
        KeylEntry &e = rep->entries[pos];
        e.key = CopyKey(key, keyLen);
        e.keySize = keyLen;
        e.value = value;
        e.keyObj = nullptr;
        SetIndexPos(h, pos);
    }
    rep->indexComplete = true;

    // Text with a repeated key cannot be rebuilt from the entries: keep it.
    if (collapsed) {
        Tcl_GetString(objPtr);
    }
    InstallRep(objPtr, rep, isGeneric);
    return TCL_OK;
}

int SetKeyedListFromAny(Tcl_Interp *interp, Tcl_Obj *objPtr)
{
    return SetFromAny(interp, objPtr, false);
}

int SetGenericKeyedListFromAny(Tcl_Interp *interp, Tcl_Obj *objPtr)
{
    return SetFromAny(interp, objPtr, true);
}

// ------------------------------------------------------------ operations

// The first component of a key: for plain lists up to the first dot, whose
// remainder is the sub-key.  Empty components are refused: stored, they
// would make the list's text unreadable.
int SplitKey(Tcl_Interp *interp, const char *key, bool isGeneric, int *compLen,
             const char **subKey)
{
    const char *dot = isGeneric ? nullptr : std::strchr(key, '.');
    if (dot == nullptr) {
        *compLen = static_cast<int>(std::strlen(key));
        *subKey = nullptr;
    } else {
        *compLen = static_cast<int>(dot - key);
        *subKey = dot + 1;
    }
    if (*compLen == 0 || (*subKey != nullptr && **subKey == '\0')) {
        AppendMsg(interp, kEmptyKeyMsg);
        return TCL_ERROR;
    }
    return TCL_OK;
}

inline int Convert(Tcl_Interp *interp, Tcl_Obj *objPtr, bool isGeneric)
{
    if (objPtr->typePtr == TypeOf(isGeneric)) {
        return TCL_OK;
    }
    return Tcl_ConvertToType(interp, objPtr, TypeOf(isGeneric));
}

// Where the first component of a key stands in a list.
struct Component {
    KeylIntRep *rep;
    int pos;            // -1: no such entry
    int len;            // the component is the first len bytes of the key
    const char *subKey; // rest of a key path, or null
};

// Converts keylPtr to its type and looks up the first component of key.
int FindComponent(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key, bool isGeneric,
                  Component *c)
{
    if (Convert(interp, keylPtr, isGeneric) != TCL_OK) {
        return TCL_ERROR;
    }
    if (SplitKey(interp, key, isGeneric, &c->len, &c->subKey) != TCL_OK) {
        return TCL_ERROR;
    }
    c->rep = RepOf(keylPtr);
    c->pos = FindEntry(c->rep, key, c->len);
    return TCL_OK;
}

int KeylGet(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key, bool isGeneric,
            Tcl_Obj **valuePtrPtr)
{
    *valuePtrPtr = nullptr;
    for (;;) {
        Component c;
        if (FindComponent(interp, keylPtr, key, isGeneric, &c) != TCL_OK) {
            return TCL_ERROR;
        }
        if (c.pos < 0) {
            return TCL_BREAK;
        }
        if (c.subKey == nullptr) {
            *valuePtrPtr = c.rep->entries[c.pos].value;
            return TCL_OK;
        }
        keylPtr = c.rep->entries[c.pos].value;
        key = c.subKey;
    }
}

// keylPtr is unshared here; the caller holds a reference to valuePtr.
int KeylSet(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key, bool isGeneric,
            Tcl_Obj *valuePtr)
{
    Component c;
    if (FindComponent(interp, keylPtr, key, isGeneric, &c) != TCL_OK) {
        return TCL_ERROR;
    }
    if (c.subKey != nullptr) {
        if (c.pos >= 0) {
            Tcl_Obj *child = UnshareValue(c.rep->entries[c.pos]);
            int status = KeylSet(interp, child, c.subKey, isGeneric, valuePtr);
            if (status == TCL_OK) {
                Tcl_InvalidateStringRep(keylPtr);
            }
            return status;
        }
        Tcl_Obj *child = OrxX_NewKeyedListObj();
        Tcl_IncrRefCount(child);
        if (KeylSet(interp, child, c.subKey, isGeneric, valuePtr) != TCL_OK) {
            Tcl_DecrRefCount(child);
            return TCL_ERROR;
        }
        AppendEntry(c.rep, key, c.len, child);
        Tcl_InvalidateStringRep(keylPtr);
        return TCL_OK;
    }
    Tcl_IncrRefCount(valuePtr);
    if (c.pos >= 0) {
        Tcl_DecrRefCount(c.rep->entries[c.pos].value);
        c.rep->entries[c.pos].value = valuePtr;
    } else {
        AppendEntry(c.rep, key, c.len, valuePtr);
    }
    Tcl_InvalidateStringRep(keylPtr);
    return TCL_OK;
}

int KeylDelete(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key, bool isGeneric)
{
    Component c;
    if (FindComponent(interp, keylPtr, key, isGeneric, &c) != TCL_OK) {
        return TCL_ERROR;
    }
    if (c.pos < 0) {
        return TCL_BREAK;
    }
    if (c.subKey != nullptr) {
        // A shared nested list is copied only when there is something to delete.
        if (Tcl_IsShared(c.rep->entries[c.pos].value)) {
            Tcl_Obj *found;
            int status = KeylGet(interp, c.rep->entries[c.pos].value, c.subKey, isGeneric, &found);
            if (status != TCL_OK) {
                return status;
            }
        }
        Tcl_Obj *child = UnshareValue(c.rep->entries[c.pos]);
        int status = KeylDelete(interp, child, c.subKey, isGeneric);
        if (status != TCL_OK) {
            return status;
        }
        if (RepOf(child)->numEntries == 0) {
            RemoveEntry(c.rep, c.pos);
        }
        Tcl_InvalidateStringRep(keylPtr);
        return TCL_OK;
    }
    RemoveEntry(c.rep, c.pos);
    Tcl_InvalidateStringRep(keylPtr);
    return TCL_OK;
}

int KeylGetKeys(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key, bool isGeneric,
                Tcl_Obj **listObjPtrPtr)
{
    *listObjPtrPtr = nullptr;
    for (;;) {
        if (key == nullptr || *key == '\0') {
            if (Convert(interp, keylPtr, isGeneric) != TCL_OK) {
                return TCL_ERROR;
            }
            *listObjPtrPtr = NewEntryList(RepOf(keylPtr), KeyObjOf);
            return TCL_OK;
        }
        Component c;
        if (FindComponent(interp, keylPtr, key, isGeneric, &c) != TCL_OK) {
            return TCL_ERROR;
        }
        if (c.pos < 0) {
            return TCL_BREAK;
        }
        keylPtr = c.rep->entries[c.pos].value;
        key = c.subKey;
    }
}

int RefuseShared(Tcl_Interp *interp, Tcl_Obj *keylPtr)
{
    if (Tcl_IsShared(keylPtr)) {
        AppendMsg(interp, kSharedMsg);
        return TCL_ERROR;
    }
    return TCL_OK;
}

int ExportedSet(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key, Tcl_Obj *valuePtr,
                bool isGeneric)
{
    if (valuePtr == keylPtr) {
        AppendMsg(interp, "cannot store a keyed list in itself");
        return TCL_ERROR;
    }
    // While we hold it, a value that is also one of the lists on the key path
    // counts as shared and is copied, not made to contain itself.  A value
    // nobody holds is freed when the set fails, as Tcl_ObjSetVar2 does.
    ObjRef hold(valuePtr);
    if (RefuseShared(interp, keylPtr) != TCL_OK) {
        return TCL_ERROR;
    }
    // A key the parser would refuse must not get in: the text would not read back.
    if (HasZeroChar(key, static_cast<int>(std::strlen(key)))) {
        AppendMsg(interp, kBinaryKeyMsg);
        return TCL_ERROR;
    }
    return KeylSet(interp, keylPtr, key, isGeneric, valuePtr);
}

// ------------------------------------------------------------- commands

inline bool IsGeneric(ClientData clientData)
{
    return reinterpret_cast<intptr_t>(clientData) != 0;
}

// ------------------------------------------------------ key arguments
//
// A key argument is parsed once into its components; each component also
// remembers the list and position it was last found at, so a script that
// asks the same list for the same key again finds it without hashing.  The
// remembered position is checked against the entry's key before use.

struct KeyComp {
    int start; // the component is bytes start .. start+len of the key
    int len;
    uint64_t listId;
    int pos;
};

void FreeKeyPath(Tcl_Obj *objPtr);
void DupKeyPath(Tcl_Obj *srcPtr, Tcl_Obj *copyPtr);

// Only ever given to objects that have their text, which it keeps.
Tcl_ObjType keyPathType = {"keyedListKey", FreeKeyPath, DupKeyPath, nullptr, nullptr};

// Paths deeper than this take the string route (their levels are kept on the stack).
constexpr int kMaxFastDepth = 16;

struct KeyPath {
    KeyComp *comps;
    int numComps;
    const char *text;
};

inline int PackedCount(Tcl_Obj *objPtr)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(objPtr->internalRep.twoPtrValue.ptr2));
}

void FreeKeyPath(Tcl_Obj *objPtr)
{
    ckfree(static_cast<char *>(objPtr->internalRep.twoPtrValue.ptr1));
    objPtr->typePtr = nullptr;
}

void DupKeyPath(Tcl_Obj *srcPtr, Tcl_Obj *copyPtr)
{
    int n = PackedCount(srcPtr) >> 1;
    size_t bytes = sizeof(KeyComp) * static_cast<size_t>(n);
    void *comps = ckalloc(bytes);
    std::memcpy(comps, srcPtr->internalRep.twoPtrValue.ptr1, bytes);
    copyPtr->internalRep.twoPtrValue.ptr1 = comps;
    copyPtr->internalRep.twoPtrValue.ptr2 = srcPtr->internalRep.twoPtrValue.ptr2;
    copyPtr->typePtr = &keyPathType;
}

// Key rules for command arguments: no zero byte, not empty and, for key
// paths, no empty component.  A valid key argument gets its parsed form.
int ParseKeyArg(Tcl_Interp *interp, Tcl_Obj *keyObj, bool isGeneric, KeyPath *path)
{
    int len;
    const char *key = Tcl_GetStringFromObj(keyObj, &len);
    // One pass: this runs for every new key of every command.
    bool binary = false;
    bool emptyComponent = len == 0;
    int numComps = 1;
    for (int i = 0; i < len; i++) {
        char c = key[i];
        if (c == '\0' || (c == '\xC0' && key[i + 1] == '\x80')) {
            binary = true;
            break;
        }
        if (c == '.' && !isGeneric) {
            numComps++;
            if (i == 0 || i == len - 1 || key[i + 1] == '.') {
                emptyComponent = true;
            }
        }
    }
    if (binary) {
        AppendMsg(interp, kBinaryKeyMsg);
        return TCL_ERROR;
    }
    if (emptyComponent) {
        AppendMsg(interp, kEmptyKeyMsg);
        return TCL_ERROR;
    }
    auto *comps = reinterpret_cast<KeyComp *>(
        ckalloc(sizeof(KeyComp) * static_cast<size_t>(numComps)));
    int start = 0;
    for (int i = 0; i < numComps; i++) {
        const char *dot = isGeneric ? nullptr
                                    : static_cast<const char *>(std::memchr(key + start, '.',
                                                                            len - start));
        int end = dot != nullptr ? static_cast<int>(dot - key) : len;
        comps[i] = KeyComp{start, end - start, 0, -1};
        start = end + 1;
    }
    if (keyObj->typePtr != nullptr && keyObj->typePtr->freeIntRepProc != nullptr) {
        keyObj->typePtr->freeIntRepProc(keyObj);
    }
    keyObj->internalRep.twoPtrValue.ptr1 = comps;
    keyObj->internalRep.twoPtrValue.ptr2 =
        reinterpret_cast<void *>(static_cast<intptr_t>(numComps << 1 | (isGeneric ? 1 : 0)));
    keyObj->typePtr = &keyPathType;
    path->comps = comps;
    path->numComps = numComps;
    path->text = key;
    return TCL_OK;
}

inline int ValidateKeyArg(Tcl_Interp *interp, Tcl_Obj *keyObj, bool isGeneric, KeyPath *path)
{
    if (keyObj->typePtr == &keyPathType && (PackedCount(keyObj) & 1) == isGeneric) {
        path->comps = static_cast<KeyComp *>(keyObj->internalRep.twoPtrValue.ptr1);
        path->numComps = PackedCount(keyObj) >> 1;
        path->text = keyObj->bytes;
        return TCL_OK;
    }
    return ParseKeyArg(interp, keyObj, isGeneric, path);
}

// Position of a component in a list, trying where it was found last.
inline int FindComp(KeylIntRep *rep, const char *text, KeyComp &c)
{
    if (c.listId == rep->id && c.pos < rep->numEntries) {
        const KeylEntry &e = rep->entries[c.pos];
        if (e.keySize == c.len && SameBytes(e.key, text + c.start, c.len)) {
            return c.pos;
        }
    }
    int pos = FindEntry(rep, text + c.start, c.len);
    if (pos >= 0) {
        c.listId = rep->id;
        c.pos = pos;
    }
    return pos;
}

// TCL_CONTINUE from the path walkers: take the string route instead (a
// level is the key object itself, whose conversion would free the path).
int GetByPath(Tcl_Interp *interp, Tcl_Obj *keylPtr, Tcl_Obj *keyObj, const KeyPath &path,
              bool isGeneric, Tcl_Obj **valuePtrPtr)
{
    Tcl_Obj *level = keylPtr;
    for (int i = 0; i < path.numComps; i++) {
        if (level == keyObj) {
            return TCL_CONTINUE;
        }
        if (Convert(interp, level, isGeneric) != TCL_OK) {
            return TCL_ERROR;
        }
        KeylIntRep *rep = RepOf(level);
        int pos = FindComp(rep, path.text, path.comps[i]);
        if (pos < 0) {
            return TCL_BREAK;
        }
        level = rep->entries[pos].value;
    }
    *valuePtrPtr = level;
    return TCL_OK;
}

// keylPtr is unshared; the caller holds a reference to valuePtr.
int SetByPath(Tcl_Interp *interp, Tcl_Obj *keylPtr, Tcl_Obj *keyObj, const KeyPath &path,
              bool isGeneric, Tcl_Obj *valuePtr)
{
    if (path.numComps > kMaxFastDepth) {
        return TCL_CONTINUE;
    }
    Tcl_Obj *levels[kMaxFastDepth];
    Tcl_Obj *level = keylPtr;
    int depth = 0;
    int status = TCL_OK;
    for (;;) {
        // Unsharing the levels above changes no content: falling back is safe.
        if (level == keyObj) {
            return TCL_CONTINUE;
        }
        if (Convert(interp, level, isGeneric) != TCL_OK) {
            return TCL_ERROR;
        }
        KeylIntRep *rep = RepOf(level);
        KeyComp &c = path.comps[depth];
        int pos = FindComp(rep, path.text, c);
        levels[depth] = level;
        if (depth == path.numComps - 1) {
            Tcl_IncrRefCount(valuePtr);
            if (pos >= 0) {
                Tcl_DecrRefCount(rep->entries[pos].value);
                rep->entries[pos].value = valuePtr;
            } else {
                AppendEntry(rep, path.text + c.start, c.len, valuePtr);
            }
            break;
        }
        if (pos < 0) {
            // New nested lists from here down: the string route builds them.
            status = KeylSet(interp, level, path.text + c.start, isGeneric, valuePtr);
            break;
        }
        level = UnshareValue(rep->entries[pos]);
        depth++;
    }
    if (status == TCL_OK) {
        for (int i = 0; i <= depth; i++) {
            Tcl_InvalidateStringRep(levels[i]);
        }
    }
    return status;
}

// ------------------------------------------------------------ variables
//
// The variable is looked up once, with Tcl's own look-up.  A plain untraced
// scalar holding an unshared list is changed in place and needs no writing
// back: storing the same object again would change nothing and run nothing.

// The value of a set, untraced scalar that is no array element, or null
// (then the caller reads and writes through Tcl as usual).  Looks up only.
inline Tcl_Obj *PlainScalarValue(Tcl_Interp *interp, Tcl_Obj *name)
{
    return orx::PlainScalarValue(interp, name);
}

// Reads as Tcl_ObjGetVar2 with TCL_LEAVE_ERR_MSG does; a plain variable
// without its second call.
inline Tcl_Obj *ReadVar(Tcl_Interp *interp, Tcl_Obj *name)
{
    Tcl_Obj *value = PlainScalarValue(interp, name);
    return value != nullptr ? value : Tcl_ObjGetVar2(interp, name, nullptr, TCL_LEAVE_ERR_MSG);
}

// Commands answering nothing: the result is nearly always empty already.
void ClearResult(Tcl_Interp *interp)
{
    Tcl_Obj *result = Tcl_GetObjResult(interp);
    if (result->bytes == nullptr || result->length != 0 || result->typePtr != nullptr ||
        Tcl_IsShared(result)) {
        Tcl_ResetResult(interp);
    }
}

int KeyNotFound(Tcl_Interp *interp, const char *key)
{
    Tcl_ResetResult(interp);
    AppendMsg(interp, "key not found: \"", key, "\"");
    return TCL_ERROR;
}

int KeylKeysCmdBody(Tcl_Interp *interp, Tcl_Obj *varName, Tcl_Obj *keyObj, bool isGeneric)
{
    Tcl_Obj *keylPtr = ReadVar(interp, varName);
    if (keylPtr == nullptr) {
        return TCL_ERROR;
    }
    const char *key = nullptr;
    if (keyObj != nullptr) {
        KeyPath path;
        if (ValidateKeyArg(interp, keyObj, isGeneric, &path) != TCL_OK) {
            return TCL_ERROR;
        }
        key = path.text;
    }
    Tcl_Obj *keys;
    switch (KeylGetKeys(interp, keylPtr, key, isGeneric, &keys)) {
    case TCL_OK:
        Tcl_SetObjResult(interp, keys);
        return TCL_OK;
    case TCL_BREAK:
        return KeyNotFound(interp, key);
    default:
        return TCL_ERROR;
    }
}

// keylget listvar ?key? ?retvar | {}?
int KeylGetObjCmd(ClientData clientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 2 || objc > 4) {
        return OrxX_WrongArgs(interp, objv[0], "listvar ?key? ?retvar | {}?");
    }
    bool isGeneric = IsGeneric(clientData);
    if (objc == 2) {
        return KeylKeysCmdBody(interp, objv[1], nullptr, isGeneric);
    }
    Tcl_Obj *keylPtr = ReadVar(interp, objv[1]);
    if (keylPtr == nullptr) {
        return TCL_ERROR;
    }
    KeyPath path;
    if (ValidateKeyArg(interp, objv[2], isGeneric, &path) != TCL_OK) {
        return TCL_ERROR;
    }
    const char *key = path.text;
    Tcl_Obj *value;
    int status = GetByPath(interp, keylPtr, objv[2], path, isGeneric, &value);
    if (status == TCL_CONTINUE) {
        status = KeylGet(interp, keylPtr, key, isGeneric, &value);
    }
    if (status == TCL_ERROR) {
        return TCL_ERROR;
    }
    if (status == TCL_BREAK) {
        if (objc == 4) {
            Tcl_SetObjResult(interp, Tcl_NewBooleanObj(0));
            return TCL_OK;
        }
        Tcl_ResetResult(interp);
        AppendMsg(interp, "key \"", key, "\" not found in keyed list");
        return TCL_ERROR;
    }
    if (objc == 3) {
        Tcl_SetObjResult(interp, value);
        return TCL_OK;
    }
    if (!OrxX_IsNullObj(objv[3])) {
        // Writing retvar may release the list (retvar may be listvar).
        ObjRef hold(value);
        if (Tcl_ObjSetVar2(interp, objv[3], nullptr, value, TCL_LEAVE_ERR_MSG) == nullptr) {
            return TCL_ERROR;
        }
    }
    Tcl_SetObjResult(interp, Tcl_NewBooleanObj(1));
    return TCL_OK;
}

// Would setting these pairs fail half way?  Only a nested value that is not
// a keyed list can stop a set once the keys are valid; converting it here is
// harmless and lets the command fail before it changes anything.
int CheckPathsConvert(Tcl_Interp *interp, Tcl_Obj *keylPtr, int objc, Tcl_Obj *const objv[],
                      bool isGeneric)
{
    if (Convert(interp, keylPtr, isGeneric) != TCL_OK) {
        return TCL_ERROR;
    }
    if (isGeneric) {
        return TCL_OK;
    }
    for (int i = 2; i < objc; i += 2) {
        Tcl_Obj *level = keylPtr;
        const char *key = Tcl_GetString(objv[i]);
        for (const char *dot; (dot = std::strchr(key, '.')) != nullptr; key = dot + 1) {
            if (Convert(interp, level, false) != TCL_OK) {
                return TCL_ERROR;
            }
            KeylIntRep *rep = RepOf(level);
            int pos = FindEntry(rep, key, static_cast<int>(dot - key));
            if (pos < 0) {
                break;
            }
            level = rep->entries[pos].value;
            if (Convert(interp, level, false) != TCL_OK) {
                return TCL_ERROR;
            }
        }
    }
    return TCL_OK;
}

// keylset listvar key value ?key value...?
int KeylSetObjCmd(ClientData clientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 4 || objc % 2 != 0) {
        return OrxX_WrongArgs(interp, objv[0], "listvar key value ?key value...?");
    }
    bool isGeneric = IsGeneric(clientData);
    KeyPath path;
    for (int i = 2; i < objc; i += 2) {
        if (ValidateKeyArg(interp, objv[i], isGeneric, &path) != TCL_OK) {
            return TCL_ERROR;
        }
    }
    Tcl_Obj *plain = PlainScalarValue(interp, objv[1]);
    Tcl_Obj *current = plain != nullptr ? plain : Tcl_ObjGetVar2(interp, objv[1], nullptr, 0);
    ObjRef keyl;
    if (current == nullptr) {
        keyl = ObjRef(isGeneric ? OrxX_NewGenericKeyedListObj() : OrxX_NewKeyedListObj());
    } else if (Tcl_IsShared(current)) {
        if (Convert(interp, current, isGeneric) != TCL_OK) {
            return TCL_ERROR;
        }
        keyl = ObjRef(Tcl_DuplicateObj(current));
    } else {
        keyl = ObjRef(current);
    }
    if (objc > 4 && CheckPathsConvert(interp, keyl.get(), objc, objv, isGeneric) != TCL_OK) {
        return TCL_ERROR;
    }
    for (int i = 2; i < objc; i += 2) {
        // The value may be the list itself (keylset x k $x): hold it so the
        // list sees it shared and the nested copy logic applies.
        ObjRef hold(objv[i + 1]);
        // Checked above; a key that shimmered since (it may be the list
        // itself, or a trace may have run) is parsed again.
        if (ValidateKeyArg(interp, objv[i], isGeneric, &path) != TCL_OK) {
            return TCL_ERROR;
        }
        int status = SetByPath(interp, keyl.get(), objv[i], path, isGeneric, objv[i + 1]);
        if (status == TCL_CONTINUE) {
            status = KeylSet(interp, keyl.get(), Tcl_GetString(objv[i]), isGeneric, objv[i + 1]);
        }
        if (status != TCL_OK) {
            return TCL_ERROR;
        }
    }
    if (keyl.get() != plain &&
        Tcl_ObjSetVar2(interp, objv[1], nullptr, keyl.get(), TCL_LEAVE_ERR_MSG) == nullptr) {
        return TCL_ERROR;
    }
    ClearResult(interp);
    return TCL_OK;
}

// keyldel listvar key ?key ...?
int KeylDelObjCmd(ClientData clientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 3) {
        return OrxX_WrongArgs(interp, objv[0], "listvar key ?key ...?");
    }
    bool isGeneric = IsGeneric(clientData);
    Tcl_Obj *plain = PlainScalarValue(interp, objv[1]);
    Tcl_Obj *current = plain != nullptr ? plain : Tcl_ObjGetVar2(interp, objv[1], nullptr, TCL_LEAVE_ERR_MSG);
    if (current == nullptr) {
        return TCL_ERROR;
    }
    if (Convert(interp, current, isGeneric) != TCL_OK) {
        return TCL_ERROR;
    }
    ObjRef keyl(Tcl_IsShared(current) ? Tcl_DuplicateObj(current) : current);
    int deleted = 0;
    int status = TCL_OK;
    // Keys are checked as they come: like a missing key, a bad one stops the
    // command after the deletions before it.
    for (int i = 2; i < objc && status == TCL_OK; i++) {
        KeyPath path;
        if (ValidateKeyArg(interp, objv[i], isGeneric, &path) != TCL_OK) {
            status = TCL_ERROR;
            break;
        }
        const char *key = path.text;
        if (path.numComps == 1 && keyl.get()->typePtr == TypeOf(isGeneric)) {
            KeylIntRep *rep = RepOf(keyl.get());
            int pos = FindComp(rep, key, path.comps[0]);
            status = pos < 0 ? TCL_BREAK : TCL_OK;
            if (pos >= 0) {
                RemoveEntry(rep, pos);
                Tcl_InvalidateStringRep(keyl.get());
            }
        } else {
            status = KeylDelete(interp, keyl.get(), key, isGeneric);
        }
        if (status == TCL_BREAK) {
            KeyNotFound(interp, key);
        } else if (status == TCL_OK) {
            deleted++;
        }
    }
    // Deletions before a failing key stay, as they would have in place.
    if (deleted > 0 && keyl.get() != plain) {
        ObjRef message(Tcl_GetObjResult(interp));
        if (Tcl_ObjSetVar2(interp, objv[1], nullptr, keyl.get(), TCL_LEAVE_ERR_MSG) == nullptr) {
            return TCL_ERROR;
        }
        Tcl_SetObjResult(interp, message.get());
    }
    if (status != TCL_OK) {
        return TCL_ERROR;
    }
    ClearResult(interp);
    return TCL_OK;
}

// keylkeys listvar ?key?
int KeylKeysObjCmd(ClientData clientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 2 || objc > 3) {
        return OrxX_WrongArgs(interp, objv[0], "listvar ?key?");
    }
    return KeylKeysCmdBody(interp, objv[1], objc == 3 ? objv[2] : nullptr, IsGeneric(clientData));
}

} // namespace

// ------------------------------------------------------ exported interface

Tcl_Obj *OrxX_NewKeyedListObj(void)
{
    Tcl_Obj *obj = Tcl_NewObj();
    Tcl_InvalidateStringRep(obj);
    obj->internalRep.twoPtrValue.ptr1 = NewRep();
    obj->internalRep.twoPtrValue.ptr2 = nullptr;
    obj->typePtr = &keyedListType;
    return obj;
}

Tcl_Obj *OrxX_NewGenericKeyedListObj(void)
{
    Tcl_Obj *obj = OrxX_NewKeyedListObj();
    obj->typePtr = &genericKeyedListType;
    return obj;
}

int OrxX_KeyedListGet(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key,
                      Tcl_Obj **valuePtrPtr)
{
    return KeylGet(interp, keylPtr, key, false, valuePtrPtr);
}

int OrxX_GenericKeyedListGet(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key,
                             Tcl_Obj **valuePtrPtr)
{
    return KeylGet(interp, keylPtr, key, true, valuePtrPtr);
}

int OrxX_KeyedListSet(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key, Tcl_Obj *valuePtr)
{
    return ExportedSet(interp, keylPtr, key, valuePtr, false);
}

int OrxX_GenericKeyedListSet(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key,
                             Tcl_Obj *valuePtr)
{
    return ExportedSet(interp, keylPtr, key, valuePtr, true);
}

int OrxX_KeyedListDelete(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key)
{
    if (RefuseShared(interp, keylPtr) != TCL_OK) {
        return TCL_ERROR;
    }
    return KeylDelete(interp, keylPtr, key, false);
}

int OrxX_GenericKeyedListDelete(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key)
{
    if (RefuseShared(interp, keylPtr) != TCL_OK) {
        return TCL_ERROR;
    }
    return KeylDelete(interp, keylPtr, key, true);
}

int OrxX_KeyedListGetKeys(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key,
                          Tcl_Obj **listObjPtrPtr)
{
    return KeylGetKeys(interp, keylPtr, key, false, listObjPtrPtr);
}

int OrxX_GenericKeyedListGetKeys(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key,
                                 Tcl_Obj **listObjPtrPtr)
{
    return KeylGetKeys(interp, keylPtr, key, true, listObjPtrPtr);
}

int OrxXKeyedListInit(Tcl_Interp *interp)
{
    Tcl_RegisterObjType(&keyedListType);
    Tcl_RegisterObjType(&genericKeyedListType);
    struct {
        const char *name;
        Tcl_ObjCmdProc *proc;
    } const commands[] = {{"keylget", KeylGetObjCmd},
                          {"keylset", KeylSetObjCmd},
                          {"keyldel", KeylDelObjCmd},
                          {"keylkeys", KeylKeysObjCmd}};
    for (const auto &cmd : commands) {
        orx::CompileVarArgAsLocal(Tcl_CreateObjCommand(interp, cmd.name, cmd.proc,
                                                       reinterpret_cast<ClientData>(0), nullptr));
        Tcl_Obj *gname = Tcl_ObjPrintf("g%s", cmd.name);
        Tcl_IncrRefCount(gname);
        orx::CompileVarArgAsLocal(Tcl_CreateObjCommand(interp, Tcl_GetString(gname), cmd.proc,
                                                       reinterpret_cast<ClientData>(1), nullptr));
        Tcl_DecrRefCount(gname);
    }
    return TCL_OK;
}
