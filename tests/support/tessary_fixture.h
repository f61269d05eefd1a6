// Test helpers for code that reads the configuration store and memory files:
// a scratch directory, an environment variable put back afterwards, and a
// memory file read back line by line.
#ifndef ORX_TESSARY_FIXTURE_H
#define ORX_TESSARY_FIXTURE_H

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "orx_tessary.h"

namespace orxtest {

struct TempDir {
    TempDir()
    {
        char tmpl[] = "/tmp/orx_test.XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string Write(const std::string &name, const std::string &text) const
    {
        std::ofstream(path + "/" + name, std::ios::binary) << text;
        return path + "/" + name;
    }
    std::string path;
};

struct EnvGuard {
    explicit EnvGuard(const char *n) : name(n), had(std::getenv(n)), old(had ? std::getenv(n) : "") {}
    ~EnvGuard() { had ? setenv(name, old.c_str(), 1) : unsetenv(name); }
    const char *name;
    bool had;
    std::string old;
};

// The lines of a memory file from the start, read as callers read them.
inline std::vector<std::string> ReadMemFile(int memFile)
{
    std::vector<std::string> lines;
    char buffer[300];
    c_mfopen(&memFile, 'r', 0);
    for (int n; (n = c_mfread(memFile, buffer, -256)) >= 0;) {
        lines.emplace_back(buffer, n);
    }
    return lines;
}

} // namespace orxtest

#endif
