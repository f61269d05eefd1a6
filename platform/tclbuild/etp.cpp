// The enumerated-type registry of the product's Tcl build: type-map parsing,
// the process-wide registry (its C interface takes no interpreter, so neither
// can the registry belong to one) and the etp: commands that show it.
#include "orx_etp.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/internal.h"
#include "platform/orxplat.h"
#include "orx_util.h"

struct EtpAttr {
    bool isInt = true;
    int number = 0;
    std::string text;
};

struct EtpLiteral {
    std::string name;
    EtpAttr attrs[ETP_ATTR_COUNT];
};

struct EtpType {
    std::string name;
    std::vector<std::unique_ptr<EtpLiteral>> literals;
    std::unordered_map<std::string, EtpLiteral *> byName;
    int nextValue = 0;
};

namespace {

const char *const kAttrNames[ETP_ATTR_COUNT + 1] = {"value", "label", "width", "style",
                                                    "red",   "green", "blue",  nullptr};

struct Registry {
    std::mutex mutex;
    std::map<std::string, std::unique_ptr<EtpType>> types;
};

// Process-wide, as the type maps are; built on first use, its mutex guards it.
Registry &TheRegistry()
{
    static Registry registry;
    return registry;
}

// ---- Parsing ---------------------------------------------------------------

struct Setting {
    int index;
    EtpAttr value;
};

struct Entry {
    std::string type;
    std::string literal; // empty: a type line
    std::vector<Setting> settings;
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

// Decimal and within int; false for anything else.
bool ParseInt(const std::string &text, int *value)
{
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char *end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < INT_MIN || v > INT_MAX) {
        return false;
    }
    *value = static_cast<int>(v);
    return true;
}

// "#rrggbb" into its three components.
bool ParseColor(const std::string &text, int rgb[3])
{
    if (text.size() != 7 || text[0] != '#') {
        return false;
    }
    for (int c = 0; c < 3; ++c) {
        int hi = orx::HexDigit(text[1 + 2 * c]), lo = orx::HexDigit(text[2 + 2 * c]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        rgb[c] = hi * 16 + lo;
    }
    return true;
}

class TypeMapParser {
public:
    TypeMapParser(const std::string &fileName, std::vector<Entry> &entries,
                  std::vector<std::string> &errors)
        : fileName_(fileName), entries_(entries), errors_(errors)
    {
    }

    void Parse(std::string_view text)
    {
        orx::ForEachLine(text, [this](std::string_view line, int lineNo) {
            if (line.find('\0') != std::string_view::npos) {
                Error(lineNo, "zero byte in line");
            } else {
                Line(std::string(line), lineNo);
            }
        });
    }

private:
    void Error(int lineNo, const std::string &what)
    {
        errors_.push_back(fileName_ + ":" + std::to_string(lineNo) + ": " + what);
    }

    // Splits a line into words; a word may hold one "quoted" part after "=".
    bool Words(const std::string &line, int lineNo, std::vector<std::string> &words)
    {
        size_t i = 0, n = line.size();
        while (true) {
            while (i < n && IsBlank(line[i])) {
                ++i;
            }
            if (i == n || line[i] == '#') {
                return true;
            }
            std::string word;
            while (i < n && !IsBlank(line[i])) {
                if (line[i] == '"') {
                    ++i;
                    bool closed = false;
                    while (i < n) {
                        char c = line[i++];
                        if (c == '"') {
                            closed = true;
                            break;
                        }
                        if (c == '\\' && i < n && (line[i] == '"' || line[i] == '\\')) {
                            c = line[i++];
                        }
                        word += c;
                    }
                    if (!closed) {
                        Error(lineNo, "unterminated quoted text");
                        return false;
                    }
                    if (i < n && !IsBlank(line[i])) {
                        Error(lineNo, "text after quoted text");
                        return false;
                    }
                    break;
                }
                word += line[i++];
            }
            words.push_back(std::move(word));
        }
    }

    static bool GoodName(const std::string &name)
    {
        if (name.empty() || name[0] == '#') {
            return false;
        }
        return name.find_first_of("=\"") == std::string::npos;
    }

    void Line(const std::string &line, int lineNo)
    {
        std::vector<std::string> words;
        if (!Words(line, lineNo, words) || words.empty()) {
            return;
        }
        if (words[0] == "type") {
            if (words.size() != 2) {
                Error(lineNo, "expected \"type NAME\"");
                return;
            }
            if (!GoodName(words[1])) {
                Error(lineNo, "bad type name \"" + words[1] + "\"");
                return;
            }
            type_ = words[1];
            entries_.push_back({type_, "", {}});
            return;
        }
        if (!GoodName(words[0])) {
            Error(lineNo, "bad literal name \"" + words[0] + "\"");
            return;
        }
        if (type_.empty()) {
            Error(lineNo, "literal \"" + words[0] + "\" before any \"type\" line");
            return;
        }
        Entry entry{type_, words[0], {}};
        for (size_t w = 1; w < words.size(); ++w) {
            if (!AddSetting(words[w], lineNo, entry.settings)) {
                return;
            }
        }
        entries_.push_back(std::move(entry));
    }

    bool AddSetting(const std::string &word, int lineNo, std::vector<Setting> &settings)
    {
        size_t eq = word.find('=');
        if (eq == std::string::npos || eq == 0) {
            Error(lineNo, "expected \"attribute=value\", got \"" + word + "\"");
            return false;
        }
        std::string name = word.substr(0, eq), value = word.substr(eq + 1);
        EtpAttr attr;
        if (name == "color") {
            int rgb[3] = {-1, -1, -1};
            if (value != "none" && !ParseColor(value, rgb)) {
                Error(lineNo, "bad color \"" + value + "\": expected #rrggbb or none");
                return false;
            }
            for (int c = 0; c < 3; ++c) {
                attr.number = rgb[c];
                settings.push_back({ETP_ATTR_RED + c, attr});
            }
            return true;
        }
        int index = -1;
        for (int i = 0; i < ETP_ATTR_COUNT; ++i) {
            if (name == kAttrNames[i]) {
                index = i;
            }
        }
        switch (index) {
        case ETP_ATTR_LABEL:
            attr.isInt = false;
            attr.text = value;
            break;
        case ETP_ATTR_STYLE:
            attr.isInt = false;
            if (value == "solid" || value == "-") {
                attr.text = "-";
            } else if (value == "dash" || value == "- -") {
                attr.text = "- -";
            } else if (value == "dot" || value == ".") {
                attr.text = ".";
            } else {
                Error(lineNo, "bad style \"" + value + "\": must be solid, dash or dot");
                return false;
            }
            break;
        case ETP_ATTR_VALUE:
        case ETP_ATTR_WIDTH:
        case ETP_ATTR_RED:
        case ETP_ATTR_GREEN:
        case ETP_ATTR_BLUE:
            if (!ParseInt(value, &attr.number)) {
                Error(lineNo, "bad " + name + " \"" + value + "\": expected an integer");
                return false;
            }
            break;
        default:
            Error(lineNo, "unknown attribute \"" + name + "\"");
            return false;
        }
        settings.push_back({index, attr});
        return true;
    }

    const std::string &fileName_;
    std::vector<Entry> &entries_;
    std::vector<std::string> &errors_;
    std::string type_;
};

// Caller holds the registry mutex.
EtpType *TypeFor(Registry &registry, const std::string &name)
{
    auto &slot = registry.types[name];
    if (!slot) {
        slot = std::make_unique<EtpType>();
        slot->name = name;
    }
    return slot.get();
}

// Adds the parsed entries to the registry; a literal already known gets the new attributes.
void Merge(const std::vector<Entry> &entries)
{
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (const Entry &entry : entries) {
        EtpType *type = TypeFor(registry, entry.type);
        if (entry.literal.empty()) {
            continue;
        }
        EtpLiteral *literal;
        auto found = type->byName.find(entry.literal);
        if (found != type->byName.end()) {
            literal = found->second;
        } else {
            auto fresh = std::make_unique<EtpLiteral>();
            fresh->name = entry.literal;
            fresh->attrs[ETP_ATTR_VALUE].number = type->nextValue;
            fresh->attrs[ETP_ATTR_LABEL].isInt = false;
            fresh->attrs[ETP_ATTR_LABEL].text = entry.literal;
            fresh->attrs[ETP_ATTR_WIDTH].number = 1;
            fresh->attrs[ETP_ATTR_STYLE].isInt = false;
            fresh->attrs[ETP_ATTR_STYLE].text = "-";
            for (int c = ETP_ATTR_RED; c <= ETP_ATTR_BLUE; ++c) {
                fresh->attrs[c].number = -1;
            }
            literal = fresh.get();
            type->byName.emplace(entry.literal, literal);
            type->literals.push_back(std::move(fresh));
        }
        for (const Setting &setting : entry.settings) {
            literal->attrs[setting.index] = setting.value;
        }
        int value = literal->attrs[ETP_ATTR_VALUE].number;
        if (value >= type->nextValue && value < INT_MAX) {
            type->nextValue = value + 1;
        }
    }
}

// Parses a type map and merges it unless only checking, or atomic with errors;
// returns the number of errors, printed unless quiet.
int Load(const char *text, size_t length, const std::string &fileName, int flags,
         std::vector<std::string> &errors)
{
    std::vector<Entry> entries;
    TypeMapParser(fileName, entries, errors).Parse(std::string_view(text, length));
    if (!(flags & ETP_LOAD_CHECK) && !((flags & ETP_LOAD_ATOMIC) && !errors.empty())) {
        Merge(entries);
    }
    if (!(flags & ETP_LOAD_QUIET)) {
        for (const auto &message : errors) {
            std::fprintf(stderr, "%s\n", message.c_str());
        }
    }
    return static_cast<int>(errors.size());
}

// Type maps are a few kilobytes; anything near this is not one.
constexpr size_t kMaxTypeMapSize = 16u << 20;

// ---- Tcl commands ------------------------------------------------------------

// Null, with the LOOKUP error set, for an unknown type.
EtpType *FindTypeOrError(Tcl_Interp *interp, Tcl_Obj *nameObj)
{
    EtpType *type = nullptr;
    if (!etpFindType(Tcl_GetString(nameObj), &type)) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("unknown enumerated type \"%s\"",
                                               Tcl_GetString(nameObj)));
        orx::LookupCode(interp, "TYPE", Tcl_GetString(nameObj));
        return nullptr;
    }
    return type;
}

