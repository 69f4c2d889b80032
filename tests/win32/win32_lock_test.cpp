// The cross-process behaviour of the book locks and the start-up count on
// Windows, with helper processes instead of fork: a lock held in one
// process is refused in another, whose locker query shows the holder's
// name out of the shared section; a waiter waits for its timeout; a killed
// holder leaves abandoned mutexes that the next locker takes.
// <windows.h> with the macros that rename platform functions undone.
#include "platform/win32/windows_api.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "frame/process_state.h"
#include "kviabdb.h"
#include "platform/platform.h"
#include "support/test_support.h"
#include "win32/helper_process.h"

namespace {

using kvi::test::HelperProcess;
using kvi::test::NamedEvent;
using kvi::test::TempWindowsDir;

// Locks the book named by arg as "holder", signals lock_ready (or
// lock_failed), holds it until lock_release, then lets it go.
KVI_TEST_HELPER(HoldLock) {
    const bool security = arg == "security";
    NamedEvent ready("lock_ready");
    NamedEvent failed("lock_failed");
    NamedEvent release("lock_release");
    KviDfInitialize();
    char name[] = "holder";
    if ((security ? KviDfLockSecurityBook(name, 0) : KviDfLockAddressBook(name)) != 1) {
        failed.Signal();
        return 1;
    }
    ready.Signal();
    if (!release.Wait(60000)) return 2;
    const int unlocked = security ? KviDfUnlockSecurityBook() : KviDfUnlockAddressBook();
    KviDfTerminate();
    return unlocked == 1 ? 0 : 3;
}

// A second process initializes while the test's process is initialized.
KVI_TEST_HELPER(CountWithOthers) {
    KviDfInitialize();
    if (kvi::Shared().initCount != 2) return 10;
    KviDfTerminate();
    if (kvi::Shared().initCount != 1) return 11;
    return kvi::IsInitialized() == 1 ? 0 : 12;  // not the one that reached 0
}

// The names as the shared section holds them (the locker exports need an
// open book, which is not what these tests are about).
std::string AddressLocker() { return kvi::Shared().addressLocker; }
std::string SecurityLocker() { return kvi::Shared().securityLocker; }

class WindowsBookLockTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(KviDfInitialize(), 1); }
    void TearDown() override {
        KviDfUnlockAddressBook();
        while (KviDfUnlockSecurityBook() == 1) {
        }
        KviDfTerminate();
    }

    TempWindowsDir dir_;
    NamedEvent ready_{"lock_ready"};
    NamedEvent failed_{"lock_failed"};
    NamedEvent release_{"lock_release"};
};

TEST_F(WindowsBookLockTest, LockHeldInAnotherProcessIsRefusedAndShowsItsLocker) {
    for (const char* book : {"address", "security"}) {
        SCOPED_TRACE(book);
        const bool security = std::string(book) == "security";
        ready_.Reset();
        release_.Reset();
        HelperProcess holder("HoldLock", book);
        ASSERT_TRUE(holder.Started());
        ASSERT_TRUE(ready_.Wait());
        char me[] = "second";
        EXPECT_EQ(security ? KviDfLockSecurityBook(me, 0) : KviDfLockAddressBook(me), 0);
        EXPECT_EQ(security ? SecurityLocker() : AddressLocker(), "holder");
        release_.Signal();
        EXPECT_EQ(holder.Wait(), 0);
        EXPECT_EQ(security ? SecurityLocker() : AddressLocker(), "");
        EXPECT_EQ(security ? KviDfLockSecurityBook(me, 0) : KviDfLockAddressBook(me), 1);
        EXPECT_EQ(security ? SecurityLocker() : AddressLocker(), "second");
        EXPECT_EQ(security ? KviDfUnlockSecurityBook() : KviDfUnlockAddressBook(), 1);
    }
}

TEST_F(WindowsBookLockTest, SecurityWaiterWaitsForItsTimeoutThenGetsTheReleasedLock) {
    HelperProcess holder("HoldLock", "security");
    ASSERT_TRUE(ready_.Wait());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(KviDfLockSecurityBook(nullptr, 300), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(280));
    release_.Signal();
    char me[] = "waiter";
    EXPECT_EQ(KviDfLockSecurityBook(me, 10000), 1);
    EXPECT_EQ(SecurityLocker(), "waiter");
    EXPECT_EQ(holder.Wait(), 0);
}

