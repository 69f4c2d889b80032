#include "frame/list_handles.h"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <new>

namespace kvi {

namespace {

// A handle is the holder's address, so a holder freed to the allocator
// would soon come back as the holder of a new list, and a stale handle
// would then name that list. Destroyed holders are therefore kept and
// handed out again only after this many later destroys, the least
// recently freed first: a stale handle stays refused in any realistic
// sequence, and the memory kept is bounded (under a megabyte).
constexpr size_t kHoldersKeptFree = 16384;

// Holders live in slots of blocks that are never freed, block k holding
// kFirstBlockSlots << k slots. A handle is decoded by finding the block
// whose range holds its address and the slot that starts there, so a
// made-up handle is refused without being dereferenced, and every list
// function decodes its handle without a lock: the blocks only ever grow
// in number, and a slot's live flag is published after its holder.
struct Slot {
    ListHolder holder;  // first: the holder's address is the slot's
    std::atomic<uint32_t> live;
    Slot* nextFree;  // the queue of destroyed holders, oldest first
};
static_assert(offsetof(Slot, holder) == 0, "a handle names the slot by its holder");

constexpr uint32_t kFirstBlockSlots = 64;
// The last block would hold 64 << 19 slots, the blocks together over 67
// million holders: more lists than memory allows, and every block size
// still fits a 32-bit size_t.
constexpr int kMaxBlocks = 20;

constexpr size_t BlockSlots(int k) { return static_cast<size_t>(kFirstBlockSlots) << k; }

// Constant-initialized and trivially destroyed: valid from the first
// static constructor to the last static destructor.
std::atomic<Slot*> g_blocks[kMaxBlocks] = {};

// What only the create and destroy functions touch, under one lock:
// threads of one process may create and destroy lists side by side.
struct Pool {
    std::mutex lock;
    int blockCount = 0;
    size_t usedInLast = 0;  // slots of the newest block handed out so far
    Slot* freedFirst = nullptr;
    Slot* freedLast = nullptr;
    size_t freedCount = 0;
};

Pool& Holders() {
    static Pool* pool = new Pool;  // outlives static destructors
    return *pool;
}

// The slot whose holder is at `at`, live or not; null when no block holds
// it or it falls inside a slot.
Slot* SlotAt(uintptr_t at) {
    for (int k = 0; k < kMaxBlocks; ++k) {
        Slot* base = g_blocks[k].load(std::memory_order_acquire);
        if (!base) return nullptr;
        const uintptr_t offset = at - reinterpret_cast<uintptr_t>(base);  // wraps when at is below
        if (offset < BlockSlots(k) * sizeof(Slot)) return offset % sizeof(Slot) == 0 ? base + offset / sizeof(Slot) : nullptr;
    }
    return nullptr;
}

// A slot never handed out, from the newest block or a new one; null when
// memory runs out. Under the pool's lock.
Slot* FreshSlot(Pool& pool) {
    if (pool.blockCount > 0 && pool.usedInLast < BlockSlots(pool.blockCount - 1))
        return g_blocks[pool.blockCount - 1].load(std::memory_order_relaxed) + pool.usedInLast++;
    if (pool.blockCount == kMaxBlocks) return nullptr;
    const size_t n = BlockSlots(pool.blockCount);
    Slot* block = new (std::nothrow) Slot[n];
    if (!block) return nullptr;
    for (size_t i = 0; i < n; ++i) {
        block[i].holder.list = nullptr;
        block[i].live.store(0, std::memory_order_relaxed);
        block[i].nextFree = nullptr;
    }
    g_blocks[pool.blockCount].store(block, std::memory_order_release);
    ++pool.blockCount;
    pool.usedInLast = 1;
    return block;
}

}  // namespace

uintptr_t MakeListHandle(ListSnapshot* list) {
    Pool& pool = Holders();
    std::lock_guard<std::mutex> guard(pool.lock);
    Slot* slot = nullptr;
    if (pool.freedCount > kHoldersKeptFree) {
        slot = pool.freedFirst;
        pool.freedFirst = slot->nextFree;
        if (!pool.freedFirst) pool.freedLast = nullptr;
        --pool.freedCount;
        slot->nextFree = nullptr;
    } else {
        slot = FreshSlot(pool);
        if (!slot) return kFailedListHandle;
    }
    slot->holder.list = list;
    slot->live.store(1, std::memory_order_release);
    return ~reinterpret_cast<uintptr_t>(&slot->holder);
}

ListHolder* DecodeListHandle(uintptr_t handle) {
    if (handle == kNoListHandle || handle == kFailedListHandle) return nullptr;
    Slot* slot = SlotAt(~handle);
    return slot && slot->live.load(std::memory_order_acquire) ? &slot->holder : nullptr;
}

void ReleaseListHandle(uintptr_t handle) {
    if (handle == kNoListHandle || handle == kFailedListHandle) return;
    Pool& pool = Holders();
    std::lock_guard<std::mutex> guard(pool.lock);
    Slot* slot = SlotAt(~handle);
    if (!slot || !slot->live.load(std::memory_order_relaxed)) return;
    slot->live.store(0, std::memory_order_release);
    slot->holder.list = nullptr;
    if (pool.freedLast) pool.freedLast->nextFree = slot;
    else pool.freedFirst = slot;
    pool.freedLast = slot;
    ++pool.freedCount;
}

}  // namespace kvi
