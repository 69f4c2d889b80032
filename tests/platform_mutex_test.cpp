// Named mutexes and the shared block across threads and processes.
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/peer_process.h"
#include "support/shm_objects.h"
#include "support/test_support.h"

namespace kvi::platform {
namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// A child process beside the test, with one byte of signalling each way.
using Child = kvi::test::Peer;

// The result of a wait made on another thread of this process.
uint32_t WaitOnOtherThread(MutexHandle h, uint32_t timeoutMs) {
    uint32_t result = 0;
    std::thread t([&] {
        result = WaitMutex(h, timeoutMs);
        if (result == kWaitObject0 || result == kWaitAbandoned) ReleaseMutex(h);
    });
    t.join();
    return result;
}

TEST(PlatformMutex, ZeroTimeoutIsRefusedWhileAnotherProcessHolds) {
    test::TempWindowsDir dir;
    // Forked before this process opens anything, so the child opens the
    // objects itself while they are open here.
    Child holder([](Child& self) {
        alarm(10);  // a creation that blocks fails the test instead of hanging it
        if (!self.Await()) return 3;
        SharedBlockWritable();
        MutexHandle mine = CreateNamedMutex("Book", nullptr);
        if (WaitMutex(mine, 0) != kWaitObject0) return 1;
        self.Notify();
        self.Await();
        return ReleaseMutex(mine) == 1 ? 0 : 2;
    });
    MutexHandle h = CreateNamedMutex("Book", nullptr);
    ASSERT_NE(h, 0u);
    SharedBlockWritable();
    holder.Tell();
    ASSERT_TRUE(holder.Heard());
    EXPECT_EQ(WaitMutex(h, 0), kWaitTimeout);
    holder.Tell();
    EXPECT_EQ(holder.Join(), 0);
    EXPECT_EQ(WaitMutex(h, 0), kWaitObject0);
    EXPECT_EQ(ReleaseMutex(h), 1);
    CloseMutex(h);
}

TEST(PlatformMutex, WaiterInAnotherProcessGetsItAfterReleaseOrTimesOut) {
    test::TempWindowsDir dir;
    MutexHandle h = CreateNamedMutex("Book", nullptr);
    ASSERT_EQ(WaitMutex(h, 0), kWaitObject0);

    Child impatient([](Child&) {
        const auto start = Clock::now();
        if (WaitMutex(CreateNamedMutex("Book", nullptr), 150) != kWaitTimeout) return 1;
        return ElapsedMs(start) >= 140 ? 0 : 2;
    });
    EXPECT_EQ(impatient.Join(), 0);

    Child patient([](Child& self) {
        MutexHandle mine = CreateNamedMutex("Book", nullptr);
        self.Notify();
        const auto start = Clock::now();
        if (WaitMutex(mine, 10000) != kWaitObject0) return 1;
        const long waited = ElapsedMs(start);
        ReleaseMutex(mine);
        return waited < 5000 ? 0 : 2;
    });
    ASSERT_TRUE(patient.Heard());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(ReleaseMutex(h), 1);
    EXPECT_EQ(patient.Join(), 0);
    CloseMutex(h);
}

// What a wait without delay on "Book" answers in a new process.
uint32_t WaitInChild() {
    Child other([](Child&) {
        switch (WaitMutex(CreateNamedMutex("Book", nullptr), 0)) {
        case kWaitObject0: return 0;
        case kWaitAbandoned: return 1;
        case kWaitTimeout: return 2;
        default: return 3;
        }
    });
    const uint32_t answers[] = {kWaitObject0, kWaitAbandoned, kWaitTimeout, kWaitFailed};
    const int code = other.Join();
    return code >= 0 && code <= 3 ? answers[code] : kWaitFailed;
}

// The lock belongs to the process: a second wait in it waits like any
// other, and any of its threads may release it.
TEST(PlatformMutex, HolderIsTheProcessNotTheThread) {
    test::TempWindowsDir dir;
    MutexHandle h = CreateNamedMutex("Book", nullptr);
    ASSERT_EQ(WaitMutex(h, 0), kWaitObject0);
    EXPECT_EQ(WaitMutex(h, 0), kWaitTimeout);
    EXPECT_EQ(WaitMutex(h, 50), kWaitTimeout);
    EXPECT_EQ(WaitOnOtherThread(h, 0), kWaitTimeout);
    int released = -1;
    std::thread other([&] { released = ReleaseMutex(h); });
    other.join();
    EXPECT_EQ(released, 1);
    EXPECT_EQ(ReleaseMutex(h), 0);  // no longer held
    EXPECT_EQ(WaitOnOtherThread(h, 0), kWaitObject0);
    CloseMutex(h);
}

TEST(PlatformMutex, WaiterInTheSameProcessGetsItWhenAnotherThreadReleases) {
    test::TempWindowsDir dir;
    MutexHandle h = CreateNamedMutex("Book", nullptr);
    ASSERT_EQ(WaitMutex(h, 0), kWaitObject0);
    uint32_t got = kWaitFailed;
    std::thread waiter([&] { got = WaitMutex(h, 10000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(ReleaseMutex(h), 1);
    waiter.join();
    EXPECT_EQ(got, kWaitObject0);
    EXPECT_EQ(ReleaseMutex(h), 1);
    CloseMutex(h);
}

TEST(PlatformMutex, KilledOwnerProcessAbandonsTheMutexOnce) {
    test::TempWindowsDir dir;
    MutexHandle h = CreateNamedMutex("Book", nullptr);
    Child holder([](Child& self) {
        if (WaitMutex(CreateNamedMutex("Book", nullptr), 0) != kWaitObject0) return 1;
        self.Notify();
        pause();
        return 0;
    });
    ASSERT_TRUE(holder.Heard());
    holder.Kill();
    EXPECT_EQ(holder.Join(), -SIGKILL);

    EXPECT_EQ(WaitMutex(h, 1000), kWaitAbandoned);  // and owned
    EXPECT_EQ(WaitOnOtherThread(h, 0), kWaitTimeout);
    EXPECT_EQ(ReleaseMutex(h), 1);
    EXPECT_EQ(WaitMutex(h, 0), kWaitObject0);
    EXPECT_EQ(ReleaseMutex(h), 1);
    Child later([](Child&) { return static_cast<int>(WaitMutex(CreateNamedMutex("Book", nullptr), 0)); });
    EXPECT_EQ(later.Join(), static_cast<int>(kWaitObject0));
    CloseMutex(h);
}

// A thread that ends holding the lock does not hand it to another
// process: the process still holds it until one of its threads releases.
TEST(PlatformMutex, ThreadThatEndsHoldingItLeavesItWithTheProcess) {
    test::TempWindowsDir dir;
    MutexHandle h = CreateNamedMutex("Book", nullptr);
    uint32_t first = kWaitFailed;
    std::thread quitter([&] { first = WaitMutex(h, 0); });
    quitter.join();
    ASSERT_EQ(first, kWaitObject0);
    EXPECT_EQ(WaitInChild(), kWaitTimeout);
    EXPECT_EQ(ReleaseMutex(h), 1);
    EXPECT_EQ(WaitInChild(), kWaitObject0);  // released, not abandoned
    CloseMutex(h);
}

// Another writer of the folder may scribble over the lock word: at worst a
// false report of abandonment, never a second holder.
TEST(PlatformMutex, GarbageInTheLockObjectCannotUnlockIt) {
    test::TempWindowsDir dir;
    MutexHandle h = CreateNamedMutex("Book", nullptr);
    ASSERT_EQ(WaitMutex(h, 0), kWaitObject0);
    int scribbled = 0;
    for (const std::string& path : test::ShmObjectsOf(dir.Path())) {
        FILE* f = std::fopen(path.c_str(), "r+b");
        if (!f) continue;
        for (int i = 0; i < 64; ++i) std::fputc(0xA5 ^ i, f);
        std::fclose(f);
        ++scribbled;
    }
    ASSERT_EQ(scribbled, 1);
    EXPECT_EQ(WaitInChild(), kWaitTimeout);
    EXPECT_EQ(ReleaseMutex(h), 1);
    CloseMutex(h);
}

TEST(PlatformMutex, NullHandleIsRefused) {
    test::TempWindowsDir dir;
    EXPECT_EQ(WaitMutex(0, 0), kWaitFailed);
    EXPECT_EQ(WaitMutex(0, kInfinite), kWaitFailed);
    EXPECT_EQ(ReleaseMutex(0), 0);
    CloseMutex(0);
    EXPECT_EQ(CreateNamedMutex(nullptr, nullptr), 0u);
    EXPECT_EQ(CreateMutexSecurity(), nullptr);
    FreeMutexSecurity(nullptr);
}

TEST(PlatformMutex, TwoWindowsDirectoriesShareNothing) {
    test::TempWindowsDir a;
    test::TempWindowsDir b;
    a.Activate();
    MutexHandle ha = CreateNamedMutex("Book", nullptr);
    int32_t count = 0;
    ASSERT_EQ(WaitMutex(ha, 0), kWaitObject0);
    ASSERT_EQ(AddSharedInitCount(1, &count), 1);
    WriteSharedBlock(offsetof(SharedBlock, addressLocker), "alice", 6);

    b.Activate();
    MutexHandle hb = CreateNamedMutex("Book", nullptr);
    SharedBlock block;
    ReadSharedBlock(&block);
    EXPECT_EQ(WaitOnOtherThread(hb, 0), kWaitObject0);
    EXPECT_EQ(WaitOnOtherThread(ha, 0), kWaitTimeout);
    EXPECT_EQ(block.initCount, 0);
    EXPECT_STREQ(block.addressLocker, "");
    // Another process of machine B opens B's objects, not A's.
    Child child([](Child&) {
        SharedBlock seen;
        ReadSharedBlock(&seen);
        return seen.initCount == 0 && seen.addressLocker[0] == 0 ? 0 : 1;
    });
    EXPECT_EQ(child.Join(), 0);

    a.Activate();
    ReadSharedBlock(&block);
    EXPECT_EQ(block.initCount, 1);
    EXPECT_STREQ(block.addressLocker, "alice");
    EXPECT_EQ(ReleaseMutex(ha), 1);
    CloseMutex(ha);
    CloseMutex(hb);
}

// A counter that only the holder of the mutex reads and writes, kept in
// the first bytes of a locker slot.
int32_t LockedCount() {
    SharedBlock block;
    ReadSharedBlock(&block);
    int32_t count;
    std::memcpy(&count, block.securityLocker, sizeof count);
    return count;
}
void SetLockedCount(int32_t count) { WriteSharedBlock(offsetof(SharedBlock, securityLocker), &count, sizeof count); }

// Processes that open the block and the mutex at the same moment must all
// end up on one initialized object: counts from all of them add up, and
// a read-modify-write under the mutex loses nothing.
TEST(PlatformMutex, RacingCreatorsShareOneInitializedObject) {
    test::TempWindowsDir dir;
    constexpr int kChildren = 4;
    constexpr int kLocked = 200;
    constexpr int kInterlocked = 1000;
    for (int round = 0; round < 3; ++round) {
        std::vector<std::unique_ptr<Child>> children;
        for (int i = 0; i < kChildren; ++i) {
            children.push_back(std::make_unique<Child>([](Child& self) {
                if (!self.Await()) return 1;
                MutexHandle h = CreateNamedMutex("Race", nullptr);
                if (!h) return 2;
                for (int n = 0; n < kLocked; ++n) {
                    if (WaitMutex(h, kInfinite) != kWaitObject0) return 3;
                    const int32_t seen = LockedCount();
                    sched_yield();
                    SetLockedCount(seen + 1);
                    ReleaseMutex(h);
                }
                int32_t count = 0;
                for (int n = 0; n < kInterlocked; ++n) {
                    if (!AddSharedInitCount(1, &count)) return 4;
                }
                return 0;
            }));
        }
        for (auto& child : children) child->Tell();
        for (auto& child : children) EXPECT_EQ(child->Join(), 0);
        // Opened by this process only now, after the race.
        SharedBlock block;
        ReadSharedBlock(&block);
        EXPECT_EQ(block.initCount, kChildren * kInterlocked) << "round " << round;
        EXPECT_EQ(LockedCount(), kChildren * kLocked) << "round " << round;
        RemoveMachineState();  // the next round creates everything anew
    }
}

TEST(PlatformMutex, RemoveMachineStateRemovesWhatAnyProcessMade) {
    test::TempWindowsDir dir;
    MutexHandle h = CreateNamedMutex("Book", nullptr);
    SharedBlockWritable();
    Child child([](Child&) { return CreateNamedMutex("OnlyInTheChild", nullptr) ? 0 : 1; });
    ASSERT_EQ(child.Join(), 0);
    EXPECT_EQ(test::ShmObjectsOf(dir.Path()).size(), 3u);
    RemoveMachineState();
    EXPECT_EQ(test::ShmObjectsOf(dir.Path()).size(), 0u);
    // The handle stays usable until closed.
    EXPECT_EQ(WaitMutex(h, 0), kWaitObject0);
    EXPECT_EQ(ReleaseMutex(h), 1);
    CloseMutex(h);
}

}  // namespace
}  // namespace kvi::platform
