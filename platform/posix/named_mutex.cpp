// Named mutexes as Windows has them: machine-wide by name (the machine is
// the Windows directory), owned by a thread, recursive for their owner,
// and abandoned when the owner thread or process dies. Each is a robust,
// process-shared, recursive pthread mutex in POSIX shared memory, which a
// reboot clears. Robustness is what keeps a crash from deadlocking the
// books: the kernel marks a dead owner's mutex, and the next locker gets
// EOWNERDEAD, which is WAIT_ABANDONED.
#include <pthread.h>
#include <sys/mman.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/machine.h"

namespace kvi::platform {

namespace {

constexpr uint32_t kMutexMagic = 0x4B56494Du;  // "KVIM"

struct MutexRegion {
    posix::RegionHeader header;
    pthread_mutex_t mutex;
};
// The size is part of the format, so a build with another pthread_mutex_t
// layout (32-bit beside 64-bit) refuses the region instead of misusing it.
constexpr uint32_t kMutexFormat = (1u << 16) | static_cast<uint32_t>(sizeof(MutexRegion));

// This process's view of one named mutex. A handle is the address of its
// entry. The mapping is dropped only when no handle is open and no thread
// of this process holds the mutex: glibc links a held robust mutex into
// the owner thread's robust list, which must never point at unmapped
// memory.
struct MutexEntry {
    std::string key;  // Windows directory, NUL, name
    std::string shmName;
    MutexRegion* region;
    int handles;      // guarded by CacheLock
    int holds;        // successful waits not yet released; atomic
    bool cached;      // still found by CreateNamedMutex; guarded by CacheLock
};

std::mutex& CacheLock() {
    static std::mutex lock;
    return lock;
}

// A fork while another thread creates or closes a mutex must not leave the
// child with the lock taken.
void LockCacheBeforeFork() { CacheLock().lock(); }
void UnlockCacheAfterFork() { CacheLock().unlock(); }

std::map<std::string, MutexEntry*>& Cache() {
    static std::map<std::string, MutexEntry*>* cache = [] {
        pthread_atfork(LockCacheBeforeFork, UnlockCacheAfterFork, UnlockCacheAfterFork);
        return new std::map<std::string, MutexEntry*>();
    }();
    return *cache;
}

bool InitMutexRegion(void* region) {
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) return false;
    const bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
                    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
                    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
                    pthread_mutex_init(&static_cast<MutexRegion*>(region)->mutex, &attr) == 0;
    pthread_mutexattr_destroy(&attr);
    return ok;
}

std::string ShmNameOf(const char* windowsDir, const char* name) {
    char suffix[24];
    snprintf(suffix, sizeof suffix, "%016llx",
             static_cast<unsigned long long>(posix::Hash64(name, std::strlen(name), posix::kHashSeed)));
    return posix::MachineShmPrefix(windowsDir) + "m" + suffix;
}

// Entries that can never be unmapped: forgotten while a thread of this
// process held the mutex (or died holding it).
std::vector<MutexEntry*>& Retired() {
    static std::vector<MutexEntry*>* retired = new std::vector<MutexEntry*>();
    return *retired;
}

// Frees the entry when nothing of this process uses it any more.
void ReleaseEntryLocked(MutexEntry* entry) {
    if (entry->handles > 0) return;
    if (__atomic_load_n(&entry->holds, __ATOMIC_ACQUIRE) > 0) {
        if (!entry->cached) Retired().push_back(entry);
        return;
    }
    if (entry->cached) Cache().erase(entry->key);
    munmap(entry->region, sizeof(MutexRegion));
    delete entry;
}

timespec DeadlineAfter(uint32_t timeoutMs) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ns = static_cast<uint64_t>(now.tv_nsec) + static_cast<uint64_t>(timeoutMs % 1000) * 1000000u;
    timespec deadline;
    deadline.tv_sec = now.tv_sec + static_cast<time_t>(timeoutMs / 1000) + static_cast<time_t>(ns / 1000000000u);
    deadline.tv_nsec = static_cast<long>(ns % 1000000000u);
    return deadline;
}

}  // namespace

void* CreateMutexSecurity() { return nullptr; }  // the shm objects are made 0666

