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

#if defined(__GNUC__) || defined(__clang__)
#define ORX_ALWAYS_INLINE __attribute__((always_inline))
#else
#define ORX_ALWAYS_INLINE
#endif

// A stack of plain values, the first few on the C stack: walks of deep
// lists keep their levels here instead of recursing.
template <class T, int kInline>
class SmallStack {
public:
    SmallStack() = default;
    SmallStack(const SmallStack &) = delete;
    SmallStack &operator=(const SmallStack &) = delete;
    ~SmallStack()
    {
        if (items_ != inline_) {
            ckfree(reinterpret_cast<char *>(items_));
        }
    }

    void Push(const T &item)
    {
        if (size_ == capacity_) {
            Grow();
        }
        items_[size_++] = item;
    }
    void Pop() { size_--; }
    bool Empty() const { return size_ == 0; }
    int Size() const { return size_; }
    T &operator[](int i) { return items_[i]; }
    T &Back() { return items_[size_ - 1]; }

private:
    void Grow()
    {
        capacity_ *= 2;
        size_t bytes = sizeof(T) * static_cast<size_t>(capacity_);
        if (items_ == inline_) {
            items_ = reinterpret_cast<T *>(ckalloc(bytes));
            std::memcpy(static_cast<void *>(items_), inline_, sizeof inline_);
        } else {
            items_ = reinterpret_cast<T *>(ckrealloc(reinterpret_cast<char *>(items_), bytes));
        }
    }

    T inline_[kInline];
    T *items_ = inline_;
    int size_ = 0;
    int capacity_ = kInline;
};

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

// The plain and the generic keyed list share one representation, told apart by type.
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

// An empty representation; entries and the key index come on first use.
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

// Releases what the entry owns: its key copy, value and cached key object.
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

// Frees the entries, the key index and the representation itself.
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

// Room for needed more entries; 16 spare slots keep appends from reallocating each time.
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

// A nul-terminated copy in ckalloc'ed memory, owned by the entry.
char *CopyKey(const char *key, int keySize)
{
    char *copy = static_cast<char *>(ckalloc(keySize + 1));
    std::memcpy(copy, key, keySize);
    copy[keySize] = '\0';
    return copy;
}

// An index made for a list that already has entries holds none of them yet.
void CreateIndex(KeylIntRep *rep)
{
    rep->keyIndex = reinterpret_cast<Tcl_HashTable *>(ckalloc(sizeof(Tcl_HashTable)));
    Tcl_InitHashTable(rep->keyIndex, TCL_STRING_KEYS);
    rep->indexComplete = rep->numEntries == 0;
}

// The key index stores each entry's position in place of a pointer.
inline void SetIndexPos(Tcl_HashEntry *h, int pos)
{
    Tcl_SetHashValue(h, reinterpret_cast<ClientData>(static_cast<intptr_t>(pos)));
}

inline int IndexPos(Tcl_HashEntry *h)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(Tcl_GetHashValue(h)));
}

// Overwrites an existing key's position: callers keep keys unique.
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

// The positions the index holds for the entries after pos move down with them.
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

// Tcl_ObjType free procedure.
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

// Tcl_ObjType duplicate procedure: new entries and keys, values shared by reference.
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

// The text of one list, from the texts of its keys and values.
void BuildString(Tcl_Obj *objPtr)
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

