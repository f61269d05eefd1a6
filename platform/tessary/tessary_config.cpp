// Stand-in for the configuration store of the closed library libtq_tessary:
// the parser of our text format (docs/reference/config-file.md) and the
// process's store, which follows the configured file and frees old readings
// once no thread can still use text taken from them.
#include "tq_tessary.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/internal.h"
#include "platform/orxplat.h"

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
    // Per key, the sections that hold it, in file order: a query by key
    // alone reads its i-th section directly, not by a walk over them all.
    std::unordered_map<std::string, std::vector<size_t>> keySections;
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

// Trims blanks at both ends of a range, in place.
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

    void Parse(std::string_view text)
    {
        if (text.substr(0, 3) == "\xEF\xBB\xBF") {
            text.remove_prefix(3);
        }
        orx::ForEachLine(text, [this](std::string_view line, int lineNo) {
            Line(line.data(), line.data() + line.size(), lineNo);
        });
        for (size_t i = 0; i < config_.sections.size(); ++i) {
            for (const auto &key : config_.sections[i].keys) {
                config_.keySections[key.name].push_back(i);
            }
        }
    }

private:
    void Error(int lineNo, const std::string &what)
    {
        config_.errors.push_back(config_.fileName + ":" + std::to_string(lineNo) + ": " + what);
    }

    void Line(const char *begin, const char *end, int lineNo)
    {
        if (std::memchr(begin, '\0', end - begin) != nullptr) {
            Error(lineNo, "zero byte in line");
            return;
        }
        Trim(begin, end);
        if (begin == end || *begin == '#' || *begin == ';') {
            return;
        }
        if (*begin == '[') {
            // A bad header must not let its keys fall into the section before.
            current_ = nullptr;
            badHeaderLine_ = lineNo;
            if (SectionHeader(begin + 1, end, lineNo)) {
                badHeaderLine_ = 0;
            }
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
        if (current_ == nullptr && badHeaderLine_ == 0) {
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
        if (current_ == nullptr) {
            Error(lineNo, "key \"" + key + "\" dropped after the malformed section header of line " +
                              std::to_string(badHeaderLine_));
            return;
        }
        auto found = current_->keyIndex.find(key);
        if (found == current_->keyIndex.end()) {
            found = current_->keyIndex.emplace(key, current_->keys.size()).first;
            current_->keys.push_back({key, {}});
        }
        current_->keys[found->second].values.push_back(std::move(value));
    }

    // begin is just past the "["; false for a malformed header.
    bool SectionHeader(const char *begin, const char *end, int lineNo)
    {
        const char *close = static_cast<const char *>(std::memchr(begin, ']', end - begin));
        if (close == nullptr) {
            Error(lineNo, "missing \"]\" in section header");
            return false;
        }
        if (close + 1 != end) {
            Error(lineNo, "text after section header");
            return false;
        }
        const char *nameEnd = close;
        Trim(begin, nameEnd);
        if (begin == nameEnd) {
            Error(lineNo, "empty section name");
            return false;
        }
        std::string name(begin, nameEnd);
        if (name.find('[') != std::string::npos) {
            Error(lineNo, "bad character in section name \"" + name + "\"");
            return false;
        }
        auto found = config_.sectionIndex.find(name);
        if (found == config_.sectionIndex.end()) {
            found = config_.sectionIndex.emplace(name, config_.sections.size()).first;
            config_.sections.push_back({name, {}, {}});
        }
        current_ = &config_.sections[found->second];
        return true;
    }

    // p is just past the opening quote.
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
    int badHeaderLine_ = 0; // line of the malformed header whose keys are dropped
};

// Values of a key, keys of a section or sections; 0 for a null configuration.
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
    auto holders = config->keySections.find(key);
    return holders == config->keySections.end() ? 0 : static_cast<int>(holders->second.size());
}

// The index-th value, from 1; null when there is none.
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
    // Each value is found directly, so that listing them all stays linear.
    if (key == nullptr) {
        return i < config->sections.size() ? config->sections[i].name.c_str() : nullptr;
    }
    auto holders = config->keySections.find(key);
    if (holders == config->keySections.end() || i >= holders->second.size()) {
        return nullptr;
    }
    return config->sections[holders->second[i]].name.c_str();
}

// ---- The process's store ---------------------------------------------------

constexpr size_t kMaxConfigSize = 16u << 20;

std::atomic<int> liveReadings{0};

// One reading of the file, with the text it came from, so that a file that
// was touched but not changed keeps its reading (and the strings taken from it).
struct Reading {
    TessaryConfig config;
    std::string text;
    bool hasText = false; // false: the file could not be read

    Reading() { ++liveReadings; }
    ~Reading() { --liveReadings; }
    Reading(const Reading &) = delete;
    Reading &operator=(const Reading &) = delete;
};

