// What a second local account can do to the shared objects of a Windows
// directory: nothing where the books' folder does not let it write, and,
// where it does, nothing worse than wrong locker names. Run as root; the
// other account is "nobody" (group "nogroup"), dropped to in a forked
// child as setpriv --reuid=nobody --regid=nogroup --clear-groups does.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "frame/book_locks.h"
#include "frame/process_state.h"
#include "kviabdb.h"
#include "platform/platform.h"
#include "platform/posix/machine.h"
#include "support/nobody.h"
#include "support/peer_process.h"
#include "support/shm_objects.h"
#include "support/test_support.h"

namespace {

using kvi::LockerSlot;
using kvi::test::Account;
using kvi::test::BecomeNobody;
using kvi::test::FindNobody;
using kvi::test::Peer;
using kvi::test::ShmObjectsOf;
using kvi::test::TempWindowsDir;

bool IsBlock(const std::string& path) { return path.size() >= 5 && path.compare(path.size() - 5, 5, "block") == 0; }

std::string Locker(LockerSlot slot) {
    char name[64];
    return kvi::GetLocker(slot, name, sizeof name) ? std::string(name) : std::string();
}

// Processes that lock and unlock both books side by side, counting the
// holders of each lock in memory they all share: more than one at a time
// is a fault.
class Contenders {
public:
    Contenders()
        : shared_(static_cast<int*>(
              mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0))) {}
    ~Contenders() {
        if (shared_ != MAP_FAILED) munmap(shared_, 4096);
    }
    bool Ready() const { return shared_ != MAP_FAILED; }
    int Overlaps() const { return __atomic_load_n(&shared_[0], __ATOMIC_SEQ_CST); }

    // Counts one holder in and out around a lock already taken.
    void Inside(bool security) {
        int* inside = &shared_[security ? 2 : 1];
        if (__atomic_add_fetch(inside, 1, __ATOMIC_SEQ_CST) != 1) __atomic_add_fetch(&shared_[0], 1, __ATOMIC_SEQ_CST);
        Locker(LockerSlot::kAddress);  // whatever another account left
        Locker(LockerSlot::kSecurity);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        __atomic_sub_fetch(inside, 1, __ATOMIC_SEQ_CST);
    }

    // Takes and releases one book's lock until the deadline; the number of
    // times it was had. With initCounts, every round also moves the
    // machine-wide count.
    int Loop(bool security, std::chrono::steady_clock::time_point until, bool initCounts = false) {
        int wins = 0;
        char name[] = "worker";
        while (std::chrono::steady_clock::now() < until) {
            if (initCounts) KviDfInitialize();
            const int got = security ? KviDfLockSecurityBook(name, 20) : KviDfLockAddressBook(name);
            if (!got) continue;
            ++wins;
            Inside(security);
            if (security) {
                KviDfUnlockSecurityBook();
            } else {
                KviDfUnlockAddressBook();
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));  // a chance for the others
        }
        return wins;
    }

private:
    int* shared_;
};

// Two processes, one on each book's lock, looping until the deadline.
std::vector<std::unique_ptr<Peer>> StartWorkers(Contenders& contenders, std::chrono::steady_clock::time_point until,
                                                bool initCounts) {
    std::vector<std::unique_ptr<Peer>> workers;
    for (int i = 0; i < 2; ++i) {
        workers.push_back(std::make_unique<Peer>([&contenders, until, initCounts, i](Peer&) {
            alarm(30);
            KviDfInitialize();
            return contenders.Loop(i == 1, until, initCounts) > 0 ? 0 : 1;
        }));
    }
    return workers;
}

// Descriptors open for writing on every object; fewer when one would not
// open.
std::vector<int> OpenForWriting(const std::vector<std::string>& objects) {
    std::vector<int> fds;
    for (const std::string& object : objects) {
        const int fd = open(object.c_str(), O_RDWR);
        if (fd < 0) break;
        fds.push_back(fd);
    }
    return fds;
}

