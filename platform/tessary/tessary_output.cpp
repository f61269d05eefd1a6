// Stand-in for the memory files and output units of the closed library
// libtq_tessary, as the release-information code drives them: a memory file
// is a list of lines, an output unit writes lines into one or to stdout.
#include "tq_tessary.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct MemFile {
    std::vector<std::string> lines;
    size_t readPos = 0;
};

struct Unit {
    int memFile = 0;  // 0: standard output
    std::string pending;
    bool hasPending = false;
};

constexpr size_t kMaxPushDepth = 256;

struct Output {
    std::mutex mutex;
    std::map<int, MemFile> files;
    std::map<int, Unit> units;
    std::vector<int> stack;
    int nextFile = 1;
    int nextUnit = 100;
    bool appendNext = false;

    Output() { units[TQ_UNIT_STDOUT] = Unit(); }

    Unit *CurrentUnit()
    {
        int id = stack.empty() ? TQ_UNIT_STDOUT : stack.back();
        auto it = units.find(id);
        return it == units.end() ? nullptr : &it->second;
    }

    // Writes one finished line of a unit; false when its file is gone.
    bool EmitLine(Unit &unit, const std::string &line)
    {
        if (unit.memFile == 0) {
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
            return true;
        }
        auto f = files.find(unit.memFile);
        if (f == files.end()) {
            return false;
        }
        f->second.lines.push_back(line);
        return true;
    }

    bool EndLine(Unit &unit)
    {
        std::string line;
        line.swap(unit.pending);
        unit.hasPending = false;
        return EmitLine(unit, line);
    }
};

// Process-wide output state, built on first use; its mutex guards it.
Output &TheOutput()
{
    static Output output;
    return output;
}

// Buffers text for the current unit's next line; -1 with no unit or a closed memory file.
int AddText(const char *text, size_t length)
{
    Output &out = TheOutput();
    std::lock_guard<std::mutex> lock(out.mutex);
    Unit *unit = out.CurrentUnit();
    if (unit == nullptr || (unit->memFile != 0 && out.files.count(unit->memFile) == 0)) {
        return -1;
    }
    try {
        unit->pending.append(text, length);
    } catch (const std::exception &) {
        return -1;
    }
    unit->hasPending = true;
    return 0;
}

} // namespace

int c_oomfil(int *memFile, int /*flags*/)
{
    if (memFile == nullptr) {
        return 0;
    }
    Output &out = TheOutput();
    std::lock_guard<std::mutex> lock(out.mutex);
    const bool append = out.appendNext;
    out.appendNext = false;
    try {
        if (*memFile == 0) {
            int id = out.nextFile++;
            out.files[id] = MemFile();
            *memFile = id;
        } else {
            auto f = out.files.find(*memFile);
            if (f == out.files.end()) {
                return 0;
            }
            if (!append) {
                f->second.lines.clear();
                f->second.readPos = 0;
            }
        }
        int unit = out.nextUnit++;
        out.units[unit].memFile = *memFile;
        return unit;
    } catch (const std::exception &) {
        return 0;
    }
}

int c_oopush(int unit)
{
    Output &out = TheOutput();
    std::lock_guard<std::mutex> lock(out.mutex);
    if (out.units.count(unit) == 0 || out.stack.size() >= kMaxPushDepth) {
        return 0;
    }
    out.stack.push_back(unit);
    return unit;
}

int c_oopop(void)
{
    Output &out = TheOutput();
    std::lock_guard<std::mutex> lock(out.mutex);
    if (out.stack.empty()) {
        return -1;
    }
    out.stack.pop_back();
    return 0;
}