void FreeMutexSecurity(void*) {}

MutexHandle CreateNamedMutex(const char* name, void*) {
    // Unnamed mutexes are not needed by the library.
    if (!name || !*name) return 0;
    const char* dir = posix::WindowsDirectoryPath();
    std::string key = std::string(dir) + '\0' + name;
    std::lock_guard<std::mutex> guard(CacheLock());
    auto& cache = Cache();
    auto found = cache.find(key);
    if (found != cache.end()) {
        ++found->second->handles;
        return reinterpret_cast<MutexHandle>(found->second);
    }
    const std::string shmName = ShmNameOf(dir, name);
    const uint64_t keyCheck = posix::Hash64(key.data(), key.size(), 0x84222325cbf29ce4ull);
    void* map = posix::OpenSharedRegion(shmName, sizeof(MutexRegion), kMutexMagic, kMutexFormat, keyCheck,
                                        InitMutexRegion);
    if (!map) return 0;
    auto* entry = new MutexEntry{key, shmName, static_cast<MutexRegion*>(map), 1, 0, true};
    cache.emplace(std::move(key), entry);
    return reinterpret_cast<MutexHandle>(entry);
}

uint32_t WaitMutex(MutexHandle mutex, uint32_t timeoutMs) {
    if (!mutex) return kWaitFailed;
    auto* entry = reinterpret_cast<MutexEntry*>(mutex);
    pthread_mutex_t* m = &entry->region->mutex;
    int rc;
    if (timeoutMs == 0) {
        rc = pthread_mutex_trylock(m);
    } else if (timeoutMs == kInfinite) {
        rc = pthread_mutex_lock(m);
    } else {
        // The monotonic clock: a change of the wall clock neither cuts
        // a wait short nor stretches it.
        const timespec deadline = DeadlineAfter(timeoutMs);
        rc = pthread_mutex_clocklock(m, CLOCK_MONOTONIC, &deadline);
    }
    switch (rc) {
    case 0:
        __atomic_add_fetch(&entry->holds, 1, __ATOMIC_ACQ_REL);
        return kWaitObject0;
    case EOWNERDEAD:
        // We own it now. Marking it consistent at once means only this
        // waiter hears of the death, and a crash of ours before the
        // release is reported to the next one in turn.
        pthread_mutex_consistent(m);
        __atomic_add_fetch(&entry->holds, 1, __ATOMIC_ACQ_REL);
        return kWaitAbandoned;
    case EBUSY:
    case ETIMEDOUT:
        return kWaitTimeout;
    default:  // ENOTRECOVERABLE, EAGAIN (recursion count exhausted), EINVAL
        return kWaitFailed;
    }
}

int ReleaseMutex(MutexHandle mutex) {
    if (!mutex) return 0;
    auto* entry = reinterpret_cast<MutexEntry*>(mutex);
    // A recursive robust mutex refuses (EPERM) an unlock by a thread that
    // does not own it, as ReleaseMutex does.
    if (pthread_mutex_unlock(&entry->region->mutex) != 0) return 0;
    __atomic_sub_fetch(&entry->holds, 1, __ATOMIC_ACQ_REL);
    return 1;
}

void CloseMutex(MutexHandle mutex) {
    if (!mutex) return;
    auto* entry = reinterpret_cast<MutexEntry*>(mutex);
    std::lock_guard<std::mutex> guard(CacheLock());
    if (entry->handles > 0) --entry->handles;
    ReleaseEntryLocked(entry);
}

namespace posix {

void ForgetMutexes(const std::string& windowsDir) {
    std::lock_guard<std::mutex> guard(CacheLock());
    auto& cache = Cache();
    const std::string prefix = windowsDir + '\0';
    for (auto it = cache.begin(); it != cache.end();) {
        MutexEntry* entry = it->second;
        if (entry->key.compare(0, prefix.size(), prefix) != 0) {
            ++it;
            continue;
        }
        shm_unlink(entry->shmName.c_str());  // where /dev/shm could not be listed
        entry->cached = false;
        it = cache.erase(it);
        // Open handles keep the entry; a later CreateNamedMutex maps anew.
        ReleaseEntryLocked(entry);
    }
}

}  // namespace posix

}  // namespace kvi::platform
