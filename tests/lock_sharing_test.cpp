// Which processes share a book lock: every spelling of one Windows
// directory is one lock, and a child of fork shares none of its parent's.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "frame/book_locks.h"
#include "frame/process_state.h"
#include "kviabdb.h"
#include "platform/platform.h"
#include "support/peer_process.h"
#include "support/shm_objects.h"
#include "support/test_support.h"

namespace {

using kvi::LockerSlot;
using kvi::test::Peer;
using kvi::test::ShmObjectsOf;
using kvi::test::TempWindowsDir;

std::string Locker(LockerSlot slot) {
    char name[64];
    return kvi::GetLocker(slot, name, sizeof name) ? std::string(name) : std::string();
}

TEST(LockSharing, EverySpellingOfTheWindowsDirectoryIsOneLock) {
    TempWindowsDir dir;
    const std::string path = dir.Path();
    const std::string parent = path.substr(0, path.rfind('/'));
    const std::string base = path.substr(path.rfind('/') + 1);
    const std::string link = path + "-link";
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    ASSERT_EQ(KviDfInitialize(), 1);
    ASSERT_EQ(kvi::Shared().initCount, 1);
    char holder[] = "holder";
    ASSERT_EQ(KviDfLockAddressBook(holder), 1);

    // Relative spellings are taken from the parent folder of DIR.
    const std::vector<std::string> spellings = {path + "/", path + "/./KVI32/..", "./" + base,
                                                base + "/../" + base, link};
    for (const std::string& spelling : spellings) {
        Peer other([&](Peer&) {
            if (chdir(parent.c_str()) != 0) return 1;
            setenv("KVI_WINDOWS_DIR", spelling.c_str(), 1);
            if (KviDfInitialize() != 1) return 2;
            if (KviDfLockAddressBook(nullptr) != 0) return 3;  // held by the parent
            if (Locker(LockerSlot::kAddress) != "holder") return 4;
            char windowsDir[512];
            const uint32_t n = kvi::platform::GetWindowsDirectory(windowsDir, sizeof windowsDir);
            if (n == 0 || n >= sizeof windowsDir || path != windowsDir) return 5;  // book paths use it
            KviDfTerminate();
            return 0;
        });
        EXPECT_EQ(other.Join(), 0) << spelling;
    }
    EXPECT_EQ(ShmObjectsOf(path).size(), 4u);  // one block, its count lock, two book locks, whatever the spelling

    KviDfUnlockAddressBook();
    Peer viaLink([&](Peer&) {
        setenv("KVI_WINDOWS_DIR", link.c_str(), 1);
        KviDfInitialize();
        if (KviDfLockAddressBook(nullptr) != 1) return 1;
        KviDfUnlockAddressBook();
        KviDfTerminate();
        return 0;
    });
    EXPECT_EQ(viaLink.Join(), 0);
    KviDfTerminate();
    EXPECT_EQ(kvi::IsInitialized(), 0);
    unlink(link.c_str());
}

TEST(LockSharing, AFolderThatDoesNotExistKeepsItsText) {
    TempWindowsDir dir;
    const std::string missing = dir.Path() + "/gone/../nowhere";
    setenv("KVI_WINDOWS_DIR", missing.c_str(), 1);
    char windowsDir[512];
    ASSERT_EQ(kvi::platform::GetWindowsDirectory(windowsDir, sizeof windowsDir), missing.size());
    EXPECT_EQ(missing, windowsDir);
    dir.Activate();
}

// A thread that ends holding the address lock leaves it with its process:
// another process cannot take it until the process unlocks.
TEST(LockSharing, AddressLockOfAThreadThatEndsStaysWithTheProcess) {
    TempWindowsDir dir;
    ASSERT_EQ(KviDfInitialize(), 1);
    char name[] = "worker thread";
    int locked = 0;
    std::thread worker([&] { locked = KviDfLockAddressBook(name); });
    worker.join();
    ASSERT_EQ(locked, 1);
    auto lockElsewhere = [] {
        Peer other([](Peer&) {
            KviDfInitialize();
            const int got = KviDfLockAddressBook(nullptr);
            KviDfTerminate();
            return got;
        });
        return other.Join();
    };
    EXPECT_EQ(lockElsewhere(), 0);
    EXPECT_EQ(kvi::IsAddressBookLocked(), 1);
    EXPECT_EQ(Locker(LockerSlot::kAddress), "worker thread");
    EXPECT_EQ(KviDfUnlockAddressBook(), 1);  // from the main thread
    EXPECT_EQ(lockElsewhere(), 1);
    KviDfTerminate();
}

// Both books, the lock held by the parent or not, and the parent's release
// before or after the child's calls.
struct ForkCase {
    bool security;
    bool held;
    bool parentReleasesFirst;
};

int LockBook(bool security, char* name) {
    return security ? KviDfLockSecurityBook(name, 0) : KviDfLockAddressBook(name);
}
void UnlockBook(bool security) {
    if (security) {
        KviDfUnlockSecurityBook();
    } else {
        KviDfUnlockAddressBook();
    }
}

// The child of fork is a process that has not initialized the library:
// it holds nothing, and its calls never touch the parent's lock or name.
int ChildOfFork(Peer& self, const ForkCase& c) {
    const LockerSlot slot = c.security ? LockerSlot::kSecurity : LockerSlot::kAddress;
    char mine[] = "child";
    if (kvi::IsInitialized() || kvi::IsAddressBookLocked() || kvi::IsSecurityBookLockedByMe()) return 10;
    if (KviDfUnlockAddressBook() != 0 || KviDfUnlockSecurityBook() != 0) return 11;
    if (LockBook(c.security, mine) != 0) return 12;  // not initialized
    if (KviDfInitialize() != 1) return 13;
    if (!self.Await()) return 14;  // the parent has released, or not
    const bool parentHolds = c.held && !c.parentReleasesFirst;
    if (LockBook(c.security, mine) != (parentHolds ? 0 : 1)) return 15;
    if (Locker(slot) != (parentHolds ? "parent" : "child")) return 16;
    UnlockBook(c.security);
    if (Locker(slot) != (parentHolds ? "parent" : "")) return 17;
    if (LockBook(c.security, mine) != (parentHolds ? 0 : 1)) return 18;  // nothing stale either way
    UnlockBook(c.security);
    KviDfTerminate();
    return 0;
}

TEST(LockSharing, ChildOfForkStartsWithNoLockAndLeavesTheParentsAlone) {
    const ForkCase cases[] = {
        {false, true, false}, {false, true, true}, {false, false, false},
        {true, true, false},  {true, true, true},  {true, false, false},
    };
    for (const ForkCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "security " << c.security << " held " << c.held << " parent first "
                                        << c.parentReleasesFirst);
        TempWindowsDir dir;
        const LockerSlot slot = c.security ? LockerSlot::kSecurity : LockerSlot::kAddress;
        ASSERT_EQ(KviDfInitialize(), 1);
        ASSERT_EQ(kvi::Shared().initCount, 1);
        char name[] = "parent";
        if (c.held) {
            ASSERT_EQ(LockBook(c.security, name), 1);
        }
        Peer child([&](Peer& self) {
            alarm(20);
            return ChildOfFork(self, c);
        });
        if (c.held && c.parentReleasesFirst) UnlockBook(c.security);
        child.Tell();
        EXPECT_EQ(child.Join(), 0);
        if (c.held && !c.parentReleasesFirst) {
            EXPECT_EQ(c.security ? kvi::IsSecurityBookLockedByMe() : kvi::IsAddressBookLocked(), 1);
            EXPECT_EQ(Locker(slot), "parent");
            Peer other([&](Peer&) {
                KviDfInitialize();
                const int got = LockBook(c.security, nullptr);
                KviDfTerminate();
                return got;
            });
            EXPECT_EQ(other.Join(), 0);  // still the parent's
            UnlockBook(c.security);
        }
        EXPECT_EQ(Locker(slot), "");
        EXPECT_EQ(LockBook(c.security, name), 1);
        UnlockBook(c.security);
        KviDfTerminate();
        EXPECT_EQ(kvi::IsInitialized(), 0);
    }
}

