// A process killed at each file call of a change to books that exist
// already (KvioInjectCrash ends it right before that call). A fresh open
// afterwards must read every part of the books either as it was before
// the change or as the change left it, never a mixture and never a step
// back; the files keep their mode and owner, and the next commit removes
// the temporary file that the dead writer left.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "kviabdb.h"
#include "kviabio.h"
#include "stress/stress_books.h"
#include "support/test_support.h"

namespace {

using kvi::stress::Book;
using kvi::stress::kAddressBook;
using kvi::stress::kSecurityBook;
using kvi::test::ReadFile;
using kvi::test::WriteFile;

constexpr int kKilled = 86;  // KvioInjectCrash's exit code
constexpr char kOldPassword[] = "oldpw";
constexpr char kNewPassword[] = "newpw";
constexpr mode_t kBookMode = 0640;

std::string WindowsDir() {
    const char* dir = getenv("KVI_WINDOWS_DIR");
    return dir ? dir : "";
}
std::string BookPath(Book book) {
    return WindowsDir() + (book == kAddressBook ? "/KVI32/MERIDOX.PBK" : "/KVI32/MERIDOX.PWD");
}
std::string LegacyPath(Book book) { return WindowsDir() + (book == kAddressBook ? "/KVI/KVI.DA1" : "/KVI/KVI.DA2"); }

uint32_t AllCalls() {
    uint32_t n = 0;
    for (uint32_t op = KVIO_OP_CREATE; op <= KVIO_OP_LAST; ++op) n += KvioCallCount(op);
    return n;
}

template <class T>
std::string Bytes(const T& r) {
    return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

// Every valid item of a list, as raw records.
template <class T>
std::string Items(KviListHandle list, int32_t (*count)(KviListHandle), int32_t (*valid)(KviListHandle, int32_t),
                  int32_t (*item)(KviListHandle, int32_t, T*), void (*destroy)(KviListHandle)) {
    if (list == 0 || list == 0xFFFFFFFFu) return "<no list>";
    std::string out;
    for (int32_t i = 0; i < count(list); ++i) {
        T r;
        std::memset(&r, 0, sizeof r);
        if (valid(list, i) == 1) out += item(list, i, &r) == 1 ? Bytes(r) : "<no item>";
    }
    destroy(list);
    return out;
}

// What a client reads of both books, part by part.
using State = std::map<std::string, std::string>;

State Read() {
    State s;
    const bool address = KviDfOpenAddressBook(0) == 1;
    char password[16] = {};
    uint32_t flag = 0;
    s["address password"] = address && KviDfAddressBookPasswd(password, &flag) == 1
                                ? std::string(password) + "/" + std::to_string(flag)
                                : "<no address book>";
    s["addresses"] = address ? Items<AddressRecord>(KviDfCreateAddressList(), KviDfAddressListCount,
                                                    KviDfAddressListValidAt, KviDfAddressListItem,
                                                    KviDfDestroyAddressList)
                             : "<no address book>";
    KviDfCloseAddressBook();

    const bool security = KviDfOpenSecurityBook(nullptr) == 1;
    GlobalSecurity g;
    std::memset(&g, 0, sizeof g);
    s["global record"] = security && KviDfGetGlobalSecurity(&g) == 1 ? Bytes(g) : "<no security book>";
    const char* none = "<no security book>";
    s["users"] = security ? Items<SecurityEntry>(KviDfCreateSecurityList(), KviDfSecurityListCount,
                                                 KviDfSecurityListValidAt, KviDfSecurityListItem,
                                                 KviDfDestroySecurityList)
                          : none;
    s["prefixes"] = security ? Items<AffixEntry>(KviDfCreatePrefixList(), KviDfAffixListCount,
                                                 KviDfAffixListValidAt, KviDfAffixListItem, KviDfDestroyAffixList)
                             : none;
    s["suffixes"] = security ? Items<AffixEntry>(KviDfCreateSuffixList(), KviDfAffixListCount,
                                                 KviDfAffixListValidAt, KviDfAffixListItem, KviDfDestroyAffixList)
                             : none;
    s["folders"] = security ? Items<FolderSecurityEntry>(CreateFolderSecurityList(), FolderSecurityListCount,
                                                          FolderSecurityListValidAt, FolderSecurityListItem,
                                                          DestroyFolderSecurityList)
                            : none;
    KviDfCloseSecurityBook();
    // No export reads the security book's own password: its header does
    // (password at 26, flag at 42).
    const std::string file = ReadFile(BookPath(kSecurityBook));
    s["security password"] = file.size() >= 44 ? file.substr(26, 18) : "<short header>";
    return s;
}

AffixEntry Affix(uint32_t id, const char* name, const char* text) {
    AffixEntry a;
    std::memset(&a, 0, sizeof a);
    a.size = sizeof a;
    a.id = id;
    std::strcpy(a.name, name);
    std::strcpy(a.affixText, text);
    return a;
}

uint32_t AddFolder(const std::string& path) {
    FolderSecurityEntry f;
    std::memset(&f, 0, sizeof f);
    f.size = sizeof f;
    f.extraValue = 7;
    std::strcpy(f.path, path.c_str());
    return AddFolderSecurityEntry(&f, 0, nullptr) == 1 ? f.id : 0;
}

// --- The changes, each as one client makes it (results may be failures) ---

void ChangeAddresses() {
    if (KviDfOpenAddressBook(0) == 1 && KviDfLockAddressBook(nullptr) == 1) {
        uint32_t id = 0;
        kvi::stress::AddEntry(kAddressBook, 1, 1, 2, &id);
        kvi::stress::UpdateEntry(kAddressBook, 2, 0, 2, 3);
        kvi::stress::DeleteEntry(kAddressBook, 1);
        KviDfCommitAddressBook(0);
        KviDfUnlockAddressBook();
    }
    KviDfCloseAddressBook();
}

void ChangeSecurity() {
    if (KviDfOpenSecurityBook(nullptr) == 1 && KviDfLockSecurityBook(nullptr, 1000) == 1) {
        uint32_t id = 0;
        kvi::stress::AddEntry(kSecurityBook, 1, 1, 2, &id);
        kvi::stress::UpdateEntry(kSecurityBook, 2, 0, 2, 3);
        kvi::stress::DeleteEntry(kSecurityBook, 1);
        AffixEntry prefix = Affix(0, "p3", "8,");
        KviDfAddPrefixEntry(&prefix, 0, nullptr);
        KviDfDeletePrefixEntry(1, 0, 0, 0);
        AffixEntry suffix = Affix(2, "s2", "#77");
        KviDfUpdateSuffix(&suffix, 0, 0);
        AddFolder(WindowsDir() + "/KVI");
        DeleteFolderSecurityEntry(1, 0, 0);
        GlobalSecurity g;
        if (KviDfGetGlobalSecurity(&g) == 1) {
            g.mode = 3;
            g.extraWord1 = 41;
            KviDfSetGlobalSecurity(&g);
        }
        KviDfUnlockSecurityBook();  // commits
    }
    KviDfCloseSecurityBook();
}

void ChangeAddressPassword() {
    if (KviDfOpenAddressBook(0) == 1 && KviDfLockAddressBook(nullptr) == 1) {
        char newPassword[16], oldPassword[16];
        std::strcpy(newPassword, kNewPassword);
        std::strcpy(oldPassword, kOldPassword);
        KviDfAddressBookSetPasswd(newPassword, 1, oldPassword);
        KviDfUnlockAddressBook();
    }
    KviDfCloseAddressBook();
}

// Both books open: the new password reaches both headers at once, the
// global record with the unlock's commit.
void ChangeGlobalPassword() {
    KviDfOpenAddressBook(0);
    if (KviDfOpenSecurityBook(nullptr) == 1 && KviDfLockSecurityBook(nullptr, 1000) == 1) {
        GlobalSecurity g;
        if (KviDfGetGlobalSecurity(&g) == 1) {
            std::memset(g.password, 0, sizeof g.password);
            std::strcpy(g.password, kNewPassword);
            KviDfSetGlobalSecurity(&g);
        }
        KviDfUnlockSecurityBook();
    }
    KviDfCloseSecurityBook();
    KviDfCloseAddressBook();
}

// The book made from the legacy file by the open, then a change to it.
template <Book book>
void ChangeAfterImport() {
    if (kvi::stress::OpenBook(book) == 1) {
        kvi::stress::LockBook(book, 1000);
        uint32_t id = 0;
        kvi::stress::AddEntry(book, 1, 1, 2, &id);
        kvi::stress::CommitBook(book, 0);
        kvi::stress::UnlockBook(book);
    }
    kvi::stress::CloseBook(book);
}

struct Scenario {
    const char* name;
    void (*change)();
    bool fromLegacy;   // the book starts as its legacy file only...
    Book legacyBook;   // ...this one
    // Parts that the change writes at once, each on its own, before the
    // commit: each may be new while the rest is still old. All other
    // parts go together.
    std::vector<std::string> apart;
};

void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

const Scenario kScenarios[] = {
    {"AddressBookCommit", ChangeAddresses, false, kAddressBook, {}},
    {"SecurityBookCommit", ChangeSecurity, false, kAddressBook, {}},
    {"AddressPassword", ChangeAddressPassword, false, kAddressBook, {}},
    {"GlobalPassword", ChangeGlobalPassword, false, kAddressBook, {"address password", "security password"}},
    {"AddressCommitAfterImport", ChangeAfterImport<kAddressBook>, true, kAddressBook, {}},
    {"SecurityCommitAfterImport", ChangeAfterImport<kSecurityBook>, true, kSecurityBook, {}},
};

class ReplaceCrash : public ::testing::TestWithParam<Scenario> {
protected:
    void SetUp() override {
        KvioInjectFault(KVIO_OP_NONE, 0, 0);
        std::filesystem::create_directory(dir_.Path() + "/KVI");
        std::filesystem::create_directory(dir_.Path() + "/there");
        std::filesystem::create_directory(dir_.Path() + "/also");
        if (getuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            ASSERT_NE(nullptr, nobody);
            uid_ = nobody->pw_uid;
            gid_ = nobody->pw_gid;
        }
        ASSERT_EQ(1, KviDfInitialize());
        MakeBooks();
    }
    void TearDown() override {
        KviDfUnlockAddressBook();
        KviDfUnlockSecurityBook();
        KviDfCloseAddressBook();
        KviDfCloseSecurityBook();
        KviDfTerminate();
    }

    // The books before the change: entries in every section, the global
    // record, and one password in both headers and the record.
    void MakeBooks() {
        ASSERT_EQ(1, KviDfOpenAddressBook(0));
        ASSERT_EQ(1, KviDfLockAddressBook(nullptr));
        ASSERT_EQ(1, KviDfOpenSecurityBook(nullptr));
        ASSERT_EQ(1, KviDfLockSecurityBook(nullptr, 1000));
        for (uint32_t k = 1; k <= 3; ++k) {
            uint32_t id = 0;
            ASSERT_EQ(1, kvi::stress::AddEntry(kAddressBook, 0, k, 1, &id));
            ASSERT_EQ(1, kvi::stress::AddEntry(kSecurityBook, 0, k, 1, &id));
        }
        for (const char* name : {"p1", "p2"}) {
            AffixEntry a = Affix(0, name, "9,");
            ASSERT_EQ(1, KviDfAddPrefixEntry(&a, 0, nullptr));
        }
        for (const char* name : {"s1", "s2"}) {
            AffixEntry a = Affix(0, name, "#1");
            ASSERT_EQ(1, KviDfAddSuffixEntry(&a, 0, nullptr));
        }
        ASSERT_NE(0u, AddFolder(dir_.Path() + "/there"));
        ASSERT_NE(0u, AddFolder(dir_.Path() + "/also"));
        ASSERT_EQ(1, KviDfCommitAddressBook(0));
        GlobalSecurity g;
        ASSERT_EQ(1, KviDfGetGlobalSecurity(&g));
        g.mode = 2;
        g.flags |= 0x200;
        std::strcpy(g.password, kOldPassword);
        ASSERT_EQ(1, KviDfSetGlobalSecurity(&g));
        ASSERT_EQ(1, KviDfUnlockSecurityBook());
        ASSERT_EQ(1, KviDfUnlockAddressBook());
        KviDfCloseSecurityBook();
        KviDfCloseAddressBook();
        books_[kAddressBook] = ReadFile(BookPath(kAddressBook));
        books_[kSecurityBook] = ReadFile(BookPath(kSecurityBook));
        ASSERT_EQ(std::string(kOldPassword), books_[kSecurityBook].substr(26, sizeof kOldPassword - 1));
    }

    // The files before the change: the books (mode 0640; owned by nobody
    // when we may give them away), or the legacy file instead of one.
    void PutFiles(const Scenario& s) {
        for (const char* sub : {"/KVI32", "/KVI"})
            for (const auto& f : std::filesystem::directory_iterator(dir_.Path() + sub))
                std::filesystem::remove_all(f.path());
        for (const Book book : {kAddressBook, kSecurityBook}) {
            if (s.fromLegacy && book == s.legacyBook) {
                WriteFile(LegacyPath(book),
                          book == kAddressBook ? kvi::stress::LegacyAddresses(2) : kvi::stress::LegacyUsers(2));
                continue;
            }
            WriteFile(BookPath(book), books_[book]);
            ASSERT_EQ(0, chmod(BookPath(book).c_str(), kBookMode));
            if (getuid() == 0) {
                ASSERT_EQ(0, chown(BookPath(book).c_str(), uid_, gid_));
            }
        }
    }

    void ExpectModeAndOwner(const Scenario& s) {
        for (const Book book : {kAddressBook, kSecurityBook}) {
            if (s.fromLegacy && book == s.legacyBook) continue;  // a new book: the creation mode
            struct stat st;
            ASSERT_EQ(0, stat(BookPath(book).c_str(), &st));
            EXPECT_EQ(kBookMode, st.st_mode & 07777) << BookPath(book);
            EXPECT_EQ(uid_, st.st_uid) << BookPath(book);
            EXPECT_EQ(gid_, st.st_gid) << BookPath(book);
        }
    }

    std::vector<std::string> Temporaries() const {
        std::vector<std::string> names;
        for (const auto& f : std::filesystem::directory_iterator(dir_.Path() + "/KVI32")) {
            const std::string name = f.path().filename().string();
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) names.push_back(name);
        }
        return names;
    }

    // A full commit of both books, as the next writer makes it.
    void CommitBoth() {
        ASSERT_EQ(1, KviDfOpenAddressBook(0));
        ASSERT_EQ(1, KviDfLockAddressBook(nullptr));  // the dead holder's lock is taken over
        EXPECT_EQ(1, KviDfCommitAddressBook(1));
        KviDfUnlockAddressBook();
        KviDfCloseAddressBook();
        ASSERT_EQ(1, KviDfOpenSecurityBook(nullptr));
        ASSERT_EQ(1, KviDfLockSecurityBook(nullptr, 1000));
        EXPECT_EQ(1, KviDfCommitSecurityBook(1));
        EXPECT_EQ(1, KviDfUnlockSecurityBook());
        KviDfCloseSecurityBook();
    }

    // Runs the change in a fresh child process that dies at file call
    // crashAt (0: never). Its exit status; *calls gets the number of file
    // calls of a run that lived, *pid the child's pid.
    static int RunChange(const Scenario& s, uint32_t crashAt, uint32_t* calls, pid_t* pid) {
        int report[2];
        if (pipe(report) != 0) return -1;
        fflush(nullptr);
        *pid = fork();
        if (*pid == 0) {
            close(report[0]);
            kvi::test::StartAsFreshProcess();
            if (KviDfInitialize() != 1) _exit(2);
            const uint32_t before = AllCalls();
            KvioInjectCrash(crashAt);
            s.change();
            const uint32_t n = AllCalls() - before;
            (void)!write(report[1], &n, sizeof n);
            _exit(0);
        }
        close(report[1]);
        uint32_t n = 0;
        if (read(report[0], &n, sizeof n) == sizeof n && calls) *calls = n;
        close(report[0]);
        int status = 0;
        if (*pid < 0 || waitpid(*pid, &status, 0) != *pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }

    kvi::test::TempWindowsDir dir_;
    std::map<Book, std::string> books_;
    uid_t uid_ = getuid();
    gid_t gid_ = getgid();
};

TEST_P(ReplaceCrash, AProcessKilledAtAnyFileCallLeavesTheOldBookOrTheNew) {
    const Scenario& s = GetParam();
    ASSERT_NO_FATAL_FAILURE(PutFiles(s));
    const State before = Read();
    ASSERT_NO_FATAL_FAILURE(PutFiles(s));
    uint32_t calls = 0;
    pid_t pid = 0;
    ASSERT_EQ(0, RunChange(s, 0, &calls, &pid));
    const State after = Read();
    ASSERT_GT(calls, 1u);
    ASSERT_NE(before, after) << "the change changed nothing";

    // The parts that move together: one group per part written apart,
    // and one for all the others.
    std::vector<std::vector<std::string>> groups(1);
    for (const auto& part : before) {
        const bool apart = std::find(s.apart.begin(), s.apart.end(), part.first) != s.apart.end();
        if (apart)
            groups.push_back({part.first});
        else
            groups[0].push_back(part.first);
    }
    // Per group: 0 while it reads as before the change, 1 once as after.
    std::vector<int> reached(groups.size(), 0);
    for (uint32_t step = 1; step <= calls; ++step) {
        SCOPED_TRACE(testing::Message() << "killed at file call " << step << " of " << calls);
        ASSERT_NO_FATAL_FAILURE(PutFiles(s));
        ASSERT_EQ(kKilled, RunChange(s, step, nullptr, &pid));
        ExpectModeAndOwner(s);
        // Only the dead writer's own temporary file may be left.
        const std::vector<std::string> temporaries = Temporaries();
        EXPECT_LE(temporaries.size(), 1u);
        for (const std::string& name : temporaries)
            EXPECT_NE(std::string::npos, name.find("." + std::to_string(pid) + ".")) << name;

        const State now = Read();
        if (step == 1) {
            EXPECT_EQ(before, now) << "changed before its first file call";
        }
        for (size_t g = 0; g < groups.size(); ++g) {
            bool old = true, changed = true;
            std::string parts;
            for (const std::string& part : groups[g]) {
                const bool isOld = now.at(part) == before.at(part), isNew = now.at(part) == after.at(part);
                old = old && isOld;
                changed = changed && isNew;
                parts += " " + part + (isOld ? (isNew ? "=both" : "=old") : (isNew ? "=new" : "=neither"));
            }
            EXPECT_TRUE(old || changed) << "a mixture:" << parts;
            const int side = old ? 0 : 1;
            EXPECT_GE(side, reached[g]) << "back to the old book after the new one:" << parts;
            if (side > reached[g]) reached[g] = side;
        }

        // The next commit clears what the dead writer left, and keeps what it reads.
        if (!temporaries.empty()) {
            ASSERT_NO_FATAL_FAILURE(CommitBoth());
            EXPECT_TRUE(Temporaries().empty());
            EXPECT_EQ(now, Read());
            ExpectModeAndOwner(s);
        }
        if (HasFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Changes, ReplaceCrash, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; });

}  // namespace
