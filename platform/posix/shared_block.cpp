// The block every process of the machine shares (initialization count and
// locker names), in POSIX shared memory named after the Windows directory.
// It is plain data and, since every writer of the books' folder may write
// it, untrusted: readers copy the names with bounds and nothing in it is an
// address or a size. An account that may only read the folder maps it
// read-only. Asked for on every lock and locker query, so the mapping is
// cached per directory: the common call is one getenv and one strcmp.
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

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

// Fixed widths and no padding: 32- and 64-bit processes share it.
struct BlockRegion {
    uint32_t magic;
    uint32_t format;    // layout version and block size
    uint64_t keyCheck;  // a second hash of the directory, against collisions
    SharedBlock block;
};
static_assert(offsetof(BlockRegion, block) == 16, "the block follows the 16-byte header");
static_assert(sizeof(SharedBlock) == 604, "the block is the same on 32- and 64-bit builds");
constexpr uint32_t kBlockFormat = (2u << 16) | static_cast<uint32_t>(sizeof(SharedBlock));
// Without the tail padding, which differs: 620 bytes for both.
constexpr size_t kBlockRegionSize = offsetof(BlockRegion, block) + sizeof(SharedBlock);

// Entries are never freed: callers keep the block's address (the frame
// holds a reference across a lock), so a forgotten entry stays mapped.
struct BlockEntry {
    std::string windowsDir;
    SharedBlock* block;
    bool writable;
};

std::atomic<BlockEntry*> g_last{nullptr};  // the entry of the latest directory

std::mutex& EntriesLock() {
    static std::mutex lock;
    return lock;
}

struct Entries {
    std::map<std::string, BlockEntry*> live;
    std::vector<BlockEntry*> forgotten;  // keeps them reachable
};

Entries& AllEntries();

// A child of fork looks its blocks up again, like a process that has just
// loaded the library (the mappings it inherited stay valid).
void LockEntriesBeforeFork() { EntriesLock().lock(); }
void UnlockEntriesAfterFork() { EntriesLock().unlock(); }
void ForgetEntriesInChild() {
    Entries& entries = AllEntries();
    for (auto& [dir, entry] : entries.live) entries.forgotten.push_back(entry);
    entries.live.clear();
    g_last.store(nullptr, std::memory_order_release);
    EntriesLock().unlock();
}

Entries& AllEntries() {
    static Entries* entries = [] {
        pthread_atfork(LockEntriesBeforeFork, UnlockEntriesAfterFork, ForgetEntriesInChild);
        return new Entries();
    }();
    return *entries;
}

uint64_t KeyCheck(const char* dir) { return posix::Hash64(dir, std::strlen(dir), 0x84222325cbf29ce4ull); }

SharedBlock* MapBlock(const char* dir, bool* writable) {
    BlockRegion initial{};
    initial.magic = kBlockMagic;
    initial.format = kBlockFormat;
    initial.keyCheck = KeyCheck(dir);
    const int fd = posix::OpenSharedObject(dir, posix::MachineShmPrefix(dir) + "block", posix::ObjectKind::kBlock,
                                           &initial, kBlockRegionSize, writable);
    if (fd >= 0) {
        const int protection = *writable ? PROT_READ | PROT_WRITE : PROT_READ;
        void* map = mmap(nullptr, kBlockRegionSize, protection, MAP_SHARED, fd, 0);
        close(fd);
        if (map != MAP_FAILED) {
            auto* region = static_cast<BlockRegion*>(map);
            // Objects are made complete, so a header of another kind is
            // another layout (or garbage): not used.
            if (region->magic == kBlockMagic && region->format == kBlockFormat &&
                region->keyCheck == initial.keyCheck) {
                return &region->block;
            }
            munmap(map, kBlockRegionSize);
        }
    }
    // Without the shared block the process keeps one of its own: the locks
    // still work through the lock objects, only the count and the locker
    // names are not seen by other processes.
    *writable = true;
    return new SharedBlock{};
}

BlockEntry* EntryOf(const char* dir) {
    BlockEntry* last = g_last.load(std::memory_order_acquire);
    if (last && std::strcmp(last->windowsDir.c_str(), dir) == 0) return last;
    std::lock_guard<std::mutex> guard(EntriesLock());
    Entries& entries = AllEntries();
    auto found = entries.live.find(dir);
    BlockEntry* entry;
    if (found != entries.live.end()) {
        entry = found->second;
    } else {
        entry = new BlockEntry{dir, nullptr, false};
        entry->block = MapBlock(dir, &entry->writable);
        entries.live.emplace(entry->windowsDir, entry);
    }
    g_last.store(entry, std::memory_order_release);
    return entry;
}

}  // namespace

SharedBlock* ProcessSharedBlock() { return EntryOf(posix::WindowsDirectoryPath())->block; }

SharedBlock* WritableSharedBlock() {
    BlockEntry* entry = EntryOf(posix::WindowsDirectoryPath());
    return entry->writable ? entry->block : nullptr;
}

namespace posix {

void ForgetSharedBlock(const std::string& windowsDir) {
    std::lock_guard<std::mutex> guard(EntriesLock());
    Entries& entries = AllEntries();
    unlink(("/dev/shm" + MachineShmPrefix(windowsDir.c_str()) + "block").c_str());
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
