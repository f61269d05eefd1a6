// Stand-in for the closed libraries libtq_tessary and libtq_cc: the
// configuration store (a text file of ours, see docs/reference/config-file.md),
// memory files and output units as the release-information code uses them,
// error reports, access checks and string copies.  All state here is
// process-wide, guarded by one mutex per facility.
#include "orx_tessary.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

struct TessaryConfig {
    struct Key {
        std::string name;
        std::vector<std::string> values;
    };
    struct Section {
        std::string name;
        std::vector<Key> keys;
        std::unordered_map<std::string, size_t> keyIndex;
    };
    std::string fileName;
    std::vector<Section> sections;
    std::unordered_map<std::string, size_t> sectionIndex;
    std::vector<std::string> errors;

    const Section *FindSection(const char *name) const
    {
        auto it = sectionIndex.find(name);
        return it == sectionIndex.end() ? nullptr : &sections[it->second];
    }
};

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\f' || c == '\v';
}

void Trim(const char *&begin, const char *&end)
{
    while (begin < end && IsBlank(*begin)) {
        ++begin;
    }
    while (end > begin && IsBlank(end[-1])) {
        --end;
    }
}

class ConfigParser {
public:
    explicit ConfigParser(TessaryConfig &config) : config_(config) {}

    void Parse(const char *text, size_t length)
    {
        const char *p = text;
        const char *const end = text + length;
        if (length >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0) {
            p += 3;
        }
        int lineNo = 0;
        while (p < end) {
            const char *nl = static_cast<const char *>(std::memchr(p, '\n', end - p));
            const char *lineEnd = nl ? nl : end;
            ++lineNo;
            Line(p, lineEnd, lineNo);
            p = nl ? nl + 1 : end;
        }
    }

private:
    void Error(int lineNo, const std::string &what)
    {
        config_.errors.push_back(config_.fileName + ":" + std::to_string(lineNo) + ": " + what);
    }

    void Line(const char *begin, const char *end, int lineNo)
    {
        if (end > begin && end[-1] == '\r') {
            --end;
        }
        if (std::memchr(begin, '\0', end - begin) != nullptr) {
            Error(lineNo, "zero byte in line");
            return;
        }
        Trim(begin, end);
        if (begin == end || *begin == '#' || *begin == ';') {
            return;
        }
        if (*begin == '[') {
            SectionHeader(begin + 1, end, lineNo);
            return;
        }
        const char *eq = static_cast<const char *>(std::memchr(begin, '=', end - begin));
        if (eq == nullptr) {
            Error(lineNo, "expected \"key = value\" or \"[section]\"");
            return;
        }
        const char *keyBegin = begin, *keyEnd = eq;
        Trim(keyBegin, keyEnd);
        if (keyBegin == keyEnd) {
            Error(lineNo, "empty key");
            return;
        }
        std::string key(keyBegin, keyEnd);
        for (char c : key) {
            if (IsBlank(c) || c == '[' || c == ']' || c == '"') {
                Error(lineNo, "bad character in key \"" + key + "\"");
                return;
            }
        }
        if (current_ == nullptr) {
            Error(lineNo, "key \"" + key + "\" outside any section");
            return;
        }
        const char *valBegin = eq + 1, *valEnd = end;
        Trim(valBegin, valEnd);
        std::string value;
        if (valBegin < valEnd && *valBegin == '"') {
            if (!Quoted(valBegin + 1, valEnd, value, lineNo)) {
                return;
            }
        } else {
            value.assign(valBegin, valEnd);
        }
        auto found = current_->keyIndex.find(key);
        if (found == current_->keyIndex.end()) {
            found = current_->keyIndex.emplace(key, current_->keys.size()).first;
            current_->keys.push_back({key, {}});
        }
        current_->keys[found->second].values.push_back(std::move(value));
    }

    void SectionHeader(const char *begin, const char *end, int lineNo)
    {
        const char *close = static_cast<const char *>(std::memchr(begin, ']', end - begin));
        if (close == nullptr) {
            Error(lineNo, "missing \"]\" in section header");
            return;
        }
        if (close + 1 != end) {
            Error(lineNo, "text after section header");
            return;
        }
        const char *nameEnd = close;
        Trim(begin, nameEnd);
        if (begin == nameEnd) {
            Error(lineNo, "empty section name");
            return;
        }
        std::string name(begin, nameEnd);
        if (name.find('[') != std::string::npos) {
            Error(lineNo, "bad character in section name \"" + name + "\"");
            return;
        }
        auto found = config_.sectionIndex.find(name);
        if (found == config_.sectionIndex.end()) {
            found = config_.sectionIndex.emplace(name, config_.sections.size()).first;
            config_.sections.push_back({name, {}, {}});
        }
        current_ = &config_.sections[found->second];
    }