TEST_F(WindowsBookLockTest, KilledHolderLeavesAbandonedLocksThatTheNextLockerTakes) {
    for (const char* book : {"address", "security"}) {
        SCOPED_TRACE(book);
        const bool security = std::string(book) == "security";
        ready_.Reset();
        {
            HelperProcess holder("HoldLock", book);
            ASSERT_TRUE(ready_.Wait());
            EXPECT_EQ(security ? SecurityLocker() : AddressLocker(), "holder");
            holder.Kill();
        }
        char me[] = "survivor";
        // WAIT_ABANDONED: the mutex is ours, and the name left by the dead
        // holder is replaced.
        EXPECT_EQ(security ? KviDfLockSecurityBook(me, 1000) : KviDfLockAddressBook(me), 1);
        EXPECT_EQ(security ? SecurityLocker() : AddressLocker(), "survivor");
        EXPECT_EQ(security ? KviDfUnlockSecurityBook() : KviDfUnlockAddressBook(), 1);
    }
}

TEST_F(WindowsBookLockTest, CountIsMachineWideAndOnlyTheLastTerminateShutsDown) {
    EXPECT_EQ(kvi::Shared().initCount, 1);
    HelperProcess other("CountWithOthers");
    EXPECT_EQ(other.Wait(), 0);
    EXPECT_EQ(kvi::Shared().initCount, 1);
    KviDfTerminate();
    EXPECT_EQ(kvi::Shared().initCount, 0);
    EXPECT_EQ(kvi::IsInitialized(), 0);
    EXPECT_EQ(kvi::Process().addressMutex, 0u);
    ASSERT_EQ(KviDfInitialize(), 1);  // for TearDown
}

TEST(WindowsMutex, NullHandleFailsEveryOperationWithoutACrash) {
    TempWindowsDir dir;
    EXPECT_EQ(kvi::platform::WaitMutex(0, 0), kvi::platform::kWaitFailed);
    EXPECT_EQ(kvi::platform::WaitMutex(0, kvi::platform::kInfinite), kvi::platform::kWaitFailed);
    EXPECT_EQ(kvi::platform::ReleaseMutex(0), 0);
    kvi::platform::CloseMutex(0);
    // A process whose mutexes could not be created can never lock.
    ASSERT_EQ(KviDfInitialize(), 1);
    const auto address = kvi::Process().addressMutex;
    const auto security = kvi::Process().securityMutex;
    kvi::Process().addressMutex = 0;
    kvi::Process().securityMutex = 0;
    char name[] = "nobody";
    EXPECT_EQ(KviDfLockAddressBook(name), 0);
    EXPECT_EQ(KviDfLockSecurityBook(name, 50), 0);
    kvi::Process().addressMutex = address;
    kvi::Process().securityMutex = security;
    KviDfTerminate();
}

TEST(WindowsMutex, ThreadThatEndsHoldingItAbandonsIt) {
    const auto mutex = kvi::platform::CreateNamedMutex("kvi_test_thread_abandon", nullptr);
    ASSERT_NE(mutex, 0u);
    HANDLE thread = ::CreateThread(
        nullptr, 0,
        [](void* m) -> DWORD { return kvi::platform::WaitMutex(reinterpret_cast<uintptr_t>(m), 0); },
        reinterpret_cast<void*>(mutex), 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ::WaitForSingleObject(thread, 10000);
    DWORD code = 99;
    ::GetExitCodeThread(thread, &code);
    ::CloseHandle(thread);
    EXPECT_EQ(code, kvi::platform::kWaitObject0);
    EXPECT_EQ(kvi::platform::WaitMutex(mutex, 0), kvi::platform::kWaitAbandoned);
    EXPECT_EQ(kvi::platform::WaitMutex(mutex, 0), kvi::platform::kWaitObject0);  // recursive for its owner
    EXPECT_EQ(kvi::platform::ReleaseMutex(mutex), 1);
    EXPECT_EQ(kvi::platform::ReleaseMutex(mutex), 1);
    EXPECT_EQ(kvi::platform::ReleaseMutex(mutex), 0);  // no longer the owner
    kvi::platform::CloseMutex(mutex);
}

}  // namespace