// Nested keyed lists without text get theirs first, deepest first, so that
// the text of a deep list is not built by a recursion as deep as the list.
void UpdateKeyedListString(Tcl_Obj *objPtr)
{
    struct Pending {
        Tcl_Obj *obj;
        int next; // first entry not yet looked at
    };
    SmallStack<Pending, 8> pending;
    pending.Push(Pending{objPtr, 0});
    while (!pending.Empty()) {
        Pending &top = pending.Back();
        KeylIntRep *rep = RepOf(top.obj);
        Tcl_Obj *child = nullptr;
        while (top.next < rep->numEntries && child == nullptr) {
            Tcl_Obj *value = rep->entries[top.next++].value;
            if (value->bytes == nullptr && IsKeyedListType(value->typePtr)) {
                child = value;
            }
        }
        if (child != nullptr) {
            pending.Push(Pending{child, 0});
            continue;
        }
        Tcl_Obj *done = top.obj;
        pending.Pop();
        BuildString(done);
    }
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
        return orx::ValueCode(interp, "KEY", std::string_view(key, len));
    }
    if (len == 0) {
        AppendMsg(interp, kEmptyKeyMsg);
        return orx::ValueCode(interp, "KEY", "");
    }
    if (!isGeneric && std::memchr(key, '.', len) != nullptr) {
        AppendMsg(interp, kDotKeyMsg);
        return orx::ValueCode(interp, "KEY", std::string_view(key, len));
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
                return orx::ValueCode(interp, "KEY", std::string_view(src->entries[i].key,
                                                                      src->entries[i].keySize));
            }
        }
    }
    KeylIntRep *rep = CopyRep(src);
    CompleteIndex(rep);
    InstallRep(objPtr, rep, isGeneric);
    return TCL_OK;
}

// The common text read straight into entries, without a list object per
// entry and key: every entry a {key value} pair whose words read as their
// text.  Null when the text needs more (substitutions, a malformed or odd
// entry, a bad key): the general parse then runs and reports.  The text
// stays the value's string, so a repeated key needs no care beyond the index.
KeylIntRep *ParsePlainText(const char *text, int len, bool isGeneric)
{
    const char *limit = text + len;
    KeylIntRep *rep = NewRep();
    CreateIndex(rep);
    for (;;) {
        const char *entry;
        int entrySize;
        bool literal;
        int found = orx::NextListElement(&text, limit, &entry, &entrySize, &literal);
        if (found == 0) {
            break;
        }
        if (found < 0 || !literal) { // entry is not set then
            FreeRep(rep);
            return nullptr;
        }
        const char *inner = entry;
        const char *innerLimit = entry + entrySize;
        const char *key;
        const char *value;
        int keyLen;
        int valueLen;
        bool keyLiteral;
        bool valueLiteral;
        const char *rest;
        int restSize;
        bool restLiteral;
        if (orx::NextListElement(&inner, innerLimit, &key, &keyLen, &keyLiteral) != 1 ||
            orx::NextListElement(&inner, innerLimit, &value, &valueLen, &valueLiteral) != 1 ||
            orx::NextListElement(&inner, innerLimit, &rest, &restSize, &restLiteral) != 0 ||
            !keyLiteral || !valueLiteral || keyLen == 0 ||
            (!isGeneric && std::memchr(key, '.', keyLen) != nullptr)) {
            FreeRep(rep);
            return nullptr;
        }
        char *keyCopy = CopyKey(key, keyLen);
        if (HasZeroChar(keyCopy, keyLen)) {
            ckfree(keyCopy);
            FreeRep(rep);
            return nullptr;
        }
        if (rep->numEntries == rep->arraySize) {
            EnsureRoom(rep, rep->numEntries + 1);
        }
        Tcl_Obj *valueObj = Tcl_NewStringObj(value, valueLen);
        Tcl_IncrRefCount(valueObj);
        int isNew;
        Tcl_HashEntry *h = Tcl_CreateHashEntry(rep->keyIndex, keyCopy, &isNew);
        if (!isNew) {
            ckfree(keyCopy);
            KeylEntry &e = rep->entries[IndexPos(h)];
            Tcl_DecrRefCount(e.value);
            e.value = valueObj;
            continue;
        }
        int pos = rep->numEntries++;
        KeylEntry &e = rep->entries[pos];
        e.key = keyCopy;
        e.keySize = keyLen;
        e.value = valueObj;
        e.keyObj = nullptr;
        SetIndexPos(h, pos);
    }
    rep->indexComplete = true;
    return rep;
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

    static const Tcl_ObjType *listType = Tcl_GetObjType("list");
    if (objPtr->typePtr != listType) {
        int len;
        const char *str = Tcl_GetStringFromObj(objPtr, &len);
        KeylIntRep *rep = ParsePlainText(str, len, isGeneric);
        if (rep != nullptr) {
            InstallRep(objPtr, rep, isGeneric);
            return TCL_OK;
        }
    }

    // Split a private copy of the text unless the object is a plain string
    // or already a list, so a failure leaves its representation alone.
    ObjRef listHolder;
    Tcl_Obj *listObj = objPtr;
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
            return orx::ValueCode(interp, "KEYLIST");
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

// Tcl_ObjType set-from-any procedures, one per flavour.
int SetKeyedListFromAny(Tcl_Interp *interp, Tcl_Obj *objPtr)
{
    return SetFromAny(interp, objPtr, false);
}

int SetGenericKeyedListFromAny(Tcl_Interp *interp, Tcl_Obj *objPtr)
{
    return SetFromAny(interp, objPtr, true);
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

struct KeyPath {
    KeyComp *comps;
    int numComps;
    const char *text;
    int length;
};

// The second pointer of a parsed key holds its component count, shifted
// left once, and the generic flag in the low bit.
inline int PackedCount(Tcl_Obj *objPtr)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(objPtr->internalRep.twoPtrValue.ptr2));
}

