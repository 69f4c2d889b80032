// The Windows directory of one fuzzing process: made on the first input
// (in memory where /dev/shm exists, since every commit syncs), with its
// KVI32 and KVI folders, the library initialized in it, and removed when
// the process ends, with the lock objects and shared block made for it.
#ifndef KVI_FUZZ_FUZZ_SUPPORT_H
#define KVI_FUZZ_FUZZ_SUPPORT_H

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "kviabdb.h"
#include "platform/platform.h"

namespace kvi::fuzz {

inline const std::string& FuzzWindowsDir() {
    static const std::string dir = [] {
        char shm[] = "/dev/shm/kvifuzz.XXXXXX";
        char tmp[] = "/tmp/kvifuzz.XXXXXX";
        const char* made = mkdtemp(shm);
        if (!made) made = mkdtemp(tmp);
        if (!made) std::abort();
        static std::string d = made;
        std::filesystem::create_directory(d + "/KVI32");
        std::filesystem::create_directory(d + "/KVI");
        std::atexit([] {
            kvi::platform::RemoveMachineState();  // keyed by the folder: before it goes
            std::error_code ec;
            std::filesystem::remove_all(d, ec);
        });
        setenv("KVI_WINDOWS_DIR", d.c_str(), 1);
        if (KviDfInitialize() != 1) std::abort();
        return d;
    }();
    return dir;
}

}  // namespace kvi::fuzz

#endif
