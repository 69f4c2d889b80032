// The writes in place (a password change, the global password change) and
// the in-memory state a failed commit leaves: the file's directory, counts
// and lastIds are never overwritten from memory.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "address_book_fixture.h"
#include "kviabdb.h"
#include "kviabio.h"
#include "support/test_support.h"

namespace kvi::test {
namespace {

using BookInPlace = AddressBookSession;

int Count() {
    const KviListHandle list = KviDfCreateAddressList();
    const int n = KviDfAddressListCount(list);
    KviDfDestroyAddressList(list);
    return n;
}

// The book's global record with protection on and this password.
GlobalSecurity ProtectedGlobal(const char* password) {
    GlobalSecurity g;
    std::memset(&g, 0, sizeof g);
    EXPECT_EQ(1, KviDfGetGlobalSecurity(&g));
    g.flags |= 0x200;
    std::strcpy(g.password, password);
    return g;
}

bool Gettable(uint32_t id) {
    AddressRecord e;
    std::memset(&e, 0, sizeof e);
    e.id = id;
    return KviDfGetAddress(&e) == 1;
}

// A file whose records carry no ids (lastId 0): the load numbers them, and
// a password change must not store the raised lastId over records that
// still have id 0 on disk.
TEST_F(BookInPlace, APasswordChangeAfterALoadThatNumberedRecordsKeepsThemReachable) {
    WriteFile(BookPath(), RawBook({Encoded("a1", "", "", "", "One", 2, 0, 0), Encoded("a2", "", "", "", "Two", 2, 0, 0)},
                                  0));
    Reopen();
    char pw[] = "secret", old[] = "";
    ASSERT_EQ(1, KviDfAddressBookSetPasswd(pw, 1, old));
    EXPECT_EQ(0u, At<uint32_t>(ReadFile(BookPath()), 58));  // the file's lastId stays
    Reopen();
    EXPECT_TRUE(Gettable(1) && Gettable(2));
    // The load left the book modified: the next commit writes the ids.
    ASSERT_EQ(1, KviDfCommitAddressBook(0));
    const std::string f = ReadFile(BookPath());
    EXPECT_EQ(2u, At<uint32_t>(f, 58));
    EXPECT_EQ("secret", f.substr(26, 6));
    Reopen();
    EXPECT_TRUE(Gettable(1) && Gettable(2));
    AddressRecord e = Entry("Three", "a3", 2);
    ASSERT_EQ(1, KviDfAddAddress(&e, 0, nullptr));
    EXPECT_EQ(3u, e.id);
}

// A forced commit that fails after writing sections must leave the
// in-memory directory as it was; a password written afterwards then
// still matches the file's sections.
TEST_F(BookInPlace, APasswordChangeAfterAFailedCommitLeavesAnOpenableBook) {
    for (int i = 0; i < 5; ++i) Add(("Name" + std::to_string(i)).c_str(), ("addr" + std::to_string(i)).c_str(), 2);
    ASSERT_EQ(1, KviDfCommitAddressBook(0));
    const uint32_t id = Add("Extra", "extra", 2);
    ASSERT_EQ(1, KviDfDeleteAddress(1, 0, 0));
    for (uint32_t op : {KVIO_OP_WRITE, KVIO_OP_REPLACE}) {
        const std::string before = ReadFile(BookPath());
        KvioInjectFault(op, op == KVIO_OP_WRITE ? 2 : 1, 1);
        EXPECT_EQ(0, KviDfCommitAddressBook(1));
        KvioInjectFault(KVIO_OP_NONE, 0, 0);
        EXPECT_EQ(before, ReadFile(BookPath()));
        char pw[] = "pw", old[] = "";
        ASSERT_EQ(1, KviDfAddressBookSetPasswd(pw, 0, old));
    }
    ASSERT_EQ(1, KviDfCommitAddressBook(0));  // the changes are still pending
    Reopen();
    EXPECT_EQ(5, Count());
    EXPECT_TRUE(Gettable(id));
    EXPECT_FALSE(Gettable(1));
}

// A write in place is reported done only once its bytes have reached the
// disk; a flush that fails leaves the change pending, so the next commit
// writes it again. Both writers of the address book's header: its own
// password, and the global password (whose export answers 1 all the same).
TEST_F(BookInPlace, AWriteInPlaceIsReportedDoneOnlyOnceFlushed) {
    Add("One", "a1", 2);
    ASSERT_EQ(1, KviDfCommitAddressBook(0));
    char pw[] = "secret", old[] = "";
    KvioInjectFault(KVIO_OP_FLUSH, 1, 1);
    EXPECT_EQ(0, KviDfAddressBookSetPasswd(pw, 0, old));  // flag 0: any later password may replace it
    KvioInjectFault(KVIO_OP_NONE, 0, 0);
    uint32_t flushes = KvioCallCount(KVIO_OP_FLUSH);
    ASSERT_EQ(1, KviDfCommitAddressBook(0));
    EXPECT_EQ(flushes + 1, KvioCallCount(KVIO_OP_FLUSH));
    EXPECT_EQ(std::string("secret\0", 7), ReadFile(BookPath()).substr(26, 7));

    char locker[] = "admin";
    ASSERT_EQ(1, KviDfOpenSecurityBook(nullptr));
    ASSERT_EQ(1, KviDfLockSecurityBook(locker, 1000));
    GlobalSecurity g = ProtectedGlobal("joint");
    KvioInjectFault(KVIO_OP_FLUSH, 1, 0xFFFFFFFFu);  // in both books
    EXPECT_EQ(1, KviDfSetGlobalSecurity(&g));
    KvioInjectFault(KVIO_OP_NONE, 0, 0);
    flushes = KvioCallCount(KVIO_OP_FLUSH);
    ASSERT_EQ(1, KviDfCommitAddressBook(0));
    EXPECT_EQ(flushes + 1, KvioCallCount(KVIO_OP_FLUSH));
    EXPECT_EQ(std::string("joint\0", 6), ReadFile(BookPath()).substr(26, 6));
    KviDfUnlockSecurityBook();
    KviDfCloseSecurityBook();
}

// The global password reaches the address book header without that
// book's lock; another process's commit of the address book in between
// must keep its entries.
TEST(BookInPlaceGlobal, TheGlobalPasswordNeverOverwritesAnotherProcesssAddressBook) {
    TempWindowsDir dir;
    ASSERT_EQ(1, KviDfInitialize());
    ASSERT_EQ(1, KviDfOpenAddressBook(0));  // this process keeps the empty book's header
    ASSERT_EQ(1, KviDfOpenSecurityBook(nullptr));
    const int child = RunInChild([] {
        StartAsFreshProcess();
        char name[] = "other";
        if (KviDfInitialize() != 1 || KviDfOpenAddressBook(0) != 1 || KviDfLockAddressBook(name) != 1) return 1;
        for (int i = 0; i < 3; ++i) {
            AddressRecord e = Entry(("N" + std::to_string(i)).c_str(), ("a" + std::to_string(i)).c_str(), 2);
            if (KviDfAddAddress(&e, 0, nullptr) != 1) return 2;
        }
        const int ok = KviDfCommitAddressBook(0);
        KviDfUnlockAddressBook();
        KviDfCloseAddressBook();
        KviDfTerminate();
        return ok == 1 ? 0 : 3;
    });
    ASSERT_EQ(0, child);
    char locker[] = "admin";
    ASSERT_EQ(1, KviDfLockSecurityBook(locker, 1000));
    GlobalSecurity g = ProtectedGlobal("joint");
    ASSERT_EQ(1, KviDfSetGlobalSecurity(&g));
    ASSERT_EQ(1, KviDfUnlockSecurityBook());
    KviDfCloseAddressBook();
    ASSERT_EQ(1, KviDfOpenAddressBook(0));
    EXPECT_EQ(3, Count());
    char password[16];
    uint32_t flag = 0;
    ASSERT_EQ(1, KviDfAddressBookPasswd(password, &flag));
    EXPECT_STREQ("joint", password);
    KviDfCloseAddressBook();
    KviDfCloseSecurityBook();
    KviDfTerminate();
}

// The same two writers at the same moment: one process commits the whole
// address book again and again while another sets the global password,
// which reaches that book's header in place. Every entry each commit
// reported must be in the book afterwards, and the book must open.
TEST(BookInPlaceGlobal, GlobalPasswordsRacingAnotherProcesssCommitsLoseNoEntry) {
    TempWindowsDir dir;
    ASSERT_EQ(1, KviDfInitialize());
    char first[] = "first";
    ASSERT_EQ(1, KviDfOpenAddressBook(0));
    ASSERT_EQ(1, KviDfLockAddressBook(first));
    ASSERT_EQ(1, KviDfCommitAddressBook(1));  // the book's file, for the header writes
    KviDfUnlockAddressBook();
    KviDfCloseAddressBook();
    KviDfTerminate();
    constexpr int kCommits = 60;
    const auto start = [](int (*body)()) {
        const pid_t pid = fork();
        if (pid == 0) {
            StartAsFreshProcess();
            _exit(body());
        }
        return pid;
    };
    const pid_t committer = start([]() -> int {
        char name[] = "committer";
        if (KviDfInitialize() != 1 || KviDfOpenAddressBook(0) != 1 || KviDfLockAddressBook(name) != 1) return 1;
        for (int i = 0; i < kCommits; ++i) {
            AddressRecord e = Entry(("N" + std::to_string(i)).c_str(), ("a" + std::to_string(i)).c_str(), 2);
            if (KviDfAddAddress(&e, 0, nullptr) != 1 || KviDfCommitAddressBook(0) != 1) return 2;
        }
        KviDfUnlockAddressBook();
        KviDfCloseAddressBook();
        KviDfTerminate();
        return 0;
    });
    const pid_t admin = start([]() -> int {
        char name[] = "admin";
        if (KviDfInitialize() != 1 || KviDfOpenAddressBook(0) != 1 || KviDfOpenSecurityBook(nullptr) != 1 ||
            KviDfLockSecurityBook(name, 1000) != 1)
            return 1;
        for (int i = 0; i < 2 * kCommits; ++i) {
            GlobalSecurity g = ProtectedGlobal(i % 2 ? "odd" : "even");
            if (KviDfSetGlobalSecurity(&g) != 1) return 2;
        }
        KviDfUnlockSecurityBook();
        KviDfCloseSecurityBook();
        KviDfCloseAddressBook();
        KviDfTerminate();
        return 0;
    });
    ASSERT_GT(committer, 0);
    ASSERT_GT(admin, 0);
    int status = 0;
    ASSERT_EQ(committer, waitpid(committer, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_EQ(admin, waitpid(admin, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    ASSERT_EQ(1, KviDfInitialize());
    ASSERT_EQ(1, KviDfOpenAddressBook(0));
    EXPECT_EQ(kCommits, Count());
    for (uint32_t id = 1; id <= kCommits; ++id) EXPECT_TRUE(Gettable(id)) << id;
    KviDfCloseAddressBook();
    KviDfTerminate();
}

}  // namespace
}  // namespace kvi::test