// Tcl_ObjType free procedure of a parsed key; the text stays with the object.
void FreeKeyPath(Tcl_Obj *objPtr)
{
    ckfree(static_cast<char *>(objPtr->internalRep.twoPtrValue.ptr1));
    objPtr->typePtr = nullptr;
}

// Components are offsets into the text, which the copy has too, so a flat copy does.
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
        return orx::ValueCode(interp, "KEY", std::string_view(key, len));
    }
    if (emptyComponent) {
        AppendMsg(interp, kEmptyKeyMsg);
        return orx::ValueCode(interp, "KEY", std::string_view(key, len));
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
    *path = KeyPath{comps, numComps, key, len};
    return TCL_OK;
}

// A key argument already parsed for this kind of list is taken as it is.
inline int ValidateKeyArg(Tcl_Interp *interp, Tcl_Obj *keyObj, bool isGeneric, KeyPath *path)
{
    if (keyObj->typePtr == &keyPathType && (PackedCount(keyObj) & 1) == isGeneric) {
        *path = KeyPath{static_cast<KeyComp *>(keyObj->internalRep.twoPtrValue.ptr1),
                        PackedCount(keyObj) >> 1, keyObj->bytes, keyObj->length};
        return TCL_OK;
    }
    return ParseKeyArg(interp, keyObj, isGeneric, path);
}

// ------------------------------------------------------------ key paths

// The generic flavour of each command is registered with non-null client data.
inline bool IsGeneric(ClientData clientData)
{
    return reinterpret_cast<intptr_t>(clientData) != 0;
}

// Spares the call in the usual case, a list already of its type.
inline int Convert(Tcl_Interp *interp, Tcl_Obj *objPtr, bool isGeneric)
{
    if (objPtr->typePtr == TypeOf(isGeneric)) {
        return TCL_OK;
    }
    return Tcl_ConvertToType(interp, objPtr, TypeOf(isGeneric));
}

// The components of a key, one at a time, taken from a key argument's parse
// or split from the text as the walk reaches them.  Text from the C interface
// is checked per component, when its level is reached, so an empty component
// below a missing key or a bad nested value goes unnoticed as it always has.
class KeyCursor {
public:
    KeyCursor(const char *text, bool isGeneric)
        : text_(text != nullptr ? text : ""), end_(static_cast<int>(std::strlen(text_))),
          isGeneric_(isGeneric), split_{0, 0, 0, -1}
    {
    }
    KeyCursor(Tcl_Obj *keyObj, const KeyPath &path, bool isGeneric)
        : text_(path.text), end_(path.length), isGeneric_(isGeneric), first_(path.comps),
          comp_(path.comps), keyObj_(keyObj)
    {
    }
    KeyCursor(const KeyCursor &) = delete;
    KeyCursor &operator=(const KeyCursor &) = delete;
    ~KeyCursor()
    {
        if (copy_ != nullptr) {
            ckfree(copy_);
        }
    }

