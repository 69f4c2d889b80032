// Named mutexes of the POSIX build: one lock object per name and Windows
// directory, locked with an open-file-description record lock
// (F_OFD_SETLK). The kernel keeps the lock's state, so no other process can
// forge or corrupt it, and releases it when the holder's process ends; the
// same lock works for 32- and 64-bit processes alike.
//
// The lock belongs to the process: any of its threads may release it, and
// a thread that ends holding it does not free it. Which thread owns a book
// lock, and how deep it is nested, is the frame's bookkeeping. Inside the
// process a second waiter waits for the first to release.
//
// Abandonment: the holder stores a marker in the object's first word when
// it wins and clears it before it unlocks. A winner that finds the marker
// set knows the previous holder died holding the lock (WAIT_ABANDONED), and
// overwrites it, so the death is reported once. Garbage written into the
// word by another writer of the folder gives at worst a false report.
#include <fcntl.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/machine.h"
#include "platform/posix/shared_object.h"

namespace kvi::platform {

namespace {

constexpr uint32_t kFree = 0;
constexpr uint32_t kHeld = 1;  // any other value reads as held too
constexpr size_t kLockObjectSize = sizeof(uint32_t);

enum class Phase {
    kFree,    // this process does not hold the lock
    kTaking,  // one of its threads is taking it; the others wait
    kOwned,   // this process holds it
};

// This process's view of one named mutex. A handle is the address of its
// entry. The descriptor is closed only when no handle is open and this
// process does not hold the lock: closing it would release the lock.
struct MutexEntry {
    std::string key;  // Windows directory, NUL, name
    int fd;
    int handles;      // guarded by CacheLock
    bool cached;      // still found by CreateNamedMutex; guarded by CacheLock
    bool retired;     // kept for ever in Retired; guarded by CacheLock
    std::mutex state;
    std::condition_variable released;
    Phase phase = Phase::kFree;  // guarded by state
};

std::mutex& CacheLock() {
    static std::mutex lock;
    return lock;
}

std::map<std::string, MutexEntry*>& Cache() {
    static auto* cache = new std::map<std::string, MutexEntry*>();
    return *cache;
}

// Entries a forked child inherited or a forget left held; never freed,
// since another thread's stack may still refer to them.
std::vector<MutexEntry*>& Retired() {
    static auto* retired = new std::vector<MutexEntry*>();
    return *retired;
}

// A child of fork starts with no lock: its copies of the descriptors share
// the parent's open file descriptions, and so the parent's locks. It closes
// them (the parent keeps its locks) and opens the objects anew if it
// initializes. The entries themselves are left alone: another thread of
// the parent may have held one's state at the fork.
void LockCacheBeforeFork() { CacheLock().lock(); }
void UnlockCacheAfterFork() { CacheLock().unlock(); }
void ForgetAllInChild() {
    for (auto& [key, entry] : Cache()) {
        if (!entry->retired) Retired().push_back(entry);
        entry->retired = true;
        entry->cached = false;
    }
    Cache().clear();
    for (MutexEntry* entry : Retired()) {
        if (entry->fd >= 0) close(entry->fd);
        entry->fd = -1;
    }
    CacheLock().unlock();
}

void RegisterForkHandler() {
    static const bool registered =
        (pthread_atfork(LockCacheBeforeFork, UnlockCacheAfterFork, ForgetAllInChild), true);
    (void)registered;
}

// Frees the entry when nothing of this process uses it any more.
void ReleaseEntryLocked(MutexEntry* entry) {
    if (entry->handles > 0 || entry->retired) return;
    {
        std::lock_guard<std::mutex> guard(entry->state);
        if (entry->phase != Phase::kFree) {
            if (!entry->cached) {
                entry->retired = true;
                Retired().push_back(entry);
            }
            return;
        }
    }
    if (entry->cached) Cache().erase(entry->key);
    if (entry->fd >= 0) close(entry->fd);
    delete entry;
}

std::string ShmNameOf(const char* windowsDir, const char* name) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "%016llx",
                  static_cast<unsigned long long>(posix::Hash64(name, std::strlen(name), posix::kHashSeed)));
    return posix::MachineShmPrefix(windowsDir) + "m" + suffix;
}

using Clock = std::chrono::steady_clock;

