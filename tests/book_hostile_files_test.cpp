// Book files in a hostile world: links, FIFOs and files that another
// account planted in a shared folder, books the process may not read,
// modes and owners across commits, temporary files left by the dead. The
// tests that need a second account run as root and drop to `nobody` in a
// child; they are skipped for any other user.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "address_book_fixture.h"
#include "kviabdb.h"
#include "kviabio.h"
#include "support/nobody.h"
#include "support/test_support.h"

namespace kvi::test {
namespace {

// body's result, run as nobody in a child.
int AsNobody(const Account& nobody, const std::function<int()>& body) {
    return RunInChild([&] {
        if (!BecomeNobody(nobody)) return 90;
        return body();
    });
}

mode_t ModeOf(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

// Opens the book, adds an entry, commits; 1 when all of it worked.
int AddAndCommit(const char* name, const char* address) {
    char locker[] = "tester";
    if (KviDfOpenAddressBook(0) != 1 || KviDfLockAddressBook(locker) != 1) return 0;
    AddressRecord e = Entry(name, address, 2);
    const int ok = KviDfAddAddress(&e, 0, nullptr) == 1 && KviDfCommitAddressBook(0) == 1;
    KviDfUnlockAddressBook();
    KviDfCloseAddressBook();
    return ok ? 1 : 0;
}

// Opens the security book, writes it whole and closes it.
void RewriteSecurityBook() {
    ASSERT_EQ(1, KviDfOpenSecurityBook(nullptr));
    char locker[] = "tester";
    ASSERT_EQ(1, KviDfLockSecurityBook(locker, 100));
    ASSERT_EQ(1, KviDfCommitSecurityBook(1));
    ASSERT_EQ(1, KviDfUnlockSecurityBook());
    KviDfCloseSecurityBook();
}

int Entries() {
    if (KviDfOpenAddressBook(0) != 1) return -1;
    const KviListHandle list = KviDfCreateAddressList();
    const int n = KviDfAddressListCount(list);
    KviDfDestroyAddressList(list);
    KviDfCloseAddressBook();
    return n;
}

class HostileFolder : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0 || !FindNobody(&nobody_)) GTEST_SKIP() << "needs root and the account nobody";
        // nobody may pass through the Windows directory and write KVI32.
        chmod(dir_.Path().c_str(), 0755);
        chmod(Kvi32().c_str(), 0777);
        WriteFile(Victim(), "victim");
        chmod(Victim().c_str(), 0666);
        ASSERT_EQ(1, KviDfInitialize());
    }
    void TearDown() override { KviDfTerminate(); }
    std::string Kvi32() const { return dir_.Path() + "/KVI32"; }
    std::string Victim() const { return dir_.Path() + "/victim"; }

    TempWindowsDir dir_;
    Account nobody_;
};

TEST_F(HostileFolder, LinksAndFilesPlantedByAnotherAccountAreNeverWritten) {
    const std::string kvi32 = Kvi32(), victim = Victim();
    // Plants under the names this process's commits would use, found by
    // making one first (numbers follow each other within a process).
    ASSERT_EQ(1, AddAndCommit("First", "first"));
    char name[512];
    uint32_t handle = 0;
    ASSERT_EQ(0u, KvioCreateTemporary(dir_.BookPath("MERIDOX.PBK").c_str(), 0, &handle, name, sizeof name));
    KvioClose(handle);
    KvioDelete(name);
    const std::string stem = dir_.BookPath("MERIDOX.PBK") + ".";
    const std::string used = std::string(name).substr(stem.size());  // <pid>.<number>.tmp
    const std::string pid = used.substr(0, used.find('.'));
    const uint32_t next = static_cast<uint32_t>(std::stoul(used.substr(pid.size() + 1))) + 1;
    ASSERT_EQ(0, AsNobody(nobody_, [&] {
        int bad = 0;
        for (const char* book : {"MERIDOX.PBK", "MERIDOX.PWD"}) {
            const std::string base = kvi32 + "/" + book;
            bad += symlink(victim.c_str(), (base + ".tmp").c_str()) != 0;
            for (uint32_t n = next; n < next + 20; ++n)
                bad += symlink(victim.c_str(), (base + "." + pid + "." + std::to_string(n) + ".tmp").c_str()) != 0;
        }
        // A FIFO and a file of this account under names a commit might use.
        bad += mkfifo((kvi32 + "/MERIDOX.PBK." + pid + "." + std::to_string(next + 20) + ".tmp").c_str(), 0666) != 0;
        WriteFile(kvi32 + "/MERIDOX.PBK." + pid + "." + std::to_string(next + 21) + ".tmp", "mine");
        return bad;
    }));
    for (int i = 0; i < 5; ++i) ASSERT_EQ(1, AddAndCommit(("N" + std::to_string(i)).c_str(), ("a" + std::to_string(i)).c_str()));
    ASSERT_NO_FATAL_FAILURE(RewriteSecurityBook());
    EXPECT_EQ("victim", ReadFile(victim));
    EXPECT_EQ(6, Entries());
    EXPECT_TRUE(S_ISLNK(ModeOf(kvi32 + "/MERIDOX.PBK." + pid + "." + std::to_string(next) + ".tmp")));
    EXPECT_EQ("mine", ReadFile(kvi32 + "/MERIDOX.PBK." + pid + "." + std::to_string(next + 21) + ".tmp"));
}

