// The two book locks across threads and processes, their locker names and
// what happens when a holder dies.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "frame/book_locks.h"
#include "frame/process_state.h"
#include "kviabdb.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

using kvi::test::TempWindowsDir;

// A child process that runs `body` and then waits for the parent; the
// parent learns through a pipe when the body is done.
class Child {
public:
    template <class Body>
    explicit Child(Body body) {
        int up[2], down[2];
        if (pipe(up) != 0 || pipe(down) != 0) std::abort();
        fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            close(up[0]);
            close(down[1]);
            kvi::test::StartAsFreshProcess();
            char r = static_cast<char>(body());
            (void)!write(up[1], &r, 1);
            char go;
            (void)!read(down[0], &go, 1);  // wait until released or killed
            _exit(0);
        }
        close(up[1]);
        close(down[0]);
        up_ = up[0];
        down_ = down[1];
    }
    ~Child() {
        if (pid_ > 0) Kill();
        close(up_);
        close(down_);
    }
    // The body's result.
    int Ready() {
        char r = -1;
        return read(up_, &r, 1) == 1 ? r : -1;
    }
    void Finish() {
        char go = 1;
        (void)!write(down_, &go, 1);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    void Kill() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int up_ = -1;
    int down_ = -1;
};

std::string AddressLocker() {
    char buf[200] = {};
    return kvi::GetLocker(kvi::LockerSlot::kAddress, buf, sizeof buf) ? buf : "";
}

std::string SecurityLocker() {
    char buf[400] = {};
    return kvi::GetLocker(kvi::LockerSlot::kSecurity, buf, sizeof buf) ? buf : "";
}

class BookLockTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(KviDfInitialize(), 1); }
    void TearDown() override {
        KviDfUnlockAddressBook();
        while (KviDfUnlockSecurityBook()) {
        }
        KviDfTerminate();
    }
    TempWindowsDir dir_;
};

