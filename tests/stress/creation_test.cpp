// Opening, creating and writing books in place under failing file calls,
// killed processes and creators racing each other. After each of them
// every committed entry and every legacy entry must still be somewhere:
// in the book, or in the legacy file that the next open imports.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "kviabdb.h"
#include "kviabio.h"
#include "stress/stress_books.h"
#include "support/raw_bytes.h"
#include "support/test_support.h"

namespace {

using kvi::stress::Book;
using kvi::stress::kAddressBook;
using kvi::stress::kSecurityBook;
using kvi::stress::LegacyAddresses;
using kvi::stress::LegacyUsers;
using kvi::test::FileExists;
using kvi::test::ReadFile;
using kvi::test::WriteFile;

// Names of the book's entries after a clean open; {"<no open>"} when the
// book does not open.
std::multiset<std::string> Names(Book book) {
    std::multiset<std::string> names;
    if (kvi::stress::OpenBook(book) != 1) return {"<no open>"};
    std::vector<kvi::stress::BookEntry> entries;
    if (!kvi::stress::ReadEntries(book, &entries)) names.insert("<no list>");
    std::set<uint32_t> ids;
    for (const auto& e : entries) {
        names.insert(e.name);
        if (e.id == 0 || !ids.insert(e.id).second) names.insert("<bad id " + std::to_string(e.id) + ">");
    }
    kvi::stress::CloseBook(book);
    return names;
}

std::multiset<std::string> Expected(uint32_t ownKeys, uint32_t legacyKeys) {
    std::multiset<std::string> names;
    for (uint32_t k = 1; k <= ownKeys; ++k) names.insert(kvi::stress::EntryName(0, k));
    for (uint32_t k = 1; k <= legacyKeys; ++k) names.insert(kvi::stress::EntryName(9, k));
    return names;
}

class BookFolder {
public:
    BookFolder() { std::filesystem::create_directory(dir_.Path() + "/KVI"); }
    std::string BookPath(Book book) const { return dir_.BookPath(book == kAddressBook ? "MERIDOX.PBK" : "MERIDOX.PWD"); }
    std::string LegacyPath(Book book) const {
        return dir_.Path() + (book == kAddressBook ? "/KVI/KVI.DA1" : "/KVI/KVI.DA2");
    }
    std::string Legacy(Book book, uint32_t n) const { return book == kAddressBook ? LegacyAddresses(n) : LegacyUsers(n); }
    // Only these files: the books' folder and the legacy folder emptied first.
    void Put(const std::vector<std::pair<std::string, std::string>>& files) const {
        for (const char* sub : {"/KVI32", "/KVI"}) {
            for (const auto& f : std::filesystem::directory_iterator(dir_.Path() + sub))
                std::filesystem::remove_all(f.path());
        }
        for (const auto& [path, bytes] : files) WriteFile(path, bytes);
    }
    int Temporaries() const { return kvi::test::TemporaryFileCount(dir_.Path() + "/KVI32"); }
    const kvi::test::TempWindowsDir& Dir() const { return dir_; }

private:
    kvi::test::TempWindowsDir dir_;
};

// A book with the entries EntryName(0, 1..n), as committed by a client.
std::string CommittedBook(const BookFolder& folder, Book book, uint32_t n) {
    folder.Put({});
    EXPECT_EQ(1, kvi::stress::OpenBook(book));
    kvi::stress::LockBook(book, 1000);
    for (uint32_t k = 1; k <= n; ++k) {
        uint32_t id = 0;
        EXPECT_EQ(1, kvi::stress::AddEntry(book, 0, k, 1, &id));
    }
    EXPECT_EQ(1, kvi::stress::CommitBook(book, 0));
    kvi::stress::UnlockBook(book);
    kvi::stress::CloseBook(book);
    return ReadFile(folder.BookPath(book));
}

struct Scenario {
    std::string what;
    std::function<void()> setup;  // the files before the run
    std::function<void()> run;    // what a client does (its results may be failures)
    std::function<void()> check;  // after a clean reopen: nothing lost
};

// Each call of each KVIABIO operation of the run fails in turn, once or
// from then on (a full disk); afterwards the check must hold.
void StepFaultsThrough(const Scenario& s) {
    uint32_t calls[KVIO_OP_LAST + 1] = {};
    s.setup();
    for (uint32_t op = KVIO_OP_CREATE; op <= KVIO_OP_LAST; ++op) calls[op] = KvioCallCount(op);
    s.run();
    uint32_t total = 0;
    for (uint32_t op = KVIO_OP_CREATE; op <= KVIO_OP_LAST; ++op) {
        calls[op] = KvioCallCount(op) - calls[op];
        total += calls[op];
    }
    ASSERT_GT(total, 0u) << s.what;
    s.check();
    for (uint32_t op = KVIO_OP_CREATE; op <= KVIO_OP_LAST; ++op) {
        for (uint32_t nth = 1; nth <= calls[op]; ++nth) {
            for (uint32_t count : {1u, 0xFFFFFFFFu}) {
                SCOPED_TRACE(testing::Message() << s.what << ": op " << op << " call " << nth << " count " << count);
                s.setup();
                KvioInjectFault(op, nth, count);
                s.run();
                KvioInjectFault(KVIO_OP_NONE, 0, 0);
                s.check();
                if (testing::Test::HasFailure()) return;
            }
        }
    }
}

class Creation : public ::testing::TestWithParam<Book> {
protected:
    void SetUp() override {
        KvioInjectFault(KVIO_OP_NONE, 0, 0);
        ASSERT_EQ(1, KviDfInitialize());
    }
    void TearDown() override {
        KvioInjectFault(KVIO_OP_NONE, 0, 0);
        KviDfUnlockAddressBook();
        KviDfUnlockSecurityBook();
        KviDfCloseAddressBook();
        KviDfCloseSecurityBook();
        KviDfTerminate();
    }
    void OpenAndClose() {
        kvi::stress::OpenBook(book_);
        kvi::stress::CloseBook(book_);
    }
    // The book holds exactly these entries, and no temporary file is left.
    void ExpectBook(const std::multiset<std::string>& expected) {
        EXPECT_EQ(expected, Names(book_));
        EXPECT_EQ(0, folder_.Temporaries());
    }

