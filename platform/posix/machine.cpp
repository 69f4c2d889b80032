// The Windows directory, the shared memory naming and the creation
// protocol shared by the named mutexes and the shared block.
#include "platform/posix/machine.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace kvi::platform {

namespace posix {

namespace {

constexpr const char kDefaultWindowsDir[] = "/var/lib/kviabdb";

// Unlocks and closes the descriptor on every path out. The unlock must be
// explicit: a mapping of the object keeps its open file, and with it the
// flock, alive after close, which would block every other process's open.
class ScopedFd {
public:
    explicit ScopedFd(int fd) : fd_(fd) {}
    ~ScopedFd() {
        if (fd_ < 0) return;
        flock(fd_, LOCK_UN);
        close(fd_);
    }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

const char* WindowsDirectoryPath() {
    const char* dir = std::getenv("KVI_WINDOWS_DIR");
    return dir && *dir ? dir : kDefaultWindowsDir;
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
    std::snprintf(prefix, sizeof prefix, "/kviabdb-%016llx-",
                  static_cast<unsigned long long>(Hash64(windowsDir, std::strlen(windowsDir), kHashSeed)));
    return prefix;
}

void* OpenSharedRegion(const std::string& name, size_t size, uint32_t magic, uint32_t format,
                       uint64_t keyCheck, bool (*init)(void* region)) {
    // Every account may open the object, as the null DACL allows on Windows.
    ScopedFd fd(shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (fd.get() < 0) return nullptr;
    while (flock(fd.get(), LOCK_EX) != 0) {
        if (errno != EINTR) return nullptr;
    }
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return nullptr;
    if (st.st_size == 0) fchmod(fd.get(), 0666);  // past the umask; failure only narrows access
    // A short object is one whose creator died before sizing it; growing
    // it keeps any bytes already there, and the header check below refuses
    // a region of another layout.
    if (static_cast<uint64_t>(st.st_size) < size && ftruncate(fd.get(), static_cast<off_t>(size)) != 0) {
        return nullptr;
    }
    void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (map == MAP_FAILED) return nullptr;
    auto* header = static_cast<RegionHeader*>(map);
    const uint32_t found = __atomic_load_n(&header->magic, __ATOMIC_ACQUIRE);
    bool ok;
    if (found == 0) {
        // Nobody can be using it: users only trust a published magic, and
        // we hold the lock every opener takes.
        ok = init(map);
        if (ok) {
            header->keyCheck = keyCheck;
            __atomic_store_n(&header->format, format, __ATOMIC_RELEASE);
            __atomic_store_n(&header->magic, magic, __ATOMIC_RELEASE);
        }
    } else {
        ok = found == magic && header->format == format && header->keyCheck == keyCheck;
    }
    if (!ok) {
        munmap(map, size);
        return nullptr;
    }
    return map;  // ScopedFd drops the flock
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
    if (DIR* shm = opendir("/dev/shm")) {
        while (const dirent* entry = readdir(shm)) {
            const std::string name = std::string("/") + entry->d_name;
            if (name.compare(0, prefix.size(), prefix) == 0) names.push_back(name);
        }
        closedir(shm);
    }
    for (const std::string& name : names) shm_unlink(name.c_str());
    posix::ForgetMutexes(dir);
    posix::ForgetSharedBlock(dir);
}

}  // namespace kvi::platform