class SharedStateAccess : public testing::Test {
protected:
    // Other processes' calls (and the scribbler's bytes) leave the count
    // anywhere: each test starts and ends as a process that has just
    // loaded the library.
    void SetUp() override {
        kvi::test::StartAsFreshProcess();
        if (geteuid() != 0) GTEST_SKIP() << "needs root to act as a second account";
        if (!FindNobody(&nobody_)) GTEST_SKIP() << "no nobody account";
        // The other account must reach the folder to try anything at all.
        ASSERT_EQ(chmod(dir_.Path().c_str(), 0755), 0);
    }
    void TearDown() override {
        kvi::platform::CloseMutex(kvi::Process().addressMutex);
        kvi::platform::CloseMutex(kvi::Process().securityMutex);
        kvi::test::StartAsFreshProcess();
    }
    std::string Kvi32() const { return dir_.Path() + "/KVI32"; }
    // The folder given to nobody's group, 0775, and the library started:
    // its four objects (block, count lock, two book locks).
    void ShareFolderWithGroup(std::vector<std::string>* objects) {
        ASSERT_EQ(chown(Kvi32().c_str(), 0, nobody_.gid), 0);
        ASSERT_EQ(chmod(Kvi32().c_str(), 0775), 0);
        ASSERT_EQ(KviDfInitialize(), 1);
        *objects = ShmObjectsOf(dir_.Path());
        ASSERT_EQ(objects->size(), 4u);
    }

    TempWindowsDir dir_;
    Account nobody_{};
};