TEST_F(BookLockTest, AddressLockIsRefusedAtOnceInAnotherProcessAndShowsTheLocker) {
    Child holder([] {
        KviDfInitialize();
        char name[] = "Alice Doe";
        return KviDfLockAddressBook(name);
    });
    ASSERT_EQ(holder.Ready(), 1);

    char me[] = "Bob";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(KviDfLockAddressBook(me), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(AddressLocker(), "Alice Doe");

    holder.Finish();  // the child exits with the lock held: abandoned
    EXPECT_EQ(KviDfLockAddressBook(me), 1);
    EXPECT_EQ(AddressLocker(), "Bob");
}

TEST_F(BookLockTest, AddressLockTwiceThenOneUnlockReleasesIt) {
    char first[] = "first";
    char second[] = "second";
    EXPECT_EQ(KviDfLockAddressBook(first), 1);
    EXPECT_EQ(KviDfLockAddressBook(second), 1);
    EXPECT_EQ(AddressLocker(), "first");  // a held lock taken again keeps its name
    EXPECT_EQ(KviDfUnlockAddressBook(), 1);
    EXPECT_EQ(kvi::IsAddressBookLocked(), 0);
    EXPECT_EQ(AddressLocker(), "");
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(kvi::GetLocker(kvi::LockerSlot::kAddress, buf, sizeof buf), 0);
    EXPECT_EQ(buf[0], 'x');  // nothing written when there is no locker

    Child other([] {
        KviDfInitialize();
        return KviDfLockAddressBook(nullptr);
    });
    EXPECT_EQ(other.Ready(), 1);  // released for other processes too
}

TEST_F(BookLockTest, LockerNameArgumentRules) {
    // A null name locks and leaves the slot as it was.
    EXPECT_EQ(KviDfLockAddressBook(nullptr), 1);
    EXPECT_EQ(AddressLocker(), "");
    KviDfUnlockAddressBook();

    // A name in read-only memory is refused by the buffer check.
    EXPECT_EQ(KviDfLockAddressBook(const_cast<char*>("constant")), 0);
    EXPECT_EQ(kvi::IsAddressBookLocked(), 0);
    EXPECT_EQ(KviDfLockSecurityBook(const_cast<char*>("constant"), 0), 0);

    // Longer names are cut to the slot and stay terminated.
    std::string longName(1000, 'n');
    EXPECT_EQ(KviDfLockAddressBook(&longName[0]), 1);
    EXPECT_EQ(AddressLocker(), std::string(199, 'n'));
    EXPECT_EQ(KviDfLockSecurityBook(&longName[0], 0), 1);
    EXPECT_EQ(SecurityLocker(), std::string(399, 'n'));
}

TEST_F(BookLockTest, GetLockerCopiesAsStrncpyAndRefusesLengthZero) {
    char name[] = "Alice Doe";
    ASSERT_EQ(KviDfLockAddressBook(name), 1);
    char small[5];
    EXPECT_EQ(kvi::GetLocker(kvi::LockerSlot::kAddress, small, sizeof small), 1);
    EXPECT_STREQ(small, "Alic");
    char wide[16];
    std::memset(wide, 'x', sizeof wide);
    EXPECT_EQ(kvi::GetLocker(kvi::LockerSlot::kAddress, wide, sizeof wide), 1);
    EXPECT_STREQ(wide, "Alice Doe");
    for (size_t i = 9; i < sizeof wide; ++i) EXPECT_EQ(wide[i], '\0') << i;
    char none = 'x';
    EXPECT_EQ(kvi::GetLocker(kvi::LockerSlot::kAddress, &none, 0), 0);
    EXPECT_EQ(none, 'x');
}

TEST_F(BookLockTest, SecurityLockNestsPerThread) {
    char name[] = "admin";
    EXPECT_EQ(KviDfLockSecurityBook(name, 0), 1);
    EXPECT_EQ(KviDfLockSecurityBook(nullptr, 0), 1);
    EXPECT_EQ(kvi::Process().securityDepth, 2);

    // Another thread of this process is refused at once, long timeout or not.
    int other = -1;
    auto start = std::chrono::steady_clock::now();
    std::thread([&] { other = KviDfLockSecurityBook(nullptr, 10000); }).join();
    EXPECT_EQ(other, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    // ... and cannot unlock it.
    std::thread([&] { other = KviDfUnlockSecurityBook(); }).join();
    EXPECT_EQ(other, 0);
    EXPECT_EQ(kvi::Process().securityDepth, 2);

    EXPECT_EQ(KviDfUnlockSecurityBook(), 1);
    EXPECT_EQ(kvi::IsSecurityBookLockedByMe(), 1);  // one level left
    EXPECT_EQ(SecurityLocker(), "admin");
    EXPECT_EQ(KviDfUnlockSecurityBook(), 1);
    EXPECT_EQ(kvi::IsSecurityBookLockedByMe(), 0);
    EXPECT_EQ(SecurityLocker(), "");
    EXPECT_EQ(KviDfUnlockSecurityBook(), 0);  // not held any more
}

TEST_F(BookLockTest, SecurityWaiterInAnotherProcessWaitsForItsTimeout) {
    char name[] = "holder";
    ASSERT_EQ(KviDfLockSecurityBook(name, 0), 1);

    // Times out while held.
    Child late([] {
        KviDfInitialize();
        auto start = std::chrono::steady_clock::now();
        int r = KviDfLockSecurityBook(nullptr, 200);
        auto waited = std::chrono::steady_clock::now() - start;
        return r == 0 && waited >= std::chrono::milliseconds(180) ? 1 : 0;
    });
    EXPECT_EQ(late.Ready(), 1);

    // Gets it within its timeout once released.
    Child waiter([] {
        KviDfInitialize();
        char me[] = "waiter";
        return KviDfLockSecurityBook(me, 5000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(KviDfUnlockSecurityBook(), 1);
    EXPECT_EQ(waiter.Ready(), 1);
    EXPECT_EQ(SecurityLocker(), "waiter");
    EXPECT_EQ(KviDfLockSecurityBook(nullptr, 0), 0);
}

TEST_F(BookLockTest, KilledHolderLeavesAbandonedLocksThatTheNextLockerTakes) {
    for (bool security : {false, true}) {
        SCOPED_TRACE(security ? "security" : "address");
        Child holder([security] {
            KviDfInitialize();
            char name[] = "crashed";
            return security ? KviDfLockSecurityBook(name, 0) : KviDfLockAddressBook(name);
        });
        ASSERT_EQ(holder.Ready(), 1);
        EXPECT_EQ(security ? SecurityLocker() : AddressLocker(), "crashed");
        holder.Kill();

        char me[] = "survivor";
        EXPECT_EQ(security ? KviDfLockSecurityBook(me, 1000) : KviDfLockAddressBook(me), 1);
        EXPECT_EQ(security ? SecurityLocker() : AddressLocker(), "survivor");
        if (security)
            KviDfUnlockSecurityBook();
        else
            KviDfUnlockAddressBook();
        // Released cleanly afterwards: another process gets it at once.
        Child next([security] {
            KviDfInitialize();
            return security ? KviDfLockSecurityBook(nullptr, 0) : KviDfLockAddressBook(nullptr);
        });
        EXPECT_EQ(next.Ready(), 1);
    }
}

TEST_F(BookLockTest, ExportsRefuseWhileNotInitialized) {
    KviDfTerminate();  // count back to 0: this process is shut down
    EXPECT_EQ(kvi::IsInitialized(), 0);
    char name[] = "x";
    EXPECT_EQ(KviDfLockAddressBook(name), 0);
    EXPECT_EQ(KviDfUnlockAddressBook(), 0);
    EXPECT_EQ(KviDfLockSecurityBook(name, 0), 0);
    EXPECT_EQ(KviDfUnlockSecurityBook(), 0);
    KviDfInitialize();  // for TearDown
}

TEST(BookLockIsolation, TwoWindowsDirectoriesNeverShareLocksOrCounts) {
    TempWindowsDir first;
    ASSERT_EQ(KviDfInitialize(), 1);
    char name[] = "first";
    ASSERT_EQ(KviDfLockAddressBook(name), 1);
    ASSERT_EQ(KviDfLockSecurityBook(name, 0), 1);
    {
        TempWindowsDir second;
        int r = kvi::test::RunInChild([] {
            kvi::test::StartAsFreshProcess();
            // A fresh process on the second "machine": its own mutexes,
            // its own count, empty locker names.
            if (KviDfInitialize() != 1) return 10;
            if (kvi::Shared().initCount != 1) return 11;
            if (!AddressLocker().empty()) return 12;
            if (KviDfLockAddressBook(nullptr) != 1) return 13;
            if (KviDfLockSecurityBook(nullptr, 0) != 1) return 14;
            return 0;
        });
        EXPECT_EQ(r, 0);
    }
    first.Activate();
    EXPECT_EQ(kvi::Shared().initCount, 1);
    EXPECT_EQ(AddressLocker(), "first");
    KviDfUnlockSecurityBook();
    KviDfUnlockAddressBook();
    KviDfTerminate();
}

}  // namespace