// Takes the record lock: at once, without limit, or by polling with a
// back-off from 50 us to 2 ms until the deadline.
uint32_t LockObject(int fd, uint32_t timeoutMs, Clock::time_point deadline) {
    auto delay = std::chrono::microseconds(50);
    for (;;) {
        if (posix::SetByteLock(fd, F_WRLCK, F_OFD_SETLK) == 0) return kWaitObject0;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EACCES) return kWaitFailed;
        if (timeoutMs == 0) return kWaitTimeout;
        if (timeoutMs == kInfinite) {
            while (posix::SetByteLock(fd, F_WRLCK, F_OFD_SETLKW) != 0) {
                if (errno != EINTR) return kWaitFailed;
            }
            return kWaitObject0;
        }
        const auto now = Clock::now();
        if (now >= deadline) return kWaitTimeout;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now);
        const auto nap = delay < left ? delay : left;
        timespec ts{static_cast<time_t>(nap.count() / 1000000), static_cast<long>(nap.count() % 1000000) * 1000};
        nanosleep(&ts, nullptr);
        if (delay < std::chrono::milliseconds(2)) delay *= 2;
    }
}

}  // namespace

void* CreateMutexSecurity() { return nullptr; }  // the objects take the books' folder's rights

void FreeMutexSecurity(void*) {}

MutexHandle CreateNamedMutex(const char* name, void*) {
    // Unnamed mutexes are not needed by the library.
    if (!name || !*name) return 0;
    RegisterForkHandler();
    const char* dir = posix::WindowsDirectoryPath();
    std::string key = std::string(dir) + '\0' + name;
    std::lock_guard<std::mutex> guard(CacheLock());
    auto& cache = Cache();
    auto found = cache.find(key);
    if (found != cache.end()) {
        ++found->second->handles;
        return reinterpret_cast<MutexHandle>(found->second);
    }
    const uint32_t initial = kFree;
    bool writable = false;
    const int fd = posix::OpenSharedObject(dir, ShmNameOf(dir, name), posix::ObjectKind::kLock, &initial,
                                           kLockObjectSize, &writable);
    if (fd < 0) return 0;
    auto* entry = new MutexEntry{key, fd, 1, true, false, {}, {}, Phase::kFree};
    cache.emplace(std::move(key), entry);
    return reinterpret_cast<MutexHandle>(entry);
}

uint32_t WaitMutex(MutexHandle mutex, uint32_t timeoutMs) {
    if (!mutex) return kWaitFailed;
    auto* entry = reinterpret_cast<MutexEntry*>(mutex);
    const Clock::time_point deadline =
        timeoutMs == kInfinite ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
    {
        // The monotonic clock: a change of the wall clock neither cuts a
        // wait short nor stretches it.
        std::unique_lock<std::mutex> lock(entry->state);
        auto free = [entry] { return entry->phase == Phase::kFree; };
        if (timeoutMs == kInfinite) {
            entry->released.wait(lock, free);
        } else if (!entry->released.wait_until(lock, deadline, free)) {
            return kWaitTimeout;
        }
        entry->phase = Phase::kTaking;
    }
    uint32_t result = entry->fd < 0 ? kWaitFailed : LockObject(entry->fd, timeoutMs, deadline);
    if (result == kWaitObject0) {
        uint32_t marker = kFree;
        if (pread(entry->fd, &marker, sizeof marker, 0) != static_cast<ssize_t>(sizeof marker)) marker = kFree;
        if (marker != kFree) result = kWaitAbandoned;
        const uint32_t held = kHeld;
        (void)!pwrite(entry->fd, &held, sizeof held, 0);
        std::lock_guard<std::mutex> lock(entry->state);
        entry->phase = Phase::kOwned;
        return result;
    }
    std::lock_guard<std::mutex> lock(entry->state);
    entry->phase = Phase::kFree;
    entry->released.notify_one();
    return result;
}

int ReleaseMutex(MutexHandle mutex) {
    if (!mutex) return 0;
    auto* entry = reinterpret_cast<MutexEntry*>(mutex);
    std::lock_guard<std::mutex> lock(entry->state);
    if (entry->phase != Phase::kOwned || entry->fd < 0) return 0;
    const uint32_t free = kFree;
    (void)!pwrite(entry->fd, &free, sizeof free, 0);
    posix::SetByteLock(entry->fd, F_UNLCK, F_OFD_SETLK);
    entry->phase = Phase::kFree;
    entry->released.notify_one();
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
        entry->cached = false;
        it = cache.erase(it);
        // Open handles keep the entry; a later CreateNamedMutex opens anew.
        ReleaseEntryLocked(entry);
    }
}

}  // namespace posix

}  // namespace kvi::platform