    // begin is just past the opening quote.
    bool Quoted(const char *p, const char *end, std::string &value, int lineNo)
    {
        for (; p < end; ++p) {
            if (*p == '"') {
                if (p + 1 != end) {
                    Error(lineNo, "text after quoted value");
                    return false;
                }
                return true;
            }
            if (*p == '\\') {
                if (p + 1 == end) {
                    break;
                }
                ++p;
                switch (*p) {
                case 'n': value += '\n'; break;
                case 't': value += '\t'; break;
                case '"':
                case '\\': value += *p; break;
                default:
                    Error(lineNo, std::string("unknown escape \"\\") + *p + "\" in quoted value");
                    return false;
                }
                continue;
            }
            value += *p;
        }
        Error(lineNo, "unterminated quoted value");
        return false;
    }

    TessaryConfig &config_;
    TessaryConfig::Section *current_ = nullptr;
};

int Count(const TessaryConfig *config, const char *section, const char *key)
{
    if (config == nullptr) {
        return 0;
    }
    if (section != nullptr) {
        const TessaryConfig::Section *s = config->FindSection(section);
        if (s == nullptr) {
            return 0;
        }
        if (key == nullptr) {
            return static_cast<int>(s->keys.size());
        }
        auto k = s->keyIndex.find(key);
        return k == s->keyIndex.end() ? 0 : static_cast<int>(s->keys[k->second].values.size());
    }
    if (key == nullptr) {
        return static_cast<int>(config->sections.size());
    }
    int n = 0;
    for (const auto &s : config->sections) {
        n += s.keyIndex.count(key) ? 1 : 0;
    }
    return n;
}

const char *String(const TessaryConfig *config, const char *section, const char *key, int index)
{
    if (config == nullptr || index < 1) {
        return nullptr;
    }
    const size_t i = static_cast<size_t>(index) - 1;
    if (section != nullptr) {
        const TessaryConfig::Section *s = config->FindSection(section);
        if (s == nullptr) {
            return nullptr;
        }
        if (key == nullptr) {
            return i < s->keys.size() ? s->keys[i].name.c_str() : nullptr;
        }
        auto k = s->keyIndex.find(key);
        if (k == s->keyIndex.end()) {
            return nullptr;
        }
        const auto &values = s->keys[k->second].values;
        return i < values.size() ? values[i].c_str() : nullptr;
    }
    size_t n = 0;
    for (const auto &s : config->sections) {
        if (key == nullptr || s.keyIndex.count(key)) {
            if (n++ == i) {
                return s.name.c_str();
            }
        }
    }
    return nullptr;
}

// ---- The process's store ---------------------------------------------------

constexpr size_t kMaxConfigSize = 16u << 20;

struct FileIdentity {
    std::string path;
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    struct timespec mtime = {0, 0};

    bool operator==(const FileIdentity &o) const
    {
        return path == o.path && exists == o.exists && dev == o.dev && ino == o.ino &&
               size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

struct Store {
    std::mutex mutex;
    FileIdentity identity;
    // Earlier generations are kept: callers hold text from them.
    std::deque<std::unique_ptr<TessaryConfig>> generations;
};

Store &TheStore()
{
    static Store store;
    return store;
}

std::string ResolveConfigPath()
{
    const char *override = std::getenv("TESSARY_CONFIG");
    if (override != nullptr && *override != '\0') {
        return override;
    }
    const char *home = std::getenv("MORVA_HOME");
    if (home == nullptr) {
        return "";
    }
    // MORVA_HOME is a path list; ':' separates its directories on this platform.
    std::string list(home);
    size_t start = 0;
    while (start <= list.size()) {
        size_t sep = list.find(':', start);
        if (sep == std::string::npos) {
            sep = list.size();
        }
        std::string dir = list.substr(start, sep - start);
        if (!dir.empty()) {
            std::string path = dir + "/config/tessary.cfg";
            struct stat st;
            if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                return path;
            }
        }
        start = sep + 1;
    }
    return "";
}

FileIdentity Identify(const std::string &path)
{
    FileIdentity id;
    id.path = path;
    struct stat st;
    if (!path.empty() && ::stat(path.c_str(), &st) == 0) {
        id.exists = true;
        id.dev = st.st_dev;
        id.ino = st.st_ino;
        id.size = st.st_size;
        id.mtime = st.st_mtim;
    }
    return id;
}

std::unique_ptr<TessaryConfig> LoadFile(const FileIdentity &id)
{
    const std::string &path = id.path;
    auto config = std::make_unique<TessaryConfig>();
    config->fileName = path;
    if (path.empty()) {
        return config;
    }
    if (!id.exists) {
        config->errors.push_back(path + ": no such file");
        return config;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        config->errors.push_back(path + ": cannot open: " + std::strerror(errno));
        return config;
    }
    std::string text;
    char chunk[8192];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        text.append(chunk, static_cast<size_t>(in.gcount()));
        if (text.size() > kMaxConfigSize) {
            config->errors.push_back(path + ": file larger than 16 MB, not read");
            return config;
        }
    }
    if (in.bad()) {
        config->errors.push_back(path + ": read error");
        return config;
    }
    ConfigParser(*config).Parse(text.data(), text.size());
    return config;
}