int c_ooclos(int unit)
{
    Output &out = TheOutput();
    std::lock_guard<std::mutex> lock(out.mutex);
    auto u = out.units.find(unit);
    if (unit == TQ_UNIT_STDOUT || u == out.units.end()) {
        return -1;
    }
    if (u->second.hasPending) {
        out.EndLine(u->second);
    }
    out.units.erase(u);
    // A closed unit must not stay current.
    for (auto it = out.stack.begin(); it != out.stack.end();) {
        it = (*it == unit) ? out.stack.erase(it) : it + 1;
    }
    return 0;
}

int c_ooseto(const char *option, int value)
{
    if (option == nullptr || std::strcmp(option, "open_append") != 0) {
        return -1;
    }
    Output &out = TheOutput();
    std::lock_guard<std::mutex> lock(out.mutex);
    out.appendNext = value != 0;
    return 0;
}

int c_oocs(const char *text)
{
    return AddText(text ? text : "", text ? std::strlen(text) : 0);
}

int c_ooca(const char *text, int length)
{
    if (text == nullptr || length < 0) {
        length = 0;
    }
    return AddText(text ? text : "", static_cast<size_t>(length));
}

int c_oowrit(void)
{
    return c_oonewl(1);
}

int c_oonewl(int count)
{
    Output &out = TheOutput();
    std::lock_guard<std::mutex> lock(out.mutex);
    Unit *unit = out.CurrentUnit();
    if (unit == nullptr) {
        return -1;
    }
    try {
        for (int i = 0; i < count; ++i) {
            if (!out.EndLine(*unit)) {
                return -1;
            }
        }
    } catch (const std::exception &) {
        return -1;
    }
    return 0;
}

int c_mfopen(int *memFile, int mode, int /*flags*/)
{
    if (memFile == nullptr) {
        return -1;
    }
    Output &out = TheOutput();
    std::lock_guard<std::mutex> lock(out.mutex);
    auto f = out.files.find(*memFile);
    if (f == out.files.end()) {
        return -1;
    }
    switch (mode) {
    case 'r': f->second.readPos = 0; return 0;
    case 'w': f->second.lines.clear(); f->second.readPos = 0; return 0;
    case 'a': return 0;
    default: return -1;
    }
}

int c_mfread(int memFile, char *buffer, int size)
{
    Output &out = TheOutput();
    std::lock_guard<std::mutex> lock(out.mutex);
    auto f = out.files.find(memFile);
    if (f == out.files.end() || size == 0 || buffer == nullptr) {
        return -2;
    }
    MemFile &file = f->second;
    if (file.readPos >= file.lines.size()) {
        return -1;
    }
    const std::string &line = file.lines[file.readPos++];
    const size_t cap = size < 0 ? -static_cast<size_t>(size) : static_cast<size_t>(size);
    const size_t n = line.size() < cap ? line.size() : cap;
    std::memcpy(buffer, line.data(), n);
    if (size < 0) {
        buffer[n] = '\0';
    } else {
        std::memset(buffer + n, ' ', cap - n);
    }
    return static_cast<int>(n);
}

int c_mfrlen(int memFile)
{
    Output &out = TheOutput();
    std::lock_guard<std::mutex> lock(out.mutex);
    auto f = out.files.find(memFile);
    if (f == out.files.end()) {
        return -2;
    }
    const MemFile &file = f->second;
    if (file.readPos >= file.lines.size()) {
        return -1;
    }
    const size_t len = file.lines[file.readPos].size();
    return len > 0x7fffffff ? 0x7fffffff : static_cast<int>(len);
}

int c_mfclos(int *memFile)
{
    if (memFile == nullptr) {
        return -1;
    }
    Output &out = TheOutput();
    std::lock_guard<std::mutex> lock(out.mutex);
    return out.files.count(*memFile) ? 0 : -1;
}

int c_mfdel(int *memFile)
{
    if (memFile == nullptr) {
        return -1;
    }
    Output &out = TheOutput();
    std::lock_guard<std::mutex> lock(out.mutex);
    if (out.files.erase(*memFile) == 0) {
        return -1;
    }
    *memFile = 0;
    return 0;
}
