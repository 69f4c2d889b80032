// The Windows directory, the shared memory naming, and the removal of a
// directory's objects.
#include "platform/posix/machine.h"

#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/shared_object.h"

namespace kvi::platform {

namespace posix {

namespace {

constexpr const char kDefaultWindowsDir[] = "/var/lib/kviabdb";

// The canonical path of one spelling of the Windows directory. Entries are
// never freed: WindowsDirectoryPath hands out pointers into them.
struct Canonical {
    std::string raw;
    std::string path;
};
std::atomic<const Canonical*> g_canonical{nullptr};

const char* Canonicalize(const char* raw) {
    static std::mutex lock;
    static std::vector<Canonical*>* all = new std::vector<Canonical*>();
    char* real = realpath(raw, nullptr);
    if (!real) return raw;
    std::lock_guard<std::mutex> guard(lock);
    const Canonical* entry = nullptr;
    for (const Canonical* known : *all) {
        if (known->raw == raw && known->path == real) entry = known;
    }
    if (!entry) {
        auto* made = new Canonical{raw, real};
        all->push_back(made);
        entry = made;
    }
    std::free(real);
    g_canonical.store(entry, std::memory_order_release);
    return entry->path.c_str();
}

}  // namespace

const char* WindowsDirectoryPath() {
    const char* env = std::getenv("KVI_WINDOWS_DIR");
    const char* raw = env && *env ? env : kDefaultWindowsDir;
    const Canonical* last = g_canonical.load(std::memory_order_acquire);
    if (last && last->raw == raw) return last->path.c_str();
    return Canonicalize(raw);
}

uint64_t Hash64(const char* bytes, size_t length, uint64_t seed) {
    uint64_t h = seed;
    for (size_t i = 0; i < length; ++i) {
        h ^= static_cast<unsigned char>(bytes[i]);
        h *= 0x100000001b3ull;
    }
    return h;
}

std::string MachineShmPrefix(const char* windowsDir) {
    char prefix[40];
    std::snprintf(prefix, sizeof prefix, "/kviabdb2-%016llx-",
                  static_cast<unsigned long long>(Hash64(windowsDir, std::strlen(windowsDir), kHashSeed)));
    return prefix;
}

}  // namespace posix

uint32_t GetWindowsDirectory(char* buffer, uint32_t size) {
    const char* dir = posix::WindowsDirectoryPath();
    const size_t length = std::strlen(dir);
    if (length >= 0xFFFFFFFFu) return 0;
    const uint32_t needed = static_cast<uint32_t>(length) + 1;
    // Too small: the size needed, NUL included, and nothing copied.
    if (!buffer || size < needed) return needed;
    std::memcpy(buffer, dir, needed);
    return needed - 1;
}

void RemoveMachineState() {
    const std::string dir = posix::WindowsDirectoryPath();
    const std::string prefix = posix::MachineShmPrefix(dir.c_str());
    // Every name made for this directory, by this process or any other,
    // carries the prefix; Linux shows POSIX shared memory in /dev/shm.
    std::vector<std::string> names;
    if (DIR* shm = opendir(posix::kShmDir)) {
        while (const dirent* entry = readdir(shm)) {
            const std::string name = std::string("/") + entry->d_name;
            if (name.compare(0, prefix.size(), prefix) == 0) names.push_back(name);
        }
        closedir(shm);
    }
    for (const std::string& name : names) unlink((posix::kShmDir + name).c_str());
    posix::ForgetMutexes(dir);
    posix::ForgetSharedBlock(dir);
}

}  // namespace kvi::platform
