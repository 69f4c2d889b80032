// The full commit is all or nothing: a failure at any file operation of a
// commit, or a process killed in the middle of one, leaves the previous
// book complete; a reader never sees half of one version and half of
// another.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "address_book_fixture.h"
#include "kviabdb.h"
#include "kviabio.h"

namespace kvi::test {
namespace {

// Long texts, so that an 800-entry section takes more than one write.
void AddMany(int n, const char* prefix) {
    char address[32];
    for (int i = 0; i < n; ++i) {
        std::snprintf(address, sizeof address, "%s%d", prefix, i);
        AddressRecord e = Entry(prefix, address, 2, "0123456789012345678901234567890123456789012345678901234567890123");
        ASSERT_EQ(1, KviDfAddAddress(&e, 0, nullptr));
    }
}

void DeleteAll() {
    const KviListHandle list = KviDfCreateAddressList();
    AddressRecord item;
    for (int32_t i = 0; i < KviDfAddressListCount(list); ++i) {
        ASSERT_EQ(1, KviDfAddressListItem(list, i, &item));
        ASSERT_EQ(1, KviDfDeleteAddress(item.id, 0, 0));
    }
    KviDfDestroyAddressList(list);
}

// The entries of the open book: their count, and the one name they all
// carry ("" when they differ).
std::pair<int, std::string> Contents() {
    const KviListHandle list = KviDfCreateAddressList();
    const int n = KviDfAddressListCount(list);
    std::string name = "none";
    for (int32_t i = 0; i < n; ++i) {
        AddressRecord item;
        if (KviDfAddressListItem(list, i, &item) != 1) return {-1, ""};
        if (i == 0) name = item.name;
        if (name != item.name) name = "";
    }
    KviDfDestroyAddressList(list);
    return {n, name};
}

// Kills a forked child however the test ends.
struct ChildGuard {
    pid_t pid;
    ~ChildGuard() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

using AddressCommit = AddressBookSession;

TEST_F(AddressCommit, AFailureAtAnyStepLeavesThePreviousBook) {
    AddMany(3, "old");
    ASSERT_EQ(1, KviDfCommitAddressBook(0));
    DeleteAll();
    AddMany(800, "new");
    uint32_t value = 0;
    // Each call of each file operation of a commit fails in turn; the
    // calls a commit makes are counted on a clean commit first.
    for (uint32_t op : {KVIO_OP_CREATE_TEMPORARY, KVIO_OP_WRITE, KVIO_OP_SET_POSITION, KVIO_OP_CLOSE, KVIO_OP_REPLACE}) {
        AddressRecord e;
        e.id = 800;
        ASSERT_EQ(1, KviDfGetAddress(&e));
        e.extraValue = ++value;
        ASSERT_EQ(1, KviDfUpdateAddress(&e, 0, 0));
        const uint32_t before = KvioCallCount(op);
        ASSERT_EQ(1, KviDfCommitAddressBook(0));
        const uint32_t calls = KvioCallCount(op) - before;
        ASSERT_GT(calls, 0u) << op;
        int failures = 0;
        for (uint32_t nth = 1; nth <= calls; ++nth) {
            const std::string previous = ReadFile(BookPath());
            e.extraValue = ++value;
            ASSERT_EQ(1, KviDfUpdateAddress(&e, 0, 0));
            KvioInjectFault(op, nth, 1);
            const int32_t r = KviDfCommitAddressBook(0);
            KvioInjectFault(KVIO_OP_NONE, 0, 0);
            EXPECT_EQ(0, TemporaryFileCount(dir_.Path() + "/KVI32"));
            if (r == 1) {
                EXPECT_FALSE(previous == ReadFile(BookPath())) << op << " " << nth;
                continue;  // a failure the protocol does not need to see (the header's seek)
            }
            ++failures;
            ASSERT_TRUE(previous == ReadFile(BookPath())) << op << " call " << nth;
            ASSERT_EQ(1, KviDfCommitAddressBook(0)) << "modified stays set: the next commit writes";
        }
        EXPECT_GT(failures, 0) << op;
        if (op == KVIO_OP_WRITE) {
            EXPECT_GE(calls, 3u);  // header, blocks of records, header again
        }
    }
    Reopen();
    EXPECT_EQ(std::make_pair(800, std::string("new")), Contents());
    AddressRecord e;
    e.id = 800;
    ASSERT_EQ(1, KviDfGetAddress(&e));
    EXPECT_EQ(value, e.extraValue);
}

TEST_F(AddressCommit, AKilledCommitLeavesTheOldOrTheNewBook) {
    AddMany(10, "old");
    ASSERT_EQ(1, KviDfCommitAddressBook(0));
    KviDfUnlockAddressBook();
    int sawNew = 0;
    for (int delayUs : {0, 300, 1000, 3000, 6000, 10000, 20000}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Start from the committed book, replace every entry, commit
            // again and again until killed. A child of fork starts
            // uninitialized, like any new process.
            KviDfInitialize();
            char name[] = "child";
            if (KviDfOpenAddressBook(0) != 1 || KviDfLockAddressBook(name) != 1) _exit(2);
            DeleteAll();
            AddMany(800, "new");
            for (;;) KviDfCommitAddressBook(1);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "child ended by itself: " << status;
        Reopen();
        const auto contents = Contents();
        EXPECT_TRUE(contents == std::make_pair(10, std::string("old")) ||
                    contents == std::make_pair(800, std::string("new")))
            << contents.first << " " << contents.second << " after " << delayUs << " us";
        sawNew += contents.first == 800;
    }
    // The lock of the killed child is abandoned and ours to take; our
    // commit replaces a leftover temporary file.
    ASSERT_EQ(1, KviDfLockAddressBook(locker_));
    ASSERT_EQ(1, KviDfCommitAddressBook(1));
    EXPECT_EQ(0, TemporaryFileCount(dir_.Path() + "/KVI32"));
    RecordProperty("killed_after_new_commit", sawNew);
}

// A reader that opens while another process commits gets one version
// whole: the header and directory it checked belong to the sections it
// read. The two versions have sections of the same length and differ in
// their names and in the directory's lastId only, so a mixed read would
// open without complaint; the next id tells which directory was used. The
// writer puts the two committed books in place by rename, as a commit
// does, as fast as it can.
TEST_F(AddressCommit, OpeningDuringCommitsReadsOneVersion) {
    std::string versions[2];
    const char* names[2] = {"a", "b"};
    for (int v = 0; v < 2; ++v) {
        DeleteAll();
        AddMany(10, names[v]);
        ASSERT_EQ(1, KviDfCommitAddressBook(0));
        versions[v] = ReadFile(BookPath());
    }
    ASSERT_EQ(versions[0].size(), versions[1].size());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string temp = BookPath() + ".w";
        for (int round = 0;; ++round) {
            WriteFile(temp, versions[round % 2]);
            if (rename(temp.c_str(), BookPath().c_str()) != 0) _exit(3);
        }
    }
    ChildGuard guard{child};
    int opened = 0, seen[2] = {0, 0};
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    while (std::chrono::steady_clock::now() < until) {
        KviDfCloseAddressBook();
        if (KviDfOpenAddressBook(0) != 1) continue;
        ++opened;
        const auto c = Contents();
        AddressRecord e = Entry("n", "probe", 2);
        ASSERT_EQ(1, KviDfAddAddress(&e, 0, nullptr));
        const bool b = c.second == "b";
        ASSERT_EQ(10, c.first);
        ASSERT_EQ(b ? 21u : 11u, e.id) << "names of one version, directory of the other";
        ++seen[b];
    }
    EXPECT_GT(opened, 100);
    EXPECT_GT(seen[0], 0);
    EXPECT_GT(seen[1], 0);
}

}  // namespace
}  // namespace kvi::test