// An attribute as a Tcl value: an integer when it holds one.
Tcl_Obj *AttrObj(const EtpAttr &attr)
{
    return attr.isInt ? Tcl_NewIntObj(attr.number)
                      : Tcl_NewStringObj(attr.text.data(), static_cast<int>(attr.text.size()));
}

// etp:types
int EtpTypesObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 1) {
        return orx::WrongArgs(interp, objv[0], "");
    }
    Registry &registry = TheRegistry();
    Tcl_Obj *list = Tcl_NewObj();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (const auto &entry : registry.types) {
        Tcl_ListObjAppendElement(nullptr, list,
                                 Tcl_NewStringObj(entry.first.data(),
                                                  static_cast<int>(entry.first.size())));
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

// etp:literals type
int EtpLiteralsObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 2) {
        return orx::WrongArgs(interp, objv[0], "type");
    }
    EtpType *type = FindTypeOrError(interp, objv[1]);
    if (type == nullptr) {
        return TCL_ERROR;
    }
    Registry &registry = TheRegistry();
    Tcl_Obj *list = Tcl_NewObj();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (const auto &literal : type->literals) {
        Tcl_ListObjAppendElement(nullptr, list,
                                 Tcl_NewStringObj(literal->name.data(),
                                                  static_cast<int>(literal->name.size())));
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

// etp:attr type literal ?attribute?
int EtpAttrObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 3 || objc > 4) {
        return orx::WrongArgs(interp, objv[0], "type literal ?attribute?");
    }
    EtpType *type = FindTypeOrError(interp, objv[1]);
    if (type == nullptr) {
        return TCL_ERROR;
    }
    EtpLiteral *literal = nullptr;
    if (!etpFindTypeLiteralByName(type, Tcl_GetString(objv[2]), &literal)) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("unknown literal \"%s\" in enumerated type \"%s\"",
                                               Tcl_GetString(objv[2]), type->name.c_str()));
        return orx::LookupCode(interp, "LITERAL", Tcl_GetString(objv[2]));
    }
    int index = -1;
    if (objc == 4 && Tcl_GetIndexFromObj(interp, objv[3], kAttrNames, "attribute", TCL_EXACT,
                                         &index) != TCL_OK) {
        return TCL_ERROR;
    }
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (index >= 0) {
        Tcl_SetObjResult(interp, AttrObj(literal->attrs[index]));
        return TCL_OK;
    }
    Tcl_Obj *list = Tcl_NewObj();
    for (int i = 0; i < ETP_ATTR_COUNT; ++i) {
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(kAttrNames[i], -1));
        Tcl_ListObjAppendElement(nullptr, list, AttrObj(literal->attrs[i]));
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

