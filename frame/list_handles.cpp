#include "frame/list_handles.h"

#include <mutex>
#include <new>
#include <unordered_set>

namespace kvi {

namespace {

// Threads of one process may create and destroy lists side by side; the
// registry is the one structure they share, so it keeps its own lock.
struct Registry {
    std::mutex lock;
    std::unordered_set<ListHolder*> live;
};

Registry& Holders() {
    static Registry* registry = new Registry;  // outlives static destructors
    return *registry;
}

ListHolder* ToHolder(uintptr_t handle) { return reinterpret_cast<ListHolder*>(~handle); }

}  // namespace

uintptr_t MakeListHandle(ListSnapshot* list) {
    ListHolder* holder = new (std::nothrow) ListHolder{list};
    if (!holder) return kFailedListHandle;
    Registry& r = Holders();
    try {
        std::lock_guard<std::mutex> guard(r.lock);
        r.live.insert(holder);
    } catch (...) {
        delete holder;
        return kFailedListHandle;
    }
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
    {
        std::lock_guard<std::mutex> guard(r.lock);
        if (!r.live.erase(holder)) return;
    }
    delete holder;
}

}  // namespace kvi