// Another account's link at the book's name, in a folder that account
// owns with each of these modes: the book is refused, nothing is written
// outside KVI32 and the link stays.
TEST_F(HostileFolder, ABookLinkOfAnotherAccountIsRefused) {
    const std::string kvi32 = Kvi32(), victim = Victim();
    for (mode_t mode : {0777, 0770, 0700}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(0, chown(kvi32.c_str(), nobody_.uid, nobody_.gid));
        ASSERT_EQ(0, AsNobody(nobody_, [&] {
            std::filesystem::remove(kvi32 + "/MERIDOX.PBK");
            std::filesystem::remove(kvi32 + "/MERIDOX.PWD");
            const int bad = symlink(victim.c_str(), (kvi32 + "/MERIDOX.PBK").c_str()) != 0 ||
                            symlink(victim.c_str(), (kvi32 + "/MERIDOX.PWD").c_str()) != 0 ||
                            chmod(kvi32.c_str(), mode) != 0;
            return bad ? 1 : 0;
        }));
        EXPECT_EQ(0, KviDfOpenAddressBook(0));
        EXPECT_EQ(0, KviDfOpenSecurityBook(nullptr));
        KviDfCloseAddressBook();
        KviDfCloseSecurityBook();
        EXPECT_EQ("victim", ReadFile(victim));
        EXPECT_TRUE(S_ISLNK(ModeOf(kvi32 + "/MERIDOX.PBK")));
        EXPECT_EQ(0, TemporaryFileCount(kvi32));
        chmod(kvi32.c_str(), 0777);
    }
}

// A book the process may write but not read: the open answers 0 and the
// book stays as it was (before, the failed open counted as "missing" and
// its failure path deleted the book).
TEST_F(HostileFolder, ABookThatCannotBeReadIsLeftAlone) {
    ASSERT_EQ(1, AddAndCommit("Kept", "kept"));
    const std::string path = dir_.BookPath("MERIDOX.PBK");
    const std::string bytes = ReadFile(path);
    ASSERT_EQ(0, chown(path.c_str(), nobody_.uid, nobody_.gid));
    ASSERT_EQ(0, chmod(path.c_str(), 0200));
    EXPECT_EQ(0, AsNobody(nobody_, [] {
        StartAsFreshProcess();
        if (KviDfInitialize() != 1) return 1;
        return KviDfOpenAddressBook(0) == 0 ? 0 : 2;
    }));
    chmod(path.c_str(), 0600);
    EXPECT_EQ(bytes, ReadFile(path));
}

TEST_F(HostileFolder, ACommitKeepsTheBooksModeOwnerAndGroup) {
    ASSERT_EQ(1, KviDfOpenSecurityBook(nullptr));
    KviDfCloseSecurityBook();
    const std::string path = dir_.BookPath("MERIDOX.PWD");
    ASSERT_EQ(0, chown(path.c_str(), nobody_.uid, nobody_.gid));
    ASSERT_EQ(0, chmod(path.c_str(), 0600));
    ASSERT_NO_FATAL_FAILURE(RewriteSecurityBook());
    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
    EXPECT_EQ(nobody_.uid, st.st_uid);
    EXPECT_EQ(nobody_.gid, st.st_gid);
}