// etp:load fileName
int EtpLoadObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 2) {
        return orx::WrongArgs(interp, objv[0], "fileName");
    }
    Tcl_DString native;
    const char *path = Tcl_TranslateFileName(interp, Tcl_GetString(objv[1]), &native);
    if (path == nullptr) {
        return TCL_ERROR;
    }
    int status = TCL_OK;
    try {
        std::string text, why;
        OrxPlat_ReadStatus read = OrxPlat_ReadWholeFile(path, kMaxTypeMapSize, &text, &why);
        if (read != ORXPLAT_READ_OK) {
            if (read == ORXPLAT_READ_MISSING) {
                Tcl_SetErrno(ENOENT);
            }
            // errno still tells a failed open or read; the other reasons are ours.
            const bool system = read == ORXPLAT_READ_MISSING || read == ORXPLAT_READ_FAILED;
            Tcl_SetObjResult(interp, Tcl_ObjPrintf("couldn't read type map \"%s\": %s",
                                                   Tcl_GetString(objv[1]),
                                                   system ? orx::PosixCode(interp, Tcl_GetErrno())
                                                          : why.c_str()));
            if (!system) {
                orx::ValueCode(interp, "FILE", Tcl_GetString(objv[1]));
            }
            status = TCL_ERROR;
        } else {
            std::vector<std::string> errors;
            Load(text.data(), text.size(), Tcl_GetString(objv[1]),
                 ETP_LOAD_QUIET | ETP_LOAD_ATOMIC, errors);
            if (!errors.empty()) {
                std::string message = "type map not loaded:";
                for (const auto &e : errors) {
                    message += "\n" + e;
                }
                Tcl_SetObjResult(interp,
                                 Tcl_NewStringObj(message.data(), static_cast<int>(message.size())));
                status = orx::ValueCode(interp, "FORMAT", Tcl_GetString(objv[1]));
            }
        }
    } catch (const std::exception &) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("out of memory loading type map", -1));
        status = TCL_ERROR;
    }
    Tcl_DStringFree(&native);
    return status;
}

} // namespace

