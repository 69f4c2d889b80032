// List handles: only a live holder's handle decodes; anything else, made
// up or stale, is refused without being dereferenced.
#include "frame/list_handles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <thread>
#include <vector>

namespace kvi {
namespace {

// The registry never looks inside a snapshot: any distinct address names one.
ListSnapshot* Fake(uintptr_t n) { return reinterpret_cast<ListSnapshot*>(n * 64); }

uintptr_t HandleOf(const void* p) { return ~reinterpret_cast<uintptr_t>(p); }

TEST(ListHandles, OnlyALiveHoldersHandleDecodes) {
    const uintptr_t h = MakeListHandle(Fake(1));
    ASSERT_NE(kNoListHandle, h);
    ASSERT_NE(kFailedListHandle, h);
    ListHolder* holder = DecodeListHandle(h);
    ASSERT_NE(nullptr, holder);
    EXPECT_EQ(Fake(1), holder->list);

    int onTheStack = 0;
    std::unique_ptr<ListHolder> onTheHeap(new ListHolder{Fake(2)});
    const auto at = reinterpret_cast<uintptr_t>(holder);
    const struct {
        const char* what;
        uintptr_t handle;
    } refused[] = {
        {"0", kNoListHandle},
        {"complement of null", kFailedListHandle},
        {"a stack address", HandleOf(&onTheStack)},
        {"a holder of the caller's own", HandleOf(onTheHeap.get())},
        {"one byte into a holder", ~(at + 1)},
        {"four bytes into a holder", ~(at + 4)},
        {"just below a holder", ~(at - 1)},
        {"an unmapped page", ~static_cast<uintptr_t>(0x1000)},
        {"the top of the address space", ~static_cast<uintptr_t>(0xFFFFF000u)},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(nullptr, DecodeListHandle(r.handle));
        ReleaseListHandle(r.handle);  // refused too: the live one stays
    }
    EXPECT_EQ(holder, DecodeListHandle(h));

    ReleaseListHandle(h);
    EXPECT_EQ(nullptr, DecodeListHandle(h));
    ReleaseListHandle(h);  // a second destroy changes nothing
    EXPECT_EQ(nullptr, DecodeListHandle(h));
}

// Many lists at once (the registry grows block by block), each handle
// naming its own; destroyed ones stay refused while new lists are made.
TEST(ListHandles, ManyListsKeepTheirHandlesAndDestroyedOnesStayRefused) {
    constexpr uintptr_t kLists = 3000;
    std::vector<uintptr_t> handles;
    for (uintptr_t i = 0; i < kLists; ++i) handles.push_back(MakeListHandle(Fake(100 + i)));
    std::set<uintptr_t> distinct(handles.begin(), handles.end());
    ASSERT_EQ(kLists, distinct.size());
    for (uintptr_t i = 0; i < kLists; ++i) {
        ListHolder* holder = DecodeListHandle(handles[i]);
        ASSERT_NE(nullptr, holder) << i;
        ASSERT_EQ(Fake(100 + i), holder->list) << i;
    }
    for (uintptr_t i = 0; i < kLists; i += 2) ReleaseListHandle(handles[i]);
    for (uintptr_t i = 0; i < kLists; ++i) {
        ListHolder* holder = DecodeListHandle(handles[i]);
        if (i % 2 == 0) {
            ASSERT_EQ(nullptr, holder) << i;
        } else {
            ASSERT_NE(nullptr, holder) << i;
            ASSERT_EQ(Fake(100 + i), holder->list) << i;
        }
    }
    for (int round = 0; round < 2000; ++round) {
        const uintptr_t fresh = MakeListHandle(Fake(1));
        ASSERT_EQ(0u, distinct.count(fresh)) << "a destroyed holder came back after " << round << " lists";
        ReleaseListHandle(fresh);
    }
    for (uintptr_t i = 1; i < kLists; i += 2) ReleaseListHandle(handles[i]);
}

// Decoding takes no lock: a thread reading its lists while another makes
// and destroys many (so that new blocks appear meanwhile) always finds
// them, and never finds the other's destroyed ones.
TEST(ListHandles, DecodeWhileAnotherThreadMakesAndDestroysLists) {
    std::vector<uintptr_t> mine;
    for (uintptr_t i = 0; i < 32; ++i) mine.push_back(MakeListHandle(Fake(7000 + i)));
    std::atomic<bool> done{false};
    std::atomic<uintptr_t> lastDestroyed{kNoListHandle};
    std::thread churn([&] {
        std::vector<uintptr_t> held;
        for (uintptr_t i = 0; i < 6000; ++i) {
            held.push_back(MakeListHandle(Fake(9000 + i)));
            if (held.size() > 2500) {
                ReleaseListHandle(held.front());
                lastDestroyed.store(held.front());
                held.erase(held.begin());
            }
        }
        for (uintptr_t h : held) ReleaseListHandle(h);
        done.store(true);
    });
    uint64_t bad = 0;
    do {
        for (uintptr_t i = 0; i < mine.size(); ++i) {
            const ListHolder* holder = DecodeListHandle(mine[i]);
            if (!holder || holder->list != Fake(7000 + i)) ++bad;
        }
        const uintptr_t gone = lastDestroyed.load();
        if (gone != kNoListHandle && DecodeListHandle(gone)) ++bad;
    } while (!done.load());
    churn.join();
    EXPECT_EQ(0u, bad);
    for (uintptr_t h : mine) ReleaseListHandle(h);
}

}  // namespace
}  // namespace kvi
