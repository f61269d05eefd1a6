// Test helpers for code that reads the configuration store and memory files:
// a scratch directory, an environment variable put back afterwards, a memory
// file read back line by line, and a call that must not hang on a FIFO.
#ifndef ORX_TESSARY_FIXTURE_H
#define ORX_TESSARY_FIXTURE_H
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <chrono>
#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <fstream>
#include <string>
#include <vector>

#include "tq_tessary.h"

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
    explicit EnvGuard(const char *n) : name(n), had(std::getenv(n)), old(had ? std::getenv(n) : "")
    {}
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

// Makes FIFOs for a call, made on this thread, that must not wait on them.
// A call still running after the time allowed is set free by a writer that
// opens and closes each FIFO, so a failing test ends instead of hanging.
class FifoWatch {
public:
    explicit FifoWatch(std::vector<std::string> fifos, int seconds = 5) : fifos_(std::move(fifos))
    {
        for (const auto &fifo : fifos_) {
            made_ = mkfifo(fifo.c_str(), 0600) == 0 && made_;
        }
        watcher_ = std::thread([this, seconds] {
            std::unique_lock<std::mutex> lock(mutex_);
            if (done_.wait_for(lock, std::chrono::seconds(seconds), [this] { return stop_; })) {
                return;
            }
            freed_ = true;
            while (!done_.wait_for(lock, std::chrono::milliseconds(50), [this] { return stop_; })) {
                for (const auto &fifo : fifos_) {
                    close(open(fifo.c_str(), O_WRONLY | O_NONBLOCK)); // -1 while nobody reads
                }
            }
        });
    }
    ~FifoWatch() { Finish(); }
    bool Made() const { return made_; }
    // Stop watching; true when the call came back in time by itself.
    bool Finish()
    {
        if (watcher_.joinable()) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                stop_ = true;
            }
            done_.notify_all();
            watcher_.join();
        }
        return !freed_;
    }

private:
    std::vector<std::string> fifos_;
    bool made_ = true, stop_ = false, freed_ = false;
    std::mutex mutex_;
    std::condition_variable done_;
    std::thread watcher_;
};
} // namespace orxtest
#endif
