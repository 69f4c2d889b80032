#include "frame/list_handles.h"

#include <deque>
#include <mutex>
#include <new>
#include <unordered_set>

namespace kvi {

namespace {

// A handle is the holder's address, so a holder freed to the allocator
// would soon come back as the holder of a new list, and a stale handle
// would then name that list. Destroyed holders are therefore kept and
// handed out again only after this many later destroys, the least
// recently freed first: a stale handle stays refused in any realistic
// sequence, and the memory kept is bounded (under a megabyte).
constexpr size_t kHoldersKeptFree = 16384;

// Threads of one process may create and destroy lists side by side; the
// registry is the one structure they share, so it keeps its own lock.
struct Registry {
    std::mutex lock;
    std::unordered_set<ListHolder*> live;
    std::deque<ListHolder*> freed;  // oldest first
};

Registry& Holders() {
    static Registry* registry = new Registry;  // outlives static destructors
    return *registry;
}

ListHolder* ToHolder(uintptr_t handle) { return reinterpret_cast<ListHolder*>(~handle); }

}  // namespace

uintptr_t MakeListHandle(ListSnapshot* list) {
    Registry& r = Holders();
    std::lock_guard<std::mutex> guard(r.lock);
    ListHolder* holder = nullptr;
    if (r.freed.size() > kHoldersKeptFree) {
        holder = r.freed.front();
        r.freed.pop_front();
    } else {
        holder = new (std::nothrow) ListHolder{nullptr};
        if (!holder) return kFailedListHandle;
    }
    try {
        r.live.insert(holder);
    } catch (...) {
        delete holder;
        return kFailedListHandle;
    }
    holder->list = list;
    return ~reinterpret_cast<uintptr_t>(holder);
}

ListHolder* DecodeListHandle(uintptr_t handle) {
    if (handle == kNoListHandle) return nullptr;
    ListHolder* holder = ToHolder(handle);
    if (!holder) return nullptr;
    Registry& r = Holders();
    std::lock_guard<std::mutex> guard(r.lock);
    return r.live.count(holder) ? holder : nullptr;
}

void ReleaseListHandle(uintptr_t handle) {
    ListHolder* holder = ToHolder(handle);
    Registry& r = Holders();
    std::lock_guard<std::mutex> guard(r.lock);
    if (!r.live.erase(holder)) return;
    holder->list = nullptr;
    try {
        r.freed.push_back(holder);
    } catch (...) {
        delete holder;  // out of memory: this one address may come back early
    }
}

}  // namespace kvi
