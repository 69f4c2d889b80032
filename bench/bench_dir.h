// Private Windows directories for benchmark runs: made with their KVI32
// folder, and removed with the shared memory made for them when the
// program ends, so a run leaves nothing behind.
#ifndef KVI_BENCH_BENCH_DIR_H
#define KVI_BENCH_BENCH_DIR_H

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kvi::bench {

inline std::vector<std::string>& MadeDirectories() {
    static std::vector<std::string>* dirs = [] {
        auto* made = new std::vector<std::string>;
        std::atexit([] {
            for (const std::string& dir : MadeDirectories()) {
                setenv("KVI_WINDOWS_DIR", dir.c_str(), 1);
                platform::RemoveMachineState();
                std::error_code ec;
                std::filesystem::remove_all(dir, ec);
            }
        });
        return made;
    }();
    return *dirs;
}

// A new directory /tmp/<prefix>.XXXXXX with its KVI32 folder.
inline std::string MakeBenchDirectory(const char* prefix = "kvibench") {
    std::string pattern = std::string("/tmp/") + prefix + ".XXXXXX";
    if (!mkdtemp(&pattern[0])) std::abort();
    mkdir((pattern + "/KVI32").c_str(), 0755);
    MadeDirectories().push_back(pattern);
    return pattern;
}

}  // namespace kvi::bench

#endif