// KVI_LOCK_PEER is the command that starts tests/lock_peer.cpp built for
// the other word size, e.g. "qemu-i386 build/linux32/tests/kvi_lock_peer".
TEST(LockSharing, ProcessesOfTheOtherWordSizeShareTheLocksAndNames) {
    const char* peer = std::getenv("KVI_LOCK_PEER");
    if (!peer || !*peer) GTEST_SKIP() << "KVI_LOCK_PEER names no program of the other word size";
    TempWindowsDir dir;
    ASSERT_EQ(KviDfInitialize(), 1);
    ASSERT_EQ(kvi::Shared().initCount, 1);
    char mine[] = "held here";
    ASSERT_EQ(KviDfLockAddressBook(mine), 1);
    FILE* tried = popen((std::string(peer) + " try").c_str(), "r");
    ASSERT_NE(tried, nullptr);
    char line[256] = "";
    if (!std::fgets(line, sizeof line, tried)) line[0] = 0;
    EXPECT_EQ(pclose(tried), 0);
    EXPECT_STREQ(line, "held here\n");
    KviDfUnlockAddressBook();

    // The peer takes the security lock and ends holding it.
    FILE* holder = popen((std::string(peer) + " hold 1500").c_str(), "r");
    ASSERT_NE(holder, nullptr);
    if (!std::fgets(line, sizeof line, holder)) line[0] = 0;
    ASSERT_STREQ(line, "held\n");
    EXPECT_EQ(KviDfLockSecurityBook(mine, 0), 0);
    EXPECT_EQ(Locker(LockerSlot::kSecurity), "peer");
    EXPECT_EQ(pclose(holder), 0);
    EXPECT_EQ(KviDfLockSecurityBook(mine, 5000), 1);  // abandoned, and taken
    EXPECT_EQ(Locker(LockerSlot::kSecurity), "held here");
    KviDfUnlockSecurityBook();
    KviDfTerminate();
}

}  // namespace
