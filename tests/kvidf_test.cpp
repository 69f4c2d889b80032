// kvidf end to end: the built binary run on private Windows directories,
// its output and exit status checked command by command.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kviabdb.h"
#include "support/kvidf_runner.h"
#include "support/test_support.h"

#ifdef KVIDF_PATH

namespace {

using kvi::test::TempWindowsDir;

using Result = kvi::test::KvidfResult;
using Step = kvi::test::KvidfStep;
using kvi::test::Kvidf;
using kvi::test::RunSteps;

TEST(Kvidf, AddressBookCommands) {
    TempWindowsDir dir;
    RunSteps(dir, {
        {{"address", "list"}, 12, "no address book yet"},  // and none is made
        {{"address", "add", "--name", "Head office", "--address", "office.example", "--type", "network"}, 0,
         "added #1  Head office  address \"office.example\"  network"},
        {{"address", "add", "--name", "Copy", "--address", "OFFICE.example  ", "--type", "network"}, 5,
         "is taken by another entry"},
        {{"address", "add", "--name", "Same, by cable", "--address", "office.example", "--type", "cable"}, 0, "#2"},
        {{"address", "add", "--name", "Night", "--phone", "0123", "--text1", "t1", "--text2", "t2", "--value", "7"}, 0,
         "#3  Night"},
        {{"address", "get", "3"}, 0, "phone 0123  text1 \"t1\"  text2 \"t2\"  extra-value 7"},
        {{"address", "find", "T1"}, 0, "#3  Night"},
        {{"address", "find", "nowhere"}, 0, "(no entry matches)"},
        {{"address", "update", "2", "--type", "network"}, 5, "\"office.example\" (network) is taken"},
        {{"address", "update", "2", "--name", "Branch"}, 0, "updated #2  Branch  address \"office.example\"  cable"},
        {{"address", "update", "9", "--name", "x"}, 6, "no entry #9"},
        {{"address", "delete", "1"}, 0, "deleted #1"},
        {{"address", "delete", "1"}, 6, "no entry #1"},
        {{"address", "get", "1"}, 6, "no entry #1"},
        {{"address", "list"}, 0, "#2  Branch"},
        {{"address", "add", "--name", "Next"}, 0, "added #4"},  // ids are never given twice
        {{"--json", "address", "get", "2"}, 0, "\"type\": \"cable\""},
        {{"address", "add", "--name", std::string(31, 'n')}, 2, "at most 30"},
        {{"address", "add", "--address", std::string(21, 'a')}, 2, "at most 20"},
        {{"address", "add", "--type", "pigeon"}, 2, "--type"},
        {{"address"}, 2, ""},
        {{"adress", "list"}, 2, "did you mean \"address\""},
        {{"--json", "address", "get", "77"}, 6, "no entry #77"},
    });
    // The JSON error object goes to standard output.
    const Result r = Kvidf(dir, {"--json", "address", "delete", "77"});
    EXPECT_EQ(r.exit, 6);
    EXPECT_NE(r.out.find("\"error\": \"not-found\""), std::string::npos) << r.out;
}

TEST(Kvidf, SecurityBookCommands) {
    TempWindowsDir dir;
    const std::string existing = dir.Path() + "/KVI32";
    RunSteps(dir, {
        {{"users", "add", "--name", "alice", "--password", "pw", "--extra-value", "11"}, 0, "added #1  alice"},
        {{"users", "add", "--name", "ALICE  "}, 5, "user name \"ALICE  \" is taken"},
        {{"users", "find", "Alice"}, 0, "#1  alice  password \"pw\"  extra-value 11"},
        {{"users", "find", "bob"}, 6, "no user named \"bob\""},
        {{"users", "update", "1", "--name", "ALICE", "--extra-text", "x"}, 0, "#1  ALICE"},
        {{"users", "add", "--name", "bob"}, 0, "#2  bob"},
        {{"users", "update", "2", "--name", "alice"}, 5, "is taken"},
        {{"users", "delete", "2"}, 0, "deleted user #2"},
        {{"users", "get", "2"}, 6, "no user #2"},
        {{"users", "list"}, 0, "1 users"},
        {{"prefixes", "add", "--name", "outside", "--text", "9,"}, 0, "added #1  outside  \"9,\""},
        {{"prefixes", "add", "--name", "OUTSIDE"}, 5, "prefix name \"OUTSIDE\" is taken"},
        {{"prefixes", "find", "Outside"}, 0, "#1  outside"},
        {{"prefixes", "update", "1", "--text", "0,"}, 0, "#1  outside  \"0,\""},
        {{"suffixes", "add", "--name", "outside", "--text", "#"}, 0, "added #1  outside  \"#\""},  // its own table
        {{"suffixes", "delete", "1"}, 0, "deleted suffix #1"},
        {{"suffixes", "get", "1"}, 6, "no suffix #1"},
        {{"suffixes", "list"}, 0, "(no suffixes)"},
        {{"folders", "add", "--path", existing, "--extra-value", "3"}, 0, "added #1  " + existing},
        {{"folders", "add", "--path", dir.Path() + "/gone"}, 0, "added #2"},
        {{"folders", "list"}, 0, "1 folder entries"},  // the missing folder is left out
        {{"folders", "get", "2"}, 0, "/gone"},         // and stays in the book
        {{"folders", "delete", "1"}, 0, "deleted folder entry #1"},
        {{"folders", "reset-ids"}, 0, "renumbered"},
        {{"folders", "get", "1"}, 0, "/gone"},
        {{"global", "show"}, 0, "flags        0x0032C00B\nprotection   off"},
        {{"global", "set", "--mode", "2", "--extra-word1", "5"}, 0, "mode         2"},
        {{"global", "set", "--protection", "on", "--password", "Secret"}, 0, "protection   on\npassword     \"Secret\""},
        {{"password", "address", "show"}, 0, "protection  on\npassword    \"Secret\""},  // both books' headers
        {{"password", "address", "set", "--new", "other", "--old", "wrong"}, 9, "--old"},
        {{"password", "address", "set", "--new", "other", "--old", "SECRET"}, 0, "password    \"other\""},
        {{"password", "security", "set", "--new", "guard", "--protection", "off"}, 0, "protection  off"},
        {{"password", "security", "show"}, 0, "password    \"guard\""},
        {{"global", "show"}, 0, "mode         2"},
        {{"global", "set", "--password", std::string(16, 'p')}, 2, "at most 15"},
    });
}

TEST(Kvidf, BookFileFailuresAndInspect) {
    {
        TempWindowsDir noFolder(false);
        RunSteps(noFolder, {{{"address", "list"}, 8, "the folder KVI32 is missing"},
                            {{"users", "add", "--name", "a"}, 8, "the folder KVI32 is missing"}});
    }
    TempWindowsDir dir;
    RunSteps(dir, {{{"address", "add", "--name", "One", "--address", "one.example", "--type", "network"}, 0, "#1"},
                   {{"address", "add", "--name", "Two", "--phone", "555"}, 0, "#2"}});
    const std::string book = dir.BookPath("MERIDOX.PBK");
    RunSteps(dir, {{{"inspect", book}, 0, "directory[0] @44: type 100, 2 records"},
                   {{"inspect", book}, 0, "@62  #1  One  address \"one.example\"  network"},
                   {{"inspect", dir.Path() + "/KVI32/none"}, 11, "cannot read"}});

    // The second record's address made a text without its NUL.
    std::string bytes = kvi::test::ReadFile(book);
    const uint32_t first = static_cast<unsigned char>(bytes[62]);
    const size_t second = 62 + first;
    const std::string original = bytes;
    bytes.replace(second + 4, 21, std::string(21, 'x'));
    kvi::test::WriteFile(book, bytes);
    RunSteps(dir, {{{"inspect", book}, 10, "is damaged"}, {{"check"}, 10, "a book is damaged"}});
    Result r = Kvidf(dir, {"inspect", book});
    EXPECT_NE(r.out.find("DAMAGE at byte " + std::to_string(second) + ": record 2 of the address section is not a record"),
              std::string::npos)
        << r.out;
    r = Kvidf(dir, {"--json", "inspect", book});
    EXPECT_NE(r.out.find("\"offset\": " + std::to_string(second)), std::string::npos) << r.out;

    // A file cut inside its section.
    kvi::test::WriteFile(book, original.substr(0, 70));
    r = Kvidf(dir, {"inspect", book});
    EXPECT_EQ(r.exit, 10);
    EXPECT_NE(r.out.find("DAMAGE at byte 44: the address section"), std::string::npos) << r.out;

    // Another kind of file where the book should be.
    kvi::test::WriteFile(book, std::string(80, 'x'));
    RunSteps(dir, {{{"address", "list"}, 7, "is not an address book or is damaged"},
                   {{"address", "add", "--name", "x"}, 7, "kvidf check"},
                   {{"inspect", book}, 7, "is not a book"}});
    r = Kvidf(dir, {"inspect", book});
    EXPECT_NE(r.out.find("DAMAGE at byte 6: the book tag \"xxxx\""), std::string::npos) << r.out;
    EXPECT_EQ(kvi::test::ReadFile(book), std::string(80, 'x'));  // left as it was
}

// A process of its own that takes both locks through the exports, and
// keeps them until the test lets it go (or ends without unlocking).
class Holder {
public:
    explicit Holder(bool unlockAtEnd) {
        int ready[2], go[2];
        // Close-on-exec, so that the kvidf runs do not hold the pipes open.
        EXPECT_EQ(pipe2(ready, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(go, O_CLOEXEC), 0);
        fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(go[1]);  // the test's close of its end is the signal to go
            kvi::test::StartAsFreshProcess();
            char name[] = "holder process";
            char ok = KviDfInitialize() == 1 && KviDfLockAddressBook(name) == 1 &&
                              KviDfLockSecurityBook(name, 1000) == 1
                          ? 'y'
                          : 'n';
            if (write(ready[1], &ok, 1) != 1) _exit(2);
            char c;
            while (read(go[0], &c, 1) > 0) {
            }
            if (unlockAtEnd) {
                KviDfUnlockSecurityBook();
                KviDfUnlockAddressBook();
                KviDfTerminate();
            }
            _exit(0);
        }
        close(ready[1]);
        close(go[0]);
        go_ = go[1];
        char ok = 0;
        EXPECT_EQ(read(ready[0], &ok, 1), 1);
        EXPECT_EQ(ok, 'y');
        close(ready[0]);
    }
    void Release() {
        if (pid_ <= 0) return;
        close(go_);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    ~Holder() { Release(); }

private:
    pid_t pid_ = -1;
    int go_ = -1;
};

TEST(Kvidf, BooksLockedByAnotherProcess) {
    TempWindowsDir dir;
    RunSteps(dir, {{{"address", "add", "--name", "One", "--type", "modem"}, 0, "#1"}, {{"users", "add", "--name", "u"}, 0, "#1"}});
    {
        Holder holder(true);
        RunSteps(dir, {
            {{"address", "add", "--name", "Two", "--type", "modem"}, 3, "the address book is locked by \"holder process\""},
            {{"address", "delete", "1"}, 3, "locked by \"holder process\""},
            {{"--wait", "150", "address", "update", "1", "--name", "x"}, 3, "locked by \"holder process\""},
            {{"users", "add", "--name", "v", "--wait", "100"}, 3, "the security book is locked by \"holder process\""},
            {{"global", "set", "--mode", "3"}, 3, "the security book is locked"},
            {{"password", "address", "set", "--new", "x"}, 3, "the address book is locked"},
            {{"folders", "reset-ids"}, 3, "the security book is locked"},
            {{"locks"}, 0, "address book: locked by \"holder process\"\nsecurity book: locked by \"holder process\""},
            {{"address", "list"}, 0, "#1  One"},  // reading needs no lock
        });
        holder.Release();
    }
    RunSteps(dir, {{{"locks"}, 0, "address book: free\nsecurity book: free"},
                   {{"address", "add", "--name", "Two", "--type", "modem"}, 0, "#2"},
                   {{"--locker", "me", "users", "add", "--name", "v"}, 0, "#2"}});
    {
        // A holder that ends without unlocking leaves its name behind; the
        // lock itself is free again.
        Holder holder(false);
        holder.Release();
    }
    // Asking does not change the answer.
    RunSteps(dir, {{{"locks"}, 0, "address book: free (\"holder process\" ended without unlocking)"},
                   {{"locks"}, 0, "address book: free (\"holder process\" ended without unlocking)"},
                   {{"address", "add", "--name", "Three", "--type", "modem"}, 0, "#3"},
                   {{"locks"}, 0, "address book: free\n"}});
}

TEST(Kvidf, ExportAndImport) {
    TempWindowsDir source, target;
    RunSteps(source, {
        {{"address", "add", "--name", "Office", "--address", "office.example", "--type", "network"}, 0, "#1"},
        {{"address", "add", "--name", "Night", "--phone", "555", "--type", "modem"}, 0, "#2"},
        {{"users", "add", "--name", "alice", "--password", "pw"}, 0, "#1"},
        {{"prefixes", "add", "--name", "out", "--text", "9"}, 0, "#1"},
        {{"suffixes", "add", "--name", "ext", "--text", "*1"}, 0, "#1"},
        {{"folders", "add", "--path", source.Path()}, 0, "#1"},
    });
    const std::string file = target.Path() + "/book.json";
    RunSteps(source, {{{"export", "--output", file}, 0, "written to"}});
    RunSteps(target, {
        {{"address", "add", "--name", "Already", "--address", "a.example", "--type", "cable"}, 0, "#1"},
        {{"import", file}, 0, "address: 2 added"},
        {{"address", "get", "2"}, 0, "#2  Office"},  // ids given by the book
        {{"address", "get", "3"}, 0, "#3  Night"},
        {{"users", "find", "alice"}, 0, "password \"pw\""},
        {{"suffixes", "find", "ext"}, 0, "\"*1\""},
        {{"import", file}, 0, "address: 0 added, 2 duplicates skipped"},
        {{"import", file}, 0, "users: 0 added, 1 duplicates skipped (alice)"},
        {{"import", file}, 0, "folders: 0 added, 1 duplicates skipped"},
        {{"address", "list"}, 0, "3 entries"},
        {{"--json", "export", "address"}, 0, "\"name\": \"Office\""},
    });

    kvi::test::WriteFile(file, "{\"address\": [ {\"name\": 5} ]}");
    RunSteps(target, {{{"import", file}, 11, "field \"name\" is not a text"}});
    kvi::test::WriteFile(file, "{\"users\": [ {\"name\": \"" + std::string(21, 'u') + "\"} ]}");
    RunSteps(target, {{{"import", file}, 11, "longer than 20 characters"}});
    kvi::test::WriteFile(file, "not json");
    RunSteps(target, {{{"import", file}, 11, "is not valid JSON"}, {{"import", target.Path() + "/none"}, 11, "cannot read"}});

    // The book is full at 800 entries: the rest are reported, not added.
    std::string many = "{\"address\": [";
    for (int i = 0; i < 800; ++i) many += std::string(i ? "," : "") + "{\"name\": \"n\", \"type\": \"network\", \"address\": \"a" + std::to_string(i) + "\"}";
    kvi::test::WriteFile(file, many + "]}");
    const Result r = Kvidf(target, {"import", file});
    EXPECT_EQ(r.exit, 4) << r.out << r.err;
    EXPECT_NE(r.out.find("address: 797 added, 3 not added: the table is full"), std::string::npos) << r.out;
    RunSteps(target, {{{"address", "add", "--name", "one more"}, 4, "the address book is full (800 entries)"}});
}

TEST(Kvidf, HelpListsTheExitCodes) {
    TempWindowsDir dir;
    const Result r = Kvidf(dir, {"--help"});
    EXPECT_EQ(r.exit, 0);
    for (const char* line : {"3   the book is locked", "4   the book is full (800 entries)", "5   the name or address",
                             "8   the folder KVI32 is missing"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line;
}

}  // namespace

#endif  // KVIDF_PATH