// The folder is root's, 0755: nobody may read the books but not write them.
TEST_F(SharedStateAccess, AReaderCanReadTheNamesButNotWriteBlockOrLock) {
    ASSERT_EQ(chmod(Kvi32().c_str(), 0755), 0);
    ASSERT_EQ(KviDfInitialize(), 1);
    char holder[] = "root holder";
    ASSERT_EQ(KviDfLockAddressBook(holder), 1);
    ASSERT_EQ(KviDfLockSecurityBook(holder, 0), 1);
    const std::vector<std::string> objects = ShmObjectsOf(dir_.Path());
    ASSERT_EQ(objects.size(), 4u);  // block, count lock, two book locks
    for (const std::string& object : objects) {
        struct stat st;
        ASSERT_EQ(stat(object.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, IsBlock(object) ? 0644u : 0600u) << object;
    }

    const Account nobody = nobody_;
    Peer reader([&](Peer& self) {
        alarm(20);
        if (!BecomeNobody(nobody)) return 1;
        std::vector<int> held;  // kept open, and locked where it can be, until the parent is done
        for (const std::string& object : objects) {
            if (open(object.c_str(), O_RDWR) >= 0 || errno != EACCES) return 2;
            if (open(object.c_str(), O_WRONLY | O_TRUNC) >= 0) return 3;
            if (truncate(object.c_str(), 0) == 0) return 4;
            if (unlink(object.c_str()) == 0) return 5;
            const int fd = open(object.c_str(), O_RDONLY);
            if (!IsBlock(object)) {
                if (fd >= 0) return 6;  // a reader could hold a read lock on it
                continue;
            }
            if (fd < 0) return 7;
            if (flock(fd, LOCK_EX) != 0) return 8;
            struct flock range {};
            range.l_type = F_RDLCK;
            range.l_whence = SEEK_SET;
            if (fcntl(fd, F_OFD_SETLK, &range) != 0) return 9;
            held.push_back(fd);
        }
        // It may still initialize and read who holds the books.
        if (KviDfInitialize() != 1) return 10;
        if (KviDfLockAddressBook(nullptr) != 0 || KviDfLockSecurityBook(nullptr, 0) != 0) return 11;
        if (Locker(LockerSlot::kAddress) != "root holder" || Locker(LockerSlot::kSecurity) != "root holder") return 12;
        KviDfTerminate();
        if (kvi::IsInitialized()) return 13;  // it counts its own calls
        self.Notify();
        self.Await();
        return 0;
    });
    ASSERT_TRUE(reader.Heard());
    EXPECT_EQ(kvi::Shared().initCount, 1);  // the reader's calls did not move it

    // With the reader holding every lock it could take, the writers go on.
    KviDfUnlockAddressBook();
    KviDfUnlockSecurityBook();
    Peer writer([](Peer&) {
        alarm(10);  // a start-up that blocks fails the test instead of hanging it
        char name[] = "writer";
        if (KviDfInitialize() != 1) return 1;
        if (KviDfLockAddressBook(name) != 1) return 2;
        if (KviDfLockSecurityBook(name, 1000) != 1) return 3;
        if (Locker(LockerSlot::kAddress) != "writer") return 4;
        return 0;
    });
    EXPECT_EQ(writer.Join(), 0);
    EXPECT_EQ(KviDfLockAddressBook(holder), 1);  // the dead writer's lock came back
    reader.Tell();
    EXPECT_EQ(reader.Join(), 0);
    KviDfUnlockAddressBook();
}

// The folder is root's alone (0700): nobody can open any object at all,
// and its own start-up neither waits nor touches the machine's state.
TEST_F(SharedStateAccess, AnAccountWithoutRightsToTheFolderCanOpenNoObject) {
    ASSERT_EQ(chmod(Kvi32().c_str(), 0700), 0);
    ASSERT_EQ(KviDfInitialize(), 1);
    char holder[] = "root holder";
    ASSERT_EQ(KviDfLockAddressBook(holder), 1);
    const std::vector<std::string> objects = ShmObjectsOf(dir_.Path());
    ASSERT_EQ(objects.size(), 4u);  // block, count lock, two book locks
    const Account nobody = nobody_;
    Peer outsider([&](Peer&) {
        alarm(20);
        if (!BecomeNobody(nobody)) return 1;
        for (const std::string& object : objects) {
            if (open(object.c_str(), O_RDONLY) >= 0 || errno != EACCES) return 2;
            if (open(object.c_str(), O_RDWR) >= 0 || truncate(object.c_str(), 0) == 0) return 3;
        }
        if (KviDfInitialize() != 1) return 4;
        if (KviDfLockAddressBook(nullptr) != 0) return 5;
        if (!Locker(LockerSlot::kAddress).empty()) return 6;  // a block of its own
        KviDfTerminate();
        return kvi::IsInitialized() ? 7 : 0;
    });
    EXPECT_EQ(outsider.Join(), 0);
    EXPECT_EQ(kvi::Shared().initCount, 1);
    EXPECT_EQ(Locker(LockerSlot::kAddress), "root holder");
    KviDfUnlockAddressBook();
}

// An object made by an account outside the folder's writers before the
// library made it is not used: its maker could forge the locks' state.
TEST_F(SharedStateAccess, ObjectsSquattedByAnotherAccountAreRefused) {
    ASSERT_EQ(chmod(Kvi32().c_str(), 0755), 0);
    const std::string block = "/dev/shm" + kvi::platform::posix::MachineShmPrefix(dir_.Path().c_str()) + "block";
    const Account nobody = nobody_;
    Peer squatter([&](Peer&) {
        if (!BecomeNobody(nobody)) return 1;
        const int fd = open(block.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
        if (fd < 0 || fchmod(fd, 0666) != 0 || ftruncate(fd, 4096) != 0) return 2;
        return 0;
    });
    ASSERT_EQ(squatter.Join(), 0);
    ASSERT_EQ(KviDfInitialize(), 1);
    EXPECT_EQ(kvi::SharedWritable(), 1);  // a block of its own
    char name[] = "root";
    EXPECT_EQ(KviDfLockAddressBook(name), 1);
    EXPECT_EQ(Locker(LockerSlot::kAddress), "root");
    const int fd = open(block.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    char bytes[64] = {};
    EXPECT_EQ(pread(fd, bytes, sizeof bytes, 16), static_cast<ssize_t>(sizeof bytes));
    close(fd);
    EXPECT_EQ(std::string(bytes + 4), "");  // the squatted object was never written
    KviDfUnlockAddressBook();
}

// The folder's group may write it: the objects take that group, and a
// member scribbling random bytes over all of them while other processes
// lock and unlock gives no crash, and never two holders at once.
TEST_F(SharedStateAccess, GroupWriterScribblingGivesNoCrashAndNoSecondHolder) {
    std::vector<std::string> objects;
    ASSERT_NO_FATAL_FAILURE(ShareFolderWithGroup(&objects));
    for (const std::string& object : objects) {
        struct stat st;
        ASSERT_EQ(stat(object.c_str(), &st), 0);
        EXPECT_EQ(st.st_gid, nobody_.gid) << object;
        EXPECT_EQ(st.st_mode & 0777, IsBlock(object) ? 0664u : 0660u) << object;
    }

    Contenders contenders;
    ASSERT_TRUE(contenders.Ready());
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    const std::vector<std::unique_ptr<Peer>> workers = StartWorkers(contenders, until, false);
    const Account nobody = nobody_;
    Peer scribbler([&](Peer&) {
        alarm(30);
        if (!BecomeNobody(nobody)) return 1;
        std::mt19937 random(12345);
        const std::vector<int> fds = OpenForWriting(objects);
        if (fds.size() != objects.size()) return 2;  // the group may write them
        KviDfInitialize();  // and lock: it is one of the writers
        int rounds = 0;
        while (std::chrono::steady_clock::now() < until) {
            for (const int fd : fds) {
                unsigned char bytes[64];
                for (unsigned char& b : bytes) b = static_cast<unsigned char>(random());
                const off_t at = static_cast<off_t>(random() % 640);
                (void)!pwrite(fd, bytes, 1 + random() % sizeof bytes, at);
            }
            char name[] = "scribbler";
            if (++rounds % 16 == 0 && KviDfLockSecurityBook(name, 0)) {
                contenders.Inside(true);
                KviDfUnlockSecurityBook();
            }
        }
        return 0;
    });
    const int mine = contenders.Loop(false, until);
    for (auto& worker : workers) EXPECT_EQ(worker->Join(), 0);
    EXPECT_EQ(scribbler.Join(), 0);
    EXPECT_GT(mine, 0);
    EXPECT_EQ(contenders.Overlaps(), 0);
    // No lock was lost: both can still be taken.
    char name[] = "after";
    EXPECT_EQ(KviDfLockAddressBook(name), 1);
    EXPECT_EQ(KviDfLockSecurityBook(name, 1000), 1);
    KviDfUnlockSecurityBook();
    KviDfUnlockAddressBook();
}

// The same writer cutting every object short and stretching it again (the
// block to nothing, to less than its header, past its end) while others
// lock, unlock, read the locker names and move the count: no process dies
// (the block is not mapped, so there is no page past the end to fault on),
// no lock is held twice or lost, and the names and the count work again
// on the cut objects.
TEST_F(SharedStateAccess, GroupWriterTruncatingObjectsGivesNoCrashAndNoLostLock) {
    std::vector<std::string> objects;
    ASSERT_NO_FATAL_FAILURE(ShareFolderWithGroup(&objects));

    Contenders contenders;
    ASSERT_TRUE(contenders.Ready());
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    const std::vector<std::unique_ptr<Peer>> workers = StartWorkers(contenders, until, true);
    const Account nobody = nobody_;
    Peer truncator([&](Peer&) {
        alarm(30);
        if (!BecomeNobody(nobody)) return 1;
        const std::vector<int> fds = OpenForWriting(objects);
        if (fds.size() != objects.size()) return 2;  // the group may write them
        const off_t sizes[] = {0, 1, 3, 15, 16, 300, 619, 621, 8192, 0};
        int cuts = 0;
        while (std::chrono::steady_clock::now() < until) {
            for (const off_t size : sizes) {
                for (const int fd : fds) cuts += ftruncate(fd, size) == 0;
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
        }
        return cuts > 0 ? 0 : 3;
    });
    const int mine = contenders.Loop(false, until, true);
    for (auto& worker : workers) EXPECT_EQ(worker->Join(), 0);
    EXPECT_EQ(truncator.Join(), 0);
    EXPECT_GT(mine, 0);
    EXPECT_EQ(contenders.Overlaps(), 0);

    // The objects are empty now; the names and the count come back.
    char name[] = "after";
    ASSERT_EQ(KviDfLockAddressBook(name), 1);
    ASSERT_EQ(KviDfLockSecurityBook(name, 1000), 1);
    const int32_t count = kvi::Shared().initCount;
    Peer reader([&](Peer&) {
        if (KviDfInitialize() != 1) return 1;
        if (kvi::Shared().initCount != count + 1) return 2;
        if (KviDfLockAddressBook(nullptr) != 0 || KviDfLockSecurityBook(nullptr, 0) != 0) return 3;
        if (Locker(LockerSlot::kAddress) != "after" || Locker(LockerSlot::kSecurity) != "after") return 4;
        return 0;
    });
    EXPECT_EQ(reader.Join(), 0);
    KviDfUnlockSecurityBook();
    KviDfUnlockAddressBook();
}

}  // namespace