    // Converting or changing the key object itself (the list may be its own
    // key) would take its parse and text away: go on from a copy of the text.
    void Guard(Tcl_Obj *level)
    {
        if (level == keyObj_) {
            copy_ = CopyKey(text_, end_);
            text_ = copy_;
            split_ = KeyComp{comp_->start, comp_->len, 0, -1};
            first_ = nullptr;
            comp_ = nullptr;
            keyObj_ = nullptr;
        }
    }

    // Back to the first component, for a second walk along the same key.
    void Rewind()
    {
        comp_ = first_;
        split_ = KeyComp{0, 0, 0, -1};
    }

    // Delimits the current component; TCL_ERROR when it or the rest is empty.
    int Take(Tcl_Interp *interp)
    {
        if (comp_ != nullptr) {
            return TCL_OK;
        }
        int start = split_.start;
        const char *dot = isGeneric_ ? nullptr
                                     : static_cast<const char *>(
                                           std::memchr(text_ + start, '.', end_ - start));
        int len = dot != nullptr ? static_cast<int>(dot - text_) - start : end_ - start;
        split_ = KeyComp{start, len, 0, -1};
        if (len == 0 || (dot != nullptr && start + len + 1 == end_)) {
            AppendMsg(interp, kEmptyKeyMsg);
            return orx::ValueCode(interp, "KEY", std::string_view(text_, end_));
        }
        return TCL_OK;
    }

    bool Last() const { return Current().start + Current().len == end_; }
    // Before the walk: the key has one component only.
    bool Single() const
    {
        if (comp_ != nullptr) {
            return comp_->len == end_;
        }
        return isGeneric_ || std::memchr(text_, '.', end_) == nullptr;
    }
    void Next()
    {
        if (comp_ != nullptr) {
            comp_++;
        } else {
            split_.start += split_.len + 1;
        }
    }
    const char *Text() const { return text_ + Current().start; }
    int Length() const { return Current().len; }

    // Position of the current component in rep, trying where it was found last.
    int Find(KeylIntRep *rep)
    {
        if (comp_ == nullptr) {
            return FindEntry(rep, text_ + split_.start, split_.len);
        }
        KeyComp &c = *comp_;
        if (c.listId == rep->id && c.pos < rep->numEntries) {
            const KeylEntry &e = rep->entries[c.pos];
            if (e.keySize == c.len && SameBytes(e.key, text_ + c.start, c.len)) {
                return c.pos;
            }
        }
        int pos = FindEntry(rep, text_ + c.start, c.len);
        if (pos >= 0) {
            c.listId = rep->id;
            c.pos = pos;
        }
        return pos;
    }

    // Before a set creates the missing levels: the components after the
    // current one must all be usable, so a bad one adds nothing.
    int CheckRest(Tcl_Interp *interp) const
    {
        if (comp_ != nullptr) {
            return TCL_OK;
        }
        int prev = split_.start + split_.len;
        for (int i = prev + 1; i <= end_; i++) {
            if (i == end_ || text_[i] == '.') {
                if (i == prev + 1) {
                    AppendMsg(interp, kEmptyKeyMsg);
                    return orx::ValueCode(interp, "KEY", std::string_view(text_, end_));
                }
                prev = i;
            }
        }
        return TCL_OK;
    }

private:
    const KeyComp &Current() const { return comp_ != nullptr ? *comp_ : split_; }

    const char *text_;
    int end_;
    bool isGeneric_;
    KeyComp *first_ = nullptr;  // the key argument's parse, or null: split the text
    KeyComp *comp_ = nullptr;   // the current component in the parse
    Tcl_Obj *keyObj_ = nullptr; // owner of the parse and the text
    char *copy_ = nullptr;
    KeyComp split_;             // the current component split from the text
};

// Lists changed in a loop have no text after the first change: skip the call.
inline void InvalidateString(Tcl_Obj *objPtr)
{
    if (objPtr->bytes != nullptr) {
        Tcl_InvalidateStringRep(objPtr);
    }
}

// Where a read-only walk ended: the list and the position of the last
// component looked up in it (-1 when that component is missing).
struct WalkEnd {
    Tcl_Obj *level;
    int pos;