const TessaryConfig *Current()
{
    Store &store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    FileIdentity id = Identify(ResolveConfigPath());
    if (store.generations.empty() || !(id == store.identity)) {
        try {
            auto config = LoadFile(id);
            for (const auto &message : config->errors) {
                std::fprintf(stderr, "tessary: %s\n", message.c_str());
            }
            store.generations.push_back(std::move(config));
            store.identity = id;
        } catch (const std::exception &) {
            // Out of memory: keep serving the previous generation.
        }
    }
    if (store.generations.empty()) {
        static TessaryConfig empty;
        return &empty;
    }
    return store.generations.back().get();
}

// ---- Memory files and output units -----------------------------------------

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

Output &TheOutput()
{
    static Output output;
    return output;
}

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

struct ErrorState {
    std::mutex mutex;
    int code = 0;
    std::string text;
};

ErrorState &TheErrors()
{
    static ErrorState errors;
    return errors;
}

} // namespace

// ---- Configuration interface -----------------------------------------------

TessaryConfig *Tessary_ConfigParse(const char *text, size_t length, const char *fileName)
{
    try {
        auto config = std::make_unique<TessaryConfig>();
        config->fileName = fileName ? fileName : "";
        if (text != nullptr) {
            ConfigParser(*config).Parse(text, length);
        }
        return config.release();
    } catch (const std::exception &) {
        return nullptr;
    }
}

void Tessary_ConfigFree(TessaryConfig *config)
{
    delete config;
}

int Tessary_ConfigCount(const TessaryConfig *config, const char *section, const char *key)
{
    return Count(config, section, key);
}

const char *Tessary_ConfigString(const TessaryConfig *config, const char *section,
                                 const char *key, int index)
{
    return String(config, section, key, index);
}

int Tessary_ConfigErrorCount(const TessaryConfig *config)
{
    return config ? static_cast<int>(config->errors.size()) : 0;
}

const char *Tessary_ConfigError(const TessaryConfig *config, int index)
{
    if (config == nullptr || index < 0 || static_cast<size_t>(index) >= config->errors.size()) {
        return nullptr;
    }
    return config->errors[index].c_str();
}

const char *Tessary_ConfigFileName(const TessaryConfig *config)
{
    return config ? config->fileName.c_str() : "";
}

const TessaryConfig *Tessary_CurrentConfig(void)
{
    return Current();
}

int c_mcfgn(const char *application, const char *variable)
{
    return Count(Current(), application, variable);
}

const char *mcf_getString(const char *section, const char *key, int index)
{
    return String(Current(), section, key, index);
}

const char *mcf_getAppString(const char *application, int index)
{
    if (application == nullptr) {
        return nullptr;
    }
    return String(Current(), application, "VERSION", index);
}

// ---- Memory files and output units -----------------------------------------

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

// ---- Errors, access, strings -----------------------------------------------

void c_erc(int code, const char *text)
{
    ErrorState &errors = TheErrors();
    std::lock_guard<std::mutex> lock(errors.mutex);
    errors.code = code;
    try {
        errors.text = text ? text : "";
    } catch (const std::exception &) {
        errors.text.clear();
    }
    std::fprintf(stderr, "tessary: error %d %s\n", code, errors.text.c_str());
}

int c_erlast(const char **text)
{
    ErrorState &errors = TheErrors();
    std::lock_guard<std::mutex> lock(errors.mutex);
    if (text != nullptr) {
        *text = errors.text.c_str();
    }
    return errors.code;
}

int c_faccess(const char *path, const char *mode)
{
    if (path == nullptr || mode == nullptr || *mode == '\0' || *path == '\0') {
        return -1;
    }
    struct stat st;
    if (::stat(path, &st) != 0) {
        return -1;
    }
    int amode = 0;
    for (const char *m = mode; *m; ++m) {
        switch (*m) {
        case 'e': break;
        case 'r': amode |= R_OK; break;
        case 'w': amode |= W_OK; break;
        case 'x': amode |= X_OK; break;
        case 'd':
            if (!S_ISDIR(st.st_mode)) {
                return -1;
            }
            break;
        case 'f':
            if (!S_ISREG(st.st_mode)) {
                return -1;
            }
            break;
        default: return -1;
        }
    }
    return (amode != 0 && ::access(path, amode) != 0) ? -1 : 0;
}

char *tq_strdup(const char *text)
{
    return text ? ::strdup(text) : nullptr;
}

char *tq_strndup(const char *text, size_t length)
{
    return text ? ::strndup(text, length) : nullptr;
}
