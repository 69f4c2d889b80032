// The block every process of the machine shares (initialization count and
// locker names), in POSIX shared memory named after the Windows directory.
// It is plain data and, since every writer of the books' folder may write
// it, untrusted: nothing in it is an address or a size.
//
// It is never mapped. Any writer of the folder may cut the object short,
// and a process touching a mapped page past the new end would die with
// SIGBUS; read and written through the descriptor instead, a cut block is
// only a short read, whose missing bytes count as zeroes. The count's
// read-modify-write is made atomic by a record lock on a lock object that
// only the folder's writers can open (a reader holding a read lock on the
// block itself would stall every start-up), waited for with a bound.
//
// Asked for on every lock and locker query, so the descriptor is cached
// per directory: the common call is one getenv and one strcmp.
#include <fcntl.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
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

constexpr uint32_t kBlockMagic = 0x4B564942u;  // "KVIB"

// Fixed widths and no padding: 32- and 64-bit processes share it.
struct BlockHeader {
    uint32_t magic;
    uint32_t format;    // layout version and block size
    uint64_t keyCheck;  // a second hash of the directory, against collisions
};
constexpr size_t kHeaderSize = 16;
static_assert(sizeof(BlockHeader) == kHeaderSize, "the block follows the 16-byte header");
static_assert(sizeof(SharedBlock) == 604, "the block is the same on 32- and 64-bit builds");
constexpr uint32_t kBlockFormat = (2u << 16) | static_cast<uint32_t>(sizeof(SharedBlock));
constexpr size_t kBlockObjectSize = kHeaderSize + sizeof(SharedBlock);  // 620 bytes

// Longest wait for the count's lock: it is held for two system calls, so
// only a writer that keeps it on purpose makes anyone wait that long, and
// then the count is changed without it.
constexpr auto kCountLockWait = std::chrono::milliseconds(500);