    void Push(Tcl_Obj *l, int p)
    {
        level = l;
        pos = p;
    }
    KeylEntry &Entry() const { return RepOf(level)->entries[pos]; }
    WalkEnd &Back() { return *this; }
    void InvalidateStrings() { InvalidateString(level); }
};

// Every level a walk went through, for the walks that change lists on the
// way back up: each list and the position of its component.
class Trail : public SmallStack<WalkEnd, 8> {
public:
    void Push(Tcl_Obj *level, int pos) { SmallStack::Push(WalkEnd{level, pos}); }
    void InvalidateStrings(int count)
    {
        for (int i = 0; i < count; i++) {
            InvalidateString((*this)[i].level);
        }
    }
    void InvalidateStrings() { InvalidateStrings(Size()); }
};

enum class Walk {
    Look,   // read only
    Change, // every nested list on the way is unshared
};

// The one walk along a key path, level by level in a loop (paths may be far
// deeper than the stack).  Each level is converted to the list type, then
// its component looked up.  TCL_OK: the trail ends at the list holding the
// last component; TCL_BREAK: it ends where a component is missing, the
// cursor at that component; TCL_ERROR: a level did not convert or the text
// of a key has an empty component.  Inlined: the lookups of scripts are
// mostly one component deep, and a call costs as much as the walk.
template <Walk walk, class Steps>
ORX_ALWAYS_INLINE inline int WalkPath(Tcl_Interp *interp, Tcl_Obj *keylPtr, KeyCursor &key,
                                      bool isGeneric, Steps &trail)
{
    Tcl_Obj *level = keylPtr;
    for (;;) {
        key.Guard(level);
        if (Convert(interp, level, isGeneric) != TCL_OK || key.Take(interp) != TCL_OK) {
            return TCL_ERROR;
        }
        KeylIntRep *rep = RepOf(level);
        int pos = key.Find(rep);
        trail.Push(level, pos);
        if (pos < 0) {
            return TCL_BREAK;
        }
        if (key.Last()) {
            return TCL_OK;
        }
        level = walk == Walk::Change ? UnshareValue(rep->entries[pos]) : rep->entries[pos].value;
        key.Next();
    }
}

// Looks a key path up; *valuePtrPtr is null on failure, the result then holds the message.
ORX_ALWAYS_INLINE inline int GetPath(Tcl_Interp *interp, Tcl_Obj *keylPtr, KeyCursor &key,
                                     bool isGeneric, Tcl_Obj **valuePtrPtr)
{
    WalkEnd end;
    int status = WalkPath<Walk::Look>(interp, keylPtr, key, isGeneric, end);
    *valuePtrPtr = status == TCL_OK ? end.Entry().value : nullptr;
    return status;
}

// keylPtr is unshared; the caller holds a reference to valuePtr.  Steps
// keeps the levels whose text goes once the value is in.
template <class Steps>
ORX_ALWAYS_INLINE inline int SetAlong(Tcl_Interp *interp, Tcl_Obj *keylPtr, KeyCursor &key,
                                      bool isGeneric, Tcl_Obj *valuePtr)
{
    Steps trail;
    int status = WalkPath<Walk::Change>(interp, keylPtr, key, isGeneric, trail);
    if (status == TCL_ERROR) {
        return TCL_ERROR;
    }
    if (status == TCL_OK) {
        KeylEntry &e = trail.Back().Entry();
        Tcl_IncrRefCount(valuePtr);
        Tcl_DecrRefCount(e.value);
        e.value = valuePtr;
    } else {
        if (key.CheckRest(interp) != TCL_OK) {
            return TCL_ERROR;
        }
        // New lists from the missing component down; they have no text yet.
        KeylIntRep *rep = RepOf(trail.Back().level);
        while (!key.Last()) {
            Tcl_Obj *child = OrxX_NewKeyedListObj();
            Tcl_IncrRefCount(child);
            AppendEntry(rep, key.Text(), key.Length(), child);
            rep = RepOf(child);
            key.Next();
            key.Take(interp); // cannot fail: CheckRest saw every component
        }
        Tcl_IncrRefCount(valuePtr);
        AppendEntry(rep, key.Text(), key.Length(), valuePtr);
    }
    trail.InvalidateStrings();
    return TCL_OK;
}