// New books: the security book (clear-text passwords) gives others no
// access, the address book is 0666; both under the umask.
TEST(BookModes, NewBooksTakeTheirModesUnderTheUmask) {
    for (mode_t mask : {022, 0}) {
        SCOPED_TRACE(mask);
        TempWindowsDir dir;
        const mode_t previous = umask(mask);
        ASSERT_EQ(1, KviDfInitialize());
        ASSERT_EQ(1, KviDfOpenAddressBook(0));
        ASSERT_EQ(1, KviDfOpenSecurityBook(nullptr));
        KviDfCloseAddressBook();
        KviDfCloseSecurityBook();
        KviDfTerminate();
        umask(previous);
        EXPECT_EQ(0666u & ~mask, ModeOf(dir.BookPath("MERIDOX.PBK")) & 07777);
        EXPECT_EQ(0660u & ~mask, ModeOf(dir.BookPath("MERIDOX.PWD")) & 07777);
    }
}

// A book that is a link (of this user) is committed through the link: the
// link stays and its target holds the new book.
TEST(BookLinks, ABookLinkIsCommittedThroughTheLink) {
    TempWindowsDir dir;
    const std::string store = dir.Path() + "/store";
    std::filesystem::create_directory(store);
    ASSERT_EQ(0, symlink((store + "/book").c_str(), dir.BookPath("MERIDOX.PBK").c_str()));
    ASSERT_EQ(1, KviDfInitialize());
    ASSERT_EQ(1, AddAndCommit("One", "one"));  // the first commit places the book at the link's target
    ASSERT_EQ(1, AddAndCommit("Two", "two"));
    EXPECT_TRUE(S_ISLNK(ModeOf(dir.BookPath("MERIDOX.PBK"))));
    EXPECT_TRUE(S_ISREG(ModeOf(store + "/book")));
    EXPECT_EQ(2, Entries());
    EXPECT_EQ(0, TemporaryFileCount(dir.Path() + "/KVI32"));
    EXPECT_EQ(0, TemporaryFileCount(store));
    KviDfTerminate();
}

TEST(BookFifo, AFifoAtTheBooksNameIsRefusedWithoutBlocking) {
    TempWindowsDir dir;
    ASSERT_EQ(0, mkfifo(dir.BookPath("MERIDOX.PBK").c_str(), 0666));
    const int r = RunInChild([] {
        alarm(20);  // a blocking open ends the child by SIGALRM
        StartAsFreshProcess();
        if (KviDfInitialize() != 1) return 1;
        return KviDfOpenAddressBook(0) == 0 ? 0 : 2;
    });
    EXPECT_EQ(0, r);
}

// A temporary file goes only when nobody holds it and it has not changed
// for a minute; anything else under the folder stays.
TEST(AbandonedTemporaries, AreRemovedOnlyWhenTheirWriterIsGone) {
    TempWindowsDir dir;
    // A pid that surely names no process: a child that has ended and been reaped.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(0);
    ASSERT_EQ(child, waitpid(child, nullptr, 0));
    const std::string base = dir.BookPath("MERIDOX.PBK");
    const std::string gone = std::to_string(child), live = std::to_string(getpid());
    const std::string dead = base + ".999999.1.tmp", fresh = base + "." + live + ".2.tmp",
                      held = base + ".999999.3.tmp", other = base + ".tmp", deadWriter = base + "." + gone + ".4.tmp";
    for (const std::string& f : {dead, fresh, held, other, deadWriter}) WriteFile(f, "partial");
    const timeval old[2] = {{time(nullptr) - 120, 0}, {time(nullptr) - 120, 0}};
    for (const std::string& f : {dead, held, other}) ASSERT_EQ(0, utimes(f.c_str(), old));
    const int holder = open(held.c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(0, flock(holder, LOCK_EX));  // a live writer's lock
    ASSERT_EQ(1, KviDfInitialize());
    ASSERT_EQ(1, AddAndCommit("One", "one"));
    EXPECT_FALSE(FileExists(dead));        // old and unlocked
    EXPECT_FALSE(FileExists(deadWriter));  // fresh, but its writer has ended
    EXPECT_TRUE(FileExists(fresh));        // fresh, and its writer may be about to lock it
    EXPECT_TRUE(FileExists(held));         // locked by its writer
    EXPECT_TRUE(FileExists(other));        // not a temporary name of ours
    close(holder);
    KviDfTerminate();
}

}  // namespace
}  // namespace kvi::test