// Entries are never freed: the latest one is used without the lock.
struct BlockEntry {
    std::string windowsDir;
    int fd = -1;             // the block object, or -1: a block of this process
    bool writable = false;
    int countFd = -1;        // lock object of the count, opened at first use
    bool countTried = false;
    std::mutex change;       // one change of the count at a time in this process
    SharedBlock own{};       // the block when there is no shared one
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
// loaded the library. It closes the descriptors it inherited: they share
// the parent's open file descriptions, and so any count lock the parent
// holds.
void LockEntriesBeforeFork() { EntriesLock().lock(); }
void UnlockEntriesAfterFork() { EntriesLock().unlock(); }
void ForgetEntriesInChild() {
    Entries& entries = AllEntries();
    for (auto& [dir, entry] : entries.live) entries.forgotten.push_back(entry);
    entries.live.clear();
    for (BlockEntry* entry : entries.forgotten) {
        if (entry->fd >= 0) close(entry->fd);
        if (entry->countFd >= 0) close(entry->countFd);
        entry->fd = -1;
        entry->countFd = -1;
        entry->countTried = true;
    }
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

// Reads what there is at offset; bytes past the object's end are zeroes.
void ReadAt(int fd, size_t offset, void* bytes, size_t size) {
    auto* to = static_cast<unsigned char*>(bytes);
    size_t got = 0;
    while (got < size) {
        const ssize_t n = pread(fd, to + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    std::memset(to + got, 0, size - got);
}

void WriteAt(int fd, size_t offset, const void* bytes, size_t size) {
    const auto* from = static_cast<const unsigned char*>(bytes);
    size_t put = 0;
    while (put < size) {
        const ssize_t n = pwrite(fd, from + put, size - put, static_cast<off_t>(offset + put));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a full folder or a cut object: the write is lost, nothing else
        put += static_cast<size_t>(n);
    }
}

void OpenBlock(BlockEntry* entry) {
    const char* dir = entry->windowsDir.c_str();
    BlockHeader initial{kBlockMagic, kBlockFormat, KeyCheck(dir)};
    unsigned char image[kBlockObjectSize] = {};
    std::memcpy(image, &initial, sizeof initial);
    bool writable = false;
    const int fd = posix::OpenSharedObject(dir, posix::MachineShmPrefix(dir) + "block", posix::ObjectKind::kBlock,
                                           image, sizeof image, &writable);
    if (fd < 0) return;
    // Objects are made complete, so a header of another kind is another
    // layout (or garbage): not used. One that reads as zeroes was cut
    // short by a writer of the folder and is put back. Later changes to
    // the header are ignored: the fields are read where this layout has
    // them.
    BlockHeader header;
    ReadAt(fd, 0, &header, sizeof header);
    const bool cut = header.magic == 0 && header.format == 0 && header.keyCheck == 0;
    if (cut && writable) WriteAt(fd, 0, &initial, sizeof initial);
    if (!cut && (header.magic != kBlockMagic || header.format != kBlockFormat || header.keyCheck != initial.keyCheck)) {
        close(fd);
        return;
    }
    entry->fd = fd;
    entry->writable = writable;
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
        entry = new BlockEntry{};
        entry->windowsDir = dir;
        // Without the shared block the process keeps one of its own: the
        // locks still work through the lock objects, only the count and
        // the locker names are not seen by other processes.
        OpenBlock(entry);
        if (entry->fd < 0) entry->writable = true;
        entries.live.emplace(entry->windowsDir, entry);
    }
    g_last.store(entry, std::memory_order_release);
    return entry;
}

BlockEntry* CurrentEntry() { return EntryOf(posix::WindowsDirectoryPath()); }

// 1 when the count's lock is taken; 0 when it cannot be had in time (or
// at all), and the change goes ahead without it.
int LockCount(BlockEntry* entry) {
    if (!entry->countTried) {
        entry->countTried = true;
        const char* dir = entry->windowsDir.c_str();
        const uint32_t zero = 0;
        bool writable = false;
        entry->countFd = posix::OpenSharedObject(dir, posix::MachineShmPrefix(dir) + "count",
                                                 posix::ObjectKind::kLock, &zero, sizeof zero, &writable);
    }
    if (entry->countFd < 0) return 0;
    const auto deadline = std::chrono::steady_clock::now() + kCountLockWait;
    long delayUs = 20;
    for (;;) {
        if (posix::SetByteLock(entry->countFd, F_WRLCK, F_OFD_SETLK) == 0) return 1;
        if (errno != EINTR && errno != EAGAIN && errno != EACCES) return 0;
        if (std::chrono::steady_clock::now() >= deadline) return 0;
        timespec ts{0, delayUs * 1000};
        nanosleep(&ts, nullptr);
        if (delayUs < 2000) delayUs *= 2;
    }
}

}  // namespace

void ReadSharedBlock(SharedBlock* copy) {
    BlockEntry* entry = CurrentEntry();
    if (entry->fd >= 0) {
        ReadAt(entry->fd, kHeaderSize, copy, sizeof *copy);
        return;
    }
    std::lock_guard<std::mutex> guard(entry->change);
    *copy = entry->own;
}

int SharedBlockWritable() { return CurrentEntry()->writable ? 1 : 0; }

int WriteSharedBlock(size_t offset, const void* bytes, size_t size) {
    BlockEntry* entry = CurrentEntry();
    if (!entry->writable) return 0;
    if (offset > sizeof(SharedBlock) || size > sizeof(SharedBlock) - offset) return 1;
    if (entry->fd >= 0) {
        WriteAt(entry->fd, kHeaderSize + offset, bytes, size);
        return 1;
    }
    std::lock_guard<std::mutex> guard(entry->change);
    std::memcpy(reinterpret_cast<unsigned char*>(&entry->own) + offset, bytes, size);
    return 1;
}

int AddSharedInitCount(int32_t delta, int32_t* count) {
    BlockEntry* entry = CurrentEntry();
    if (!entry->writable) return 0;
    std::lock_guard<std::mutex> guard(entry->change);
    if (entry->fd < 0) {
        entry->own.initCount =
            static_cast<int32_t>(static_cast<uint32_t>(entry->own.initCount) + static_cast<uint32_t>(delta));
        *count = entry->own.initCount;
        return 1;
    }
    const int locked = LockCount(entry);
    constexpr size_t kAt = kHeaderSize + offsetof(SharedBlock, initCount);
    int32_t value;
    ReadAt(entry->fd, kAt, &value, sizeof value);
    value = static_cast<int32_t>(static_cast<uint32_t>(value) + static_cast<uint32_t>(delta));
    WriteAt(entry->fd, kAt, &value, sizeof value);
    if (locked) posix::SetByteLock(entry->countFd, F_UNLCK, F_OFD_SETLK);
    *count = value;
    return 1;
}

namespace posix {

void ForgetSharedBlock(const std::string& windowsDir) {
    std::lock_guard<std::mutex> guard(EntriesLock());
    Entries& entries = AllEntries();
    const std::string prefix = kShmDir + MachineShmPrefix(windowsDir.c_str());
    unlink((prefix + "block").c_str());
    unlink((prefix + "count").c_str());
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