// A key of one component has one level to change: no trail to keep.
ORX_ALWAYS_INLINE inline int SetPath(Tcl_Interp *interp, Tcl_Obj *keylPtr, KeyCursor &key,
                                     bool isGeneric, Tcl_Obj *valuePtr)
{
    if (key.Single()) {
        return SetAlong<WalkEnd>(interp, keylPtr, key, isGeneric, valuePtr);
    }
    return SetAlong<Trail>(interp, keylPtr, key, isGeneric, valuePtr);
}

// keylPtr is unshared.  Nested lists are unshared only once the key is known
// to be there (a second walk, which can no longer fail), and lists the
// deletion leaves empty go from their parents.
ORX_ALWAYS_INLINE inline int DeletePath(Tcl_Interp *interp, Tcl_Obj *keylPtr, KeyCursor &key,
                                        bool isGeneric)
{
    WalkEnd end;
    int status = WalkPath<Walk::Look>(interp, keylPtr, key, isGeneric, end);
    if (status != TCL_OK) {
        return status;
    }
    if (end.level == keylPtr) {
        RemoveEntry(RepOf(keylPtr), end.pos);
        InvalidateString(keylPtr);
        return TCL_OK;
    }
    key.Rewind();
    Trail trail;
    WalkPath<Walk::Change>(interp, keylPtr, key, isGeneric, trail); // finds it again
    int depth = trail.Size() - 1;
    RemoveEntry(RepOf(trail[depth].level), trail[depth].pos);
    while (depth > 0 && RepOf(trail[depth].level)->numEntries == 0) {
        depth--;
        RemoveEntry(RepOf(trail[depth].level), trail[depth].pos);
    }
    trail.InvalidateStrings(depth + 1);
    return TCL_OK;
}

// The keys of the list the key names, or of keylPtr itself when it has none.
int GetKeysPath(Tcl_Interp *interp, Tcl_Obj *keylPtr, KeyCursor *key, bool isGeneric,
                Tcl_Obj **listObjPtrPtr)
{
    *listObjPtrPtr = nullptr;
    Tcl_Obj *level = keylPtr;
    if (key != nullptr) {
        WalkEnd end;
        int status = WalkPath<Walk::Look>(interp, keylPtr, *key, isGeneric, end);
        if (status != TCL_OK) {
            return status;
        }
        level = end.Entry().value;
    }
    if (Convert(interp, level, isGeneric) != TCL_OK) {
        return TCL_ERROR;
    }
    *listObjPtrPtr = NewEntryList(RepOf(level), KeyObjOf);
    return TCL_OK;
}

