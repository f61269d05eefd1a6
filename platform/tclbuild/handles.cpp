// Handle tables of the product's Tcl build: entries of a fixed size named
// "<base><number>".  Each entry is a block of its own, so its address never
// changes while the table grows; freed numbers are reused lowest first.
#include "orx_handles.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/internal.h"

namespace {

struct HandleTable {
    std::string base;
    size_t entrySize = 0;
    // slots[n] is entry n's block (kept when freed, for reuse), or null.
    std::vector<std::unique_ptr<std::max_align_t[]>> slots;
    std::vector<bool> used;
    std::vector<int> freeNumbers; // a min-heap
    std::unordered_map<const void *, int> numberOf;
};

// The opaque table pointer the interface hands out.
HandleTable *Table(void *headerPtr)
{
    return static_cast<HandleTable *>(headerPtr);
}

// Handle names are the table's base and the entry's number.
void WriteName(const HandleTable *table, int number, char *handleName)
{
    std::snprintf(handleName, ORXX_HANDLE_NAME_MAX, "%s%d", table->base.c_str(), number);
}

// The number a handle text names, or -1: the base, then decimal digits
// without sign or leading zero.
int ParseHandle(const HandleTable *table, const char *handle)
{
    size_t baseLength = table->base.size();
    if (std::strncmp(handle, table->base.c_str(), baseLength) != 0) {
        return -1;
    }
    const char *digits = handle + baseLength;
    if (*digits == '\0' || (digits[0] == '0' && digits[1] != '\0')) {
        return -1;
    }
    long long number = 0;
    for (const char *p = digits; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return -1;
        }
        number = number * 10 + (*p - '0');
        if (number > INT_MAX) {
            return -1;
        }
    }
    return static_cast<int>(number);
}

// -1 for a pointer that is no entry of the table.
int NumberOf(const HandleTable *table, const void *entryPtr)
{
    auto found = table->numberOf.find(entryPtr);
    return found == table->numberOf.end() ? -1 : found->second;
}

} // namespace

void *OrxX_HandleTblInit(const char *handleBase, int entrySize, int initEntries)
{
    if (handleBase == nullptr || handleBase[0] == '\0' ||
        std::strlen(handleBase) > ORXX_HANDLE_BASE_MAX || entrySize < 1 || initEntries < 1) {
        return nullptr;
    }
    try {
        auto table = std::make_unique<HandleTable>();
        table->base = handleBase;
        table->entrySize = static_cast<size_t>(entrySize);
        table->slots.reserve(static_cast<size_t>(initEntries));
        table->used.reserve(static_cast<size_t>(initEntries));
        return table.release();
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

void *OrxX_HandleAlloc(void *headerPtr, char *handleName)
{
    HandleTable *table = Table(headerPtr);
    try {
        int number;
        if (!table->freeNumbers.empty()) {
            number = table->freeNumbers.front();
        } else if (table->slots.size() < static_cast<size_t>(INT_MAX)) {
            number = static_cast<int>(table->slots.size());
            table->slots.emplace_back();
            table->used.push_back(false);
        } else {
            return nullptr;
        }
        auto &slot = table->slots[static_cast<size_t>(number)];
        size_t units = (table->entrySize + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
        if (!slot) {
            slot.reset(new std::max_align_t[units]);
        }
        table->numberOf.emplace(slot.get(), number);
        if (!table->freeNumbers.empty() && table->freeNumbers.front() == number) {
            std::pop_heap(table->freeNumbers.begin(), table->freeNumbers.end(),
                          std::greater<int>());
            table->freeNumbers.pop_back();
        }
        table->used[static_cast<size_t>(number)] = true;
        std::memset(slot.get(), 0, units * sizeof(std::max_align_t));
        if (handleName != nullptr) {
            WriteName(table, number, handleName);
        }
        return slot.get();
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

void *OrxX_HandleXlate(Tcl_Interp *interp, void *headerPtr, const char *handle)
{
    HandleTable *table = Table(headerPtr);
    int number = ParseHandle(table, handle);
    if (number >= 0 && static_cast<size_t>(number) < table->slots.size() &&
        table->used[static_cast<size_t>(number)]) {
        return table->slots[static_cast<size_t>(number)].get();
    }
    if (interp != nullptr) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("invalid %s handle \"%s\"", table->base.c_str(),
                                               handle));
        orx::LookupCode(interp, "HANDLE", handle);
    }
    return nullptr;
}

void *OrxX_HandleXlateObj(Tcl_Interp *interp, void *headerPtr, Tcl_Obj *handleObj)
{
    return OrxX_HandleXlate(interp, headerPtr, Tcl_GetString(handleObj));
}

int OrxX_HandleFree(void *headerPtr, void *entryPtr)
{
    HandleTable *table = Table(headerPtr);
    int number = NumberOf(table, entryPtr);
    if (number < 0) {
        return 0;
    }
    try {
        table->freeNumbers.push_back(number);
    } catch (const std::bad_alloc &) {
        // Without room in the free list the number is simply not reused.
        table->numberOf.erase(entryPtr);
        table->used[static_cast<size_t>(number)] = false;
        table->slots[static_cast<size_t>(number)].reset();
        return 1;
    }
    std::push_heap(table->freeNumbers.begin(), table->freeNumbers.end(), std::greater<int>());
    table->numberOf.erase(entryPtr);
    table->used[static_cast<size_t>(number)] = false;
    return 1;
}

void *OrxX_HandleWalk(void *headerPtr, int *walkKeyPtr)
{
    HandleTable *table = Table(headerPtr);
    size_t next = *walkKeyPtr < 0 ? 0 : static_cast<size_t>(*walkKeyPtr) + 1;
    for (; next < table->slots.size(); ++next) {
        if (table->used[next]) {
            *walkKeyPtr = static_cast<int>(next);
            return table->slots[next].get();
        }
    }
    *walkKeyPtr = static_cast<int>(table->slots.size());
    return nullptr;
}

int OrxX_HandleName(void *headerPtr, void *entryPtr, char *handleName)
{
    HandleTable *table = Table(headerPtr);
    int number = NumberOf(table, entryPtr);
    if (number < 0) {
        return 0;
    }
    WriteName(table, number, handleName);
    return 1;
}

void OrxX_HandleTblRelease(void *headerPtr)
{
    delete Table(headerPtr);
}