int etpLoadTypeMap(const char *path, int flags)
{
    if (path == nullptr) {
        return -1;
    }
    try {
        std::string text, why;
        if (OrxPlat_ReadWholeFile(path, kMaxTypeMapSize, &text, &why) != ORXPLAT_READ_OK) {
            return -1;
        }
        std::vector<std::string> errors;
        return Load(text.data(), text.size(), path, flags, errors);
    } catch (const std::exception &) {
        return -1;
    }
}

int etpLoadTypeMapText(const char *text, size_t length, const char *fileName, int flags,
                       char **errorsPtr)
{
    if (errorsPtr != nullptr) {
        *errorsPtr = nullptr;
    }
    try {
        std::vector<std::string> errors;
        int n = Load(text ? text : "", text ? length : 0, fileName ? fileName : "", flags, errors);
        if (errorsPtr != nullptr && !errors.empty()) {
            std::string all;
            for (const auto &e : errors) {
                all += e;
                all += '\n';
            }
            *errorsPtr = Tcl_Alloc(static_cast<unsigned>(all.size() + 1));
            std::memcpy(*errorsPtr, all.c_str(), all.size() + 1);
        }
        return n;
    } catch (const std::exception &) {
        return 1;
    }
}

int etpCreateTclCommands(Tcl_Interp *interp)
{
    Tcl_CreateObjCommand(interp, "etp:types", EtpTypesObjCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "etp:literals", EtpLiteralsObjCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "etp:attr", EtpAttrObjCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "etp:load", EtpLoadObjCmd, nullptr, nullptr);
    return TCL_OK;
}