    // Every legacy entry is in the book, or the legacy file is still there
    // as it was (an import that could not read it whole keeps it); the book
    // holds nothing twice.
    void ExpectLegacyKept(const std::string& legacyPath, const std::string& legacy,
                          const std::multiset<std::string>& expected) {
        const std::multiset<std::string> names = Names(book_);
        EXPECT_EQ(0, folder_.Temporaries());
        if (names == expected) return;
        EXPECT_EQ(legacy, ReadFile(legacyPath)) << "legacy entries lost";
        EXPECT_TRUE(std::includes(expected.begin(), expected.end(), names.begin(), names.end()));
    }

    const Book book_ = GetParam();
    BookFolder folder_;
};

TEST_P(Creation, AFailingFileCallOfALoadOrAnInPlaceWriteLosesNothing) {
    const std::string book = CommittedBook(folder_, book_, 3);
    const std::string bookPath = folder_.BookPath(book_);
    const std::string legacyPath = folder_.LegacyPath(book_);
    const std::string legacy = folder_.Legacy(book_, 2);
    std::vector<Scenario> scenarios = {
        {"load of a book", [&] { folder_.Put({{bookPath, book}}); }, [&] { OpenAndClose(); },
         [&] {
             EXPECT_EQ(book, ReadFile(bookPath));  // a load never writes
             ExpectBook(Expected(3, 0));
         }},
        {"creating load without a legacy file", [&] { folder_.Put({}); }, [&] { OpenAndClose(); },
         [&] { ExpectBook(Expected(0, 0)); }},
        {"creating load with a legacy file", [&] { folder_.Put({{legacyPath, legacy}}); }, [&] { OpenAndClose(); },
         [&] { ExpectLegacyKept(legacyPath, legacy, Expected(0, 2)); }},
        {"creating load over a 0-byte book", [&] { folder_.Put({{bookPath, ""}, {legacyPath, legacy}}); },
         [&] { OpenAndClose(); }, [&] { ExpectLegacyKept(legacyPath, legacy, Expected(0, 2)); }},
    };
    if (book_ == kAddressBook) {
        scenarios.push_back({"password change", [&] { folder_.Put({{bookPath, book}}); },
                             [&] {
                                 char pw[] = "secret", old[] = "";
                                 if (KviDfOpenAddressBook(0) == 1 && KviDfLockAddressBook(nullptr) == 1)
                                     KviDfAddressBookSetPasswd(pw, 1, old);
                                 KviDfUnlockAddressBook();
                                 KviDfCloseAddressBook();
                             },
                             [&] { ExpectBook(Expected(3, 0)); }});
    } else {
        scenarios.push_back({"global password change", [&] { folder_.Put({{bookPath, book}}); },
                             [&] {
                                 KviDfOpenAddressBook(0);
                                 if (KviDfOpenSecurityBook(nullptr) == 1 && KviDfLockSecurityBook(nullptr, 100) == 1) {
                                     GlobalSecurity g;
                                     std::memset(&g, 0, sizeof g);
                                     KviDfGetGlobalSecurity(&g);
                                     g.flags |= 0x200;
                                     std::strcpy(g.password, "secret");
                                     KviDfSetGlobalSecurity(&g);
                                     KviDfUnlockSecurityBook();
                                 }
                                 KviDfCloseSecurityBook();
                                 KviDfCloseAddressBook();
                             },
                             [&] { ExpectBook(Expected(3, 0)); }});
    }
    for (const Scenario& s : scenarios) StepFaultsThrough(s);
}

// Pruning drops the entries of folders that are gone and commits at the
// unlock; a failure at any step keeps the users and the entry of the
// folder that exists.
TEST(CreationPruning, AFailingFileCallOfAPruningLosesNothing) {
    KvioInjectFault(KVIO_OP_NONE, 0, 0);
    BookFolder folder;  // first: the library starts in its Windows directory
    ASSERT_EQ(1, KviDfInitialize());
    const std::string there = folder.Dir().Path() + "/there";
    const std::string gone = folder.Dir().Path() + "/gone";
    std::filesystem::create_directory(there);
    std::filesystem::create_directory(gone);
    CommittedBook(folder, kSecurityBook, 2);
    ASSERT_EQ(1, KviDfOpenSecurityBook(nullptr));
    ASSERT_EQ(1, KviDfLockSecurityBook(nullptr, 1000));
    for (const std::string& path : {there, gone}) {
        FolderSecurityEntry f;
        std::memset(&f, 0, sizeof f);
        f.size = sizeof f;
        std::strcpy(f.path, path.c_str());
        ASSERT_EQ(1, AddFolderSecurityEntry(&f, 0, nullptr));
    }
    ASSERT_EQ(1, KviDfUnlockSecurityBook());
    KviDfCloseSecurityBook();
    std::filesystem::remove(gone);
    const std::string path = folder.BookPath(kSecurityBook);
    const std::string book = ReadFile(path);
    auto folders = [] {
        std::vector<std::string> paths;
        const KviListHandle list = CreateFolderSecurityList();
        for (int32_t i = 0; i < FolderSecurityListCount(list); ++i) {
            FolderSecurityEntry f;
            if (FolderSecurityListItem(list, i, &f) == 1) paths.push_back(f.path);
        }
        DestroyFolderSecurityList(list);
        return paths;
    };
    StepFaultsThrough({"pruning", [&] { folder.Put({{path, book}}); },
                       [&] {
                           if (KviDfOpenSecurityBook(nullptr) == 1 && KviDfLockSecurityBook(nullptr, 100) == 1) {
                               DestroyFolderSecurityList(CreateFolderSecurityList());
                               KviDfUnlockSecurityBook();
                           }
                           KviDfCloseSecurityBook();
                       },
                       [&] {
                           EXPECT_EQ(Expected(2, 0), Names(kSecurityBook));
                           ASSERT_EQ(1, KviDfOpenSecurityBook(nullptr));
                           const std::vector<std::string> paths = folders();
                           EXPECT_NE(paths.end(), std::find(paths.begin(), paths.end(), there));
                           KviDfCloseSecurityBook();
                       }});
    KvioInjectFault(KVIO_OP_NONE, 0, 0);
    KviDfTerminate();
}

// A process killed at each step of a creating open (KvioInjectCrash ends
// it right before that file call): the next open works and holds the
// legacy entries exactly once.
TEST_P(Creation, AProcessKilledAtAnyStepOfACreatingOpenLosesNothing) {
    const std::string legacyPath = folder_.LegacyPath(book_);
    for (const uint32_t legacyEntries : {0u, 3u}) {
        auto setup = [&] {
            if (legacyEntries)
                folder_.Put({{legacyPath, folder_.Legacy(book_, legacyEntries)}});
            else
                folder_.Put({});
        };
        setup();
        uint32_t total = 0;
        for (uint32_t op = KVIO_OP_CREATE; op <= KVIO_OP_LAST; ++op) total -= KvioCallCount(op);
        OpenAndClose();
        for (uint32_t op = KVIO_OP_CREATE; op <= KVIO_OP_LAST; ++op) total += KvioCallCount(op);
        ASSERT_GT(total, 2u);
        for (uint32_t step = 1; step <= total; ++step) {
            SCOPED_TRACE(testing::Message() << legacyEntries << " legacy entries, killed at call " << step);
            setup();
            const int status = kvi::test::RunInChild([&] {
                kvi::test::StartAsFreshProcess();
                if (KviDfInitialize() != 1) return 1;
                KvioInjectCrash(step);
                OpenAndClose();
                return 0;
            });
            EXPECT_EQ(86, status);  // it died at that call
            // Once: a legacy file that outlived its import (killed right
            // after the book was placed) is never imported again.
            EXPECT_EQ(Expected(0, legacyEntries), Names(book_));
        }
    }
}

// Eight processes open the missing book at the same moment, with a legacy
// file; each then adds an entry of its own. One book results, with the
// legacy entries once and every entry whose commit answered 1.
TEST_P(Creation, ProcessesOpeningAMissingBookTogetherMakeOneBook) {
    constexpr int kProcesses = 8;
    constexpr uint32_t kLegacy = 20;
    const std::string legacyPath = folder_.LegacyPath(book_);
    for (int trial = 0; trial < 6; ++trial) {
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        folder_.Put({{legacyPath, folder_.Legacy(book_, kLegacy)}});
        int go[2];
        ASSERT_EQ(0, pipe(go));
        std::vector<pid_t> children;
        for (int p = 1; p <= kProcesses; ++p) {
            const pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                close(go[1]);
                char c;
                (void)!read(go[0], &c, 1);  // all start when the pipe closes
                kvi::test::StartAsFreshProcess();
                if (KviDfInitialize() != 1 || kvi::stress::OpenBook(book_) != 1) _exit(2);
                // A change starts from the book as it is under the lock.
                kvi::stress::CloseBook(book_);
                kvi::stress::LockBook(book_, 5000);
                if (kvi::stress::OpenBook(book_) != 1) _exit(4);
                uint32_t id = 0;
                const bool ok = kvi::stress::AddEntry(book_, p, 1, 1, &id) == 1 && kvi::stress::CommitBook(book_, 0) == 1;
                kvi::stress::UnlockBook(book_);
                _exit(ok ? 0 : 3);
            }
            children.push_back(pid);
        }
        close(go[0]);
        close(go[1]);
        std::multiset<std::string> expected = Expected(0, kLegacy);
        for (size_t i = 0; i < children.size(); ++i) {
            int status = 0;
            waitpid(children[i], &status, 0);
            ASSERT_TRUE(WIFEXITED(status));
            // Every open must work; an entry whose commit answered 1 must be there.
            EXPECT_EQ(0, WEXITSTATUS(status)) << "process " << i + 1;
            if (WEXITSTATUS(status) == 0) expected.insert(kvi::stress::EntryName(static_cast<int>(i) + 1, 1));
        }
        EXPECT_EQ(expected, Names(book_));
        EXPECT_FALSE(FileExists(legacyPath));
        EXPECT_EQ(0, folder_.Temporaries());
        if (HasFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Books, Creation, ::testing::Values(kAddressBook, kSecurityBook),
                         [](const ::testing::TestParamInfo<Book>& info) {
                             return info.param == kAddressBook ? "AddressBook" : "SecurityBook";
                         });

}  // namespace
