// The block every process of the machine shares (initialization count and
// locker names), in POSIX shared memory named after the Windows directory.
// Asked for on every lock and locker query, so the mapping is cached per
// directory string: the common call is one getenv and one strcmp.
#include <pthread.h>
#include <sys/mman.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/machine.h"

namespace kvi::platform {

namespace {

constexpr uint32_t kBlockMagic = 0x4B564942u;  // "KVIB"

struct BlockRegion {
    posix::RegionHeader header;
    SharedBlock block;
};
// The block is plain bytes at offset 16 on 32- and 64-bit builds alike
// (only the tail padding differs), so both kinds of process share it.
static_assert(offsetof(BlockRegion, block) == 16, "the block follows the 16-byte header");
constexpr uint32_t kBlockFormat = (1u << 16) | static_cast<uint32_t>(sizeof(SharedBlock));
constexpr size_t kBlockRegionSize = offsetof(BlockRegion, block) + sizeof(SharedBlock);

// Entries are never freed: callers keep the block's address (the frame
// holds a reference across a lock), so a forgotten entry stays mapped.
struct BlockEntry {
    std::string windowsDir;
    std::string shmName;
    SharedBlock* block;
};

std::atomic<BlockEntry*> g_last{nullptr};  // the entry of the latest directory

std::mutex& EntriesLock() {
    static std::mutex lock;
    return lock;
}

void LockEntriesBeforeFork() { EntriesLock().lock(); }
void UnlockEntriesAfterFork() { EntriesLock().unlock(); }

struct Entries {
    std::map<std::string, BlockEntry*> live;
    std::vector<BlockEntry*> forgotten;  // keeps them reachable
};

Entries& AllEntries() {
    static Entries* entries = [] {
        pthread_atfork(LockEntriesBeforeFork, UnlockEntriesAfterFork, UnlockEntriesAfterFork);
        return new Entries();
    }();
    return *entries;
}

bool InitBlockRegion(void* region) {
    std::memset(&static_cast<BlockRegion*>(region)->block, 0, sizeof(SharedBlock));
    return true;
}

SharedBlock* MapBlock(const char* dir, std::string* shmName) {
    *shmName = posix::MachineShmPrefix(dir) + "block";
    const uint64_t keyCheck = posix::Hash64(dir, std::strlen(dir), 0x84222325cbf29ce4ull);
    void* map = posix::OpenSharedRegion(*shmName, kBlockRegionSize, kBlockMagic, kBlockFormat, keyCheck,
                                        InitBlockRegion);
    if (map) return &static_cast<BlockRegion*>(map)->block;
    // Without shared memory the process keeps a block of its own: the
    // locks still work through the mutexes, only the count and the locker
    // names are not seen by other processes.
    return new SharedBlock{};
}

SharedBlock* SharedBlockSlow(const char* dir) {
    std::lock_guard<std::mutex> guard(EntriesLock());
    Entries& entries = AllEntries();
    auto found = entries.live.find(dir);
    BlockEntry* entry;
    if (found != entries.live.end()) {
        entry = found->second;
    } else {
        entry = new BlockEntry{dir, std::string(), nullptr};
        entry->block = MapBlock(dir, &entry->shmName);
        entries.live.emplace(entry->windowsDir, entry);
    }
    g_last.store(entry, std::memory_order_release);
    return entry->block;
}

}  // namespace

SharedBlock* ProcessSharedBlock() {
    const char* dir = posix::WindowsDirectoryPath();
    BlockEntry* last = g_last.load(std::memory_order_acquire);
    if (last && std::strcmp(last->windowsDir.c_str(), dir) == 0) return last->block;
    return SharedBlockSlow(dir);
}

namespace posix {

void ForgetSharedBlock(const std::string& windowsDir) {
    std::lock_guard<std::mutex> guard(EntriesLock());
    Entries& entries = AllEntries();
    shm_unlink((MachineShmPrefix(windowsDir.c_str()) + "block").c_str());
    auto found = entries.live.find(windowsDir);
    if (found == entries.live.end()) return;
    BlockEntry* entry = found->second;
    entries.live.erase(found);
    entries.forgotten.push_back(entry);
    BlockEntry* expected = entry;
    g_last.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
}

}  // namespace posix

}  // namespace kvi::platform
