// History files, the same on every system: read, appended to and trimmed
// under the file's lock (OrxPlat_FileLock), trimmed by a safe rewrite.
// Compiled with the OS folder of the build.
#include "platform/orxplat.h"

#include "base/internal.h"

namespace {

// History files larger than this are not read (a history of 1000 commands
// is far smaller).
constexpr size_t kHistoryFileLimit = 64u << 20;

// The history entries of a file the caller holds locked; empty when unreadable.
std::vector<std::string> LoadLocked(const std::string &path)
{
    std::vector<std::string> entries;
    std::string text, why;
    if (OrxPlat_ReadWholeFile(path, kHistoryFileLimit, &text, &why) != ORXPLAT_READ_OK) {
        return entries;
    }
    orx::ForEachLine(text, [&](std::string_view line, int) {
        if (!line.empty()) {
            entries.push_back(OrxPlat_UnescapeHistoryLine(std::string(line)));
        }
    });
    return entries;
}

} // namespace

std::vector<std::string> OrxPlat_LoadHistoryFile(const std::string &path)
{
    try {
        OrxPlat_FileLock lock(path);
        return LoadLocked(path);
    } catch (...) {
        return {};
    }
}

bool OrxPlat_AppendHistoryFile(const std::string &path, const std::string &entry)
{
    try {
        std::string line = OrxPlat_EscapeHistoryEntry(entry) + "\n";
        OrxPlat_FileLock lock(path);
        return OrxPlat_AppendToFile(path, line) == 0;
    } catch (...) {
        return false;
    }
}

bool OrxPlat_TrimHistoryFile(const std::string &path, size_t keep)
{
    try {
        OrxPlat_FileLock lock(path);
        std::vector<std::string> entries = LoadLocked(path);
        if (entries.size() <= keep) {
            return true;
        }
        std::string text;
        for (size_t i = entries.size() - keep; i < entries.size(); i++) {
            text += OrxPlat_EscapeHistoryEntry(entries[i]);
            text += '\n';
        }
        return OrxPlat_RewriteFile(path, text) == 0;
    } catch (...) {
        return false;
    }
}