int etpFindType(const char *typeName, EtpType **typePtr)
{
    if (typeName == nullptr) {
        return 0;
    }
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = registry.types.find(typeName);
    if (found == registry.types.end()) {
        return 0;
    }
    if (typePtr != nullptr) {
        *typePtr = found->second.get();
    }
    return 1;
}

int etpFindTypeLiteralByName(EtpType *type, const char *literalName, EtpLiteral **literalPtr)
{
    if (type == nullptr || literalName == nullptr) {
        return 0;
    }
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = type->byName.find(literalName);
    if (found == type->byName.end()) {
        return 0;
    }
    if (literalPtr != nullptr) {
        *literalPtr = found->second;
    }
    return 1;
}

int etpGetLiteralAttr(EtpLiteral *literal, int index, EtpAttr **attrPtr)
{
    if (literal == nullptr || index < 0 || index >= ETP_ATTR_COUNT) {
        return 0;
    }
    if (attrPtr != nullptr) {
        *attrPtr = &literal->attrs[index];
    }
    return 1;
}

int etpSetAttrValFromInt(EtpAttr *attr, int value)
{
    if (attr == nullptr) {
        return 0;
    }
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (attr->isInt) {
        attr->number = value;
        return 1;
    }
    try {
        attr->text = std::to_string(value);
    } catch (const std::exception &) {
        return 0;
    }
    return 1;
}

int etpSetAttrValFromString(EtpAttr *attr, const char *value)
{
    if (attr == nullptr || value == nullptr) {
        return 0;
    }
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (attr->isInt) {
        try {
            return ParseInt(value, &attr->number) ? 1 : 0;
        } catch (const std::exception &) {
            return 0;
        }
    }
    try {
        attr->text = value;
    } catch (const std::exception &) {
        return 0;
    }
    return 1;
}

int etpGetAttrInt(EtpAttr *attr, int *valuePtr)
{
    if (attr == nullptr || valuePtr == nullptr) {
        return 0;
    }
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (attr->isInt) {
        *valuePtr = attr->number;
    } else {
        int v = 0;
        *valuePtr = ParseInt(attr->text, &v) ? v : 0;
    }
    return 1;
}

int etpGetAttrString(EtpAttr *attr, char *buffer, size_t size)
{
    if (attr == nullptr || buffer == nullptr || size == 0) {
        return 0;
    }
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (attr->isInt) {
        std::snprintf(buffer, size, "%d", attr->number);
    } else {
        std::snprintf(buffer, size, "%s", attr->text.c_str());
    }
    return 1;
}