// The C interface: keys come as text, and lists to change must be unshared
// (the commands unshare the variable's value themselves).
int RefuseShared(Tcl_Interp *interp, Tcl_Obj *keylPtr)
{
    if (Tcl_IsShared(keylPtr)) {
        AppendMsg(interp, kSharedMsg);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// Bodies of the exported C interface, for both flavours.
int ExportedGet(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key, Tcl_Obj **valuePtrPtr,
                bool isGeneric)
{
    KeyCursor cursor(key, isGeneric);
    return GetPath(interp, keylPtr, cursor, isGeneric, valuePtrPtr);
}

// Refuses a list stored in itself: it would make a reference cycle.
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
    if (key != nullptr && HasZeroChar(key, static_cast<int>(std::strlen(key)))) {
        AppendMsg(interp, kBinaryKeyMsg);
        return orx::ValueCode(interp, "KEY");
    }
    KeyCursor cursor(key, isGeneric);
    return SetPath(interp, keylPtr, cursor, isGeneric, valuePtr);
}

// The list must be unshared, as for any change in place.
int ExportedDelete(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key, bool isGeneric)
{
    if (RefuseShared(interp, keylPtr) != TCL_OK) {
        return TCL_ERROR;
    }
    KeyCursor cursor(key, isGeneric);
    return DeletePath(interp, keylPtr, cursor, isGeneric);
}

// An empty key lists the top level.
int ExportedGetKeys(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key,
                    Tcl_Obj **listObjPtrPtr, bool isGeneric)
{
    if (key == nullptr || *key == '\0') {
        return GetKeysPath(interp, keylPtr, nullptr, isGeneric, listObjPtrPtr);
    }
    KeyCursor cursor(key, isGeneric);
    return GetKeysPath(interp, keylPtr, &cursor, isGeneric, listObjPtrPtr);
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

// Resets the result first: callers may have left a partial one.
int KeyNotFound(Tcl_Interp *interp, const char *key)
{
    Tcl_ResetResult(interp);
    AppendMsg(interp, "key not found: \"", key, "\"");
    return orx::LookupCode(interp, "KEY", key);
}

// keylkeys, and keylget without a key.
int KeylKeysCmdBody(Tcl_Interp *interp, Tcl_Obj *varName, Tcl_Obj *keyObj, bool isGeneric)
{
    Tcl_Obj *keylPtr = ReadVar(interp, varName);
    if (keylPtr == nullptr) {
        return TCL_ERROR;
    }
    Tcl_Obj *keys;
    if (keyObj == nullptr) {
        if (GetKeysPath(interp, keylPtr, nullptr, isGeneric, &keys) != TCL_OK) {
            return TCL_ERROR;
        }
        Tcl_SetObjResult(interp, keys);
        return TCL_OK;
    }
    KeyPath path;
    if (ValidateKeyArg(interp, keyObj, isGeneric, &path) != TCL_OK) {
        return TCL_ERROR;
    }
    KeyCursor key(keyObj, path, isGeneric);
    switch (GetKeysPath(interp, keylPtr, &key, isGeneric, &keys)) {
    case TCL_OK:
        Tcl_SetObjResult(interp, keys);
        return TCL_OK;
    case TCL_BREAK:
        return KeyNotFound(interp, path.text);
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
    KeyCursor cursor(objv[2], path, isGeneric);
    int status = GetPath(interp, keylPtr, cursor, isGeneric, &value);
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
        return orx::LookupCode(interp, "KEY", key);
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
// a keyed list can stop a set once the keys are valid; reading each path
// converts those values, harmlessly, and lets the command fail before it
// changes anything.
int CheckPathsConvert(Tcl_Interp *interp, Tcl_Obj *keylPtr, int objc, Tcl_Obj *const objv[],
                      bool isGeneric)
{
    for (int i = 2; i < objc; i += 2) {
        KeyPath path;
        // A key may have shimmered since it was checked (it may be the list).
        if (ValidateKeyArg(interp, objv[i], isGeneric, &path) != TCL_OK) {
            return TCL_ERROR;
        }
        KeyCursor key(objv[i], path, isGeneric);
        Tcl_Obj *value;
        if (GetPath(interp, keylPtr, key, isGeneric, &value) == TCL_ERROR) {
            return TCL_ERROR;
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
        KeyCursor key(objv[i], path, isGeneric);
        if (SetPath(interp, keyl.get(), key, isGeneric, objv[i + 1]) != TCL_OK) {
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
        KeyCursor key(objv[i], path, isGeneric);
        status = DeletePath(interp, keyl.get(), key, isGeneric);
        if (status == TCL_BREAK) {
            KeyNotFound(interp, path.text);
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
    return ExportedGet(interp, keylPtr, key, valuePtrPtr, false);
}

int OrxX_GenericKeyedListGet(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key,
                             Tcl_Obj **valuePtrPtr)
{
    return ExportedGet(interp, keylPtr, key, valuePtrPtr, true);
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
    return ExportedDelete(interp, keylPtr, key, false);
}

int OrxX_GenericKeyedListDelete(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key)
{
    return ExportedDelete(interp, keylPtr, key, true);
}

int OrxX_KeyedListGetKeys(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key,
                          Tcl_Obj **listObjPtrPtr)
{
    return ExportedGetKeys(interp, keylPtr, key, listObjPtrPtr, false);
}

int OrxX_GenericKeyedListGetKeys(Tcl_Interp *interp, Tcl_Obj *keylPtr, const char *key,
                                 Tcl_Obj **listObjPtrPtr)
{
    return ExportedGetKeys(interp, keylPtr, key, listObjPtrPtr, true);
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