struct FileIdentity {
    std::string path;
    bool exists = false;
    unsigned long long volume = 0;
    unsigned long long node = 0;
    long long size = 0;
    long long modifiedNs = 0;

    bool operator==(const FileIdentity &o) const
    {
        return path == o.path && exists == o.exists && volume == o.volume && node == o.node &&
               size == o.size && modifiedNs == o.modifiedNs;
    }
};

// Process-wide: one configuration file per process.
struct Store {
    std::mutex mutex;
    FileIdentity identity;
    std::shared_ptr<const Reading> current;
};

// Process-wide: the configuration is the process's; built on first use.
Store &TheStore()
{
    static Store store;
    return store;
}

// The readings that text handed to this thread came from.  A reading stays
// until this thread's queries have found two newer ones, so a caller may take
// a string, query again (which may read a changed file) and still use it.
struct HeldReadings {
    std::shared_ptr<const Reading> latest, before;

    const TessaryConfig *Hold(const std::shared_ptr<const Reading> &reading)
    {
        if (reading != latest) {
            before = std::move(latest);
            latest = reading;
        }
        return &latest->config;
    }
};
thread_local HeldReadings heldByThread;

// TESSARY_CONFIG when set, else the first config/tessary.cfg along MORVA_HOME; "" for none.
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
    std::string found;
    orx::ForEachPathElement(home, [&](std::string_view dir) {
        if (found.empty()) {
            std::string path = std::string(dir) + "/config/tessary.cfg";
            if (OrxPlat_IsRegularFile(path)) {
                found = std::move(path);
            }
        }
    });
    return found;
}

// Path and file identity, so a changed or replaced file is read again.
FileIdentity Identify(const std::string &path)
{
    FileIdentity id;
    id.path = path;
    OrxPlat_FileInfo info;
    if (!path.empty() && OrxPlat_Stat(path.c_str(), &info) == 0) {
        id.exists = true;
        id.volume = info.volume;
        id.node = info.node;
        id.size = info.size;
        id.modifiedNs = info.modifiedNs;
    }
    return id;
}

// Read the file anew; the previous reading comes back when the text is the same.
std::shared_ptr<const Reading> Load(const FileIdentity &id,
                                    const std::shared_ptr<const Reading> &previous)
{
    const std::string &path = id.path;
    auto reading = std::make_shared<Reading>();
    TessaryConfig &config = reading->config;
    config.fileName = path;
    if (path.empty()) {
        return reading;
    }
    if (!id.exists) {
        config.errors.push_back(path + ": no such file");
        return reading;
    }
    std::string why;
    switch (OrxPlat_ReadWholeFile(path, kMaxConfigSize, &reading->text, &why)) {
    case ORXPLAT_READ_OK: break;
    case ORXPLAT_READ_MISSING: config.errors.push_back(path + ": no such file"); return reading;
    case ORXPLAT_READ_NOT_REGULAR:
        config.errors.push_back(path + ": not a regular file, not read");
        return reading;
    case ORXPLAT_READ_TOO_LARGE:
        config.errors.push_back(path + ": file larger than 16 MB, not read");
        return reading;
    case ORXPLAT_READ_FAILED:
        config.errors.push_back(path + ": cannot open: " + why);
        return reading;
    }
    if (previous && previous->hasText && previous->config.fileName == path &&
        previous->text == reading->text) {
        return previous;
    }
    reading->hasText = true;
    ConfigParser(config).Parse(reading->text);
    return reading;
}

// The reading for the file as it is now, read again when it changed; never null.
const TessaryConfig *Current()
{
    Store &store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    try {
        FileIdentity id = Identify(ResolveConfigPath());
        if (!store.current || !(id == store.identity)) {
            auto reading = Load(id, store.current);
            if (reading != store.current) {
                for (const auto &message : reading->config.errors) {
                    std::fprintf(stderr, "tessary: %s\n", message.c_str());
                }
            }
            store.current = std::move(reading);
            store.identity = id;
        }
    } catch (const std::exception &) {
        // Out of memory: keep serving the previous reading.
    }
    if (!store.current) {
        static const TessaryConfig empty;
        return &empty;
    }
    // This thread lets go of its older readings here, and only here.
    return heldByThread.Hold(store.current);
}

} // namespace

TessaryConfig *Tessary_ConfigParse(const char *text, size_t length, const char *fileName)
{
    try {
        auto config = std::make_unique<TessaryConfig>();
        config->fileName = fileName ? fileName : "";
        if (text != nullptr) {
            ConfigParser(*config).Parse(std::string_view(text, length));
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

int Tessary_ConfigReadings(void)
{
    return liveReadings.load();
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
