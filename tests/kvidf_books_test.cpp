// kvidf end to end, on the books themselves: the books' code page through
// every command, backup and restore, check against the library's own open,
// recover, and read-only commands that leave every byte and lock alone.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "kviabdb.h"
#include "support/kvidf_runner.h"
#include "support/raw_bytes.h"
#include "support/test_support.h"

#ifdef KVIDF_PATH

namespace {

using kvi::test::Kvidf;
using kvi::test::KvidfResult;
using kvi::test::ReadFile;
using kvi::test::RunSteps;
using kvi::test::TempWindowsDir;
using kvi::test::WriteFile;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

uint32_t Word(const std::string& bytes, size_t at) { return kvi::test::At<uint32_t>(bytes, at); }

// The offsets of the address section's records, from the file.
std::vector<size_t> RecordOffsets(const std::string& book) {
    std::vector<size_t> at;
    const size_t start = Word(book, 44 + 10), end = start + Word(book, 44 + 2);
    for (size_t p = start; p < end; p += Word(book, p)) at.push_back(p);
    return at;
}

// Whether the library opens the book (in a process of its own).
bool LibraryOpens(const TempWindowsDir& dir, bool address) {
    return kvi::test::RunInChild([&] {
               kvi::test::StartAsFreshProcess();
               dir.Activate();
               if (KviDfInitialize() != 1) return 2;
               const int32_t opened = address ? KviDfOpenAddressBook(0) : KviDfOpenSecurityBook(nullptr);
               return opened == 1 ? 0 : 1;
           }) == 0;
}

// A process that takes the address lock with a locker name in the books'
// code page and ends without unlocking.
void AbandonAddressLock(const TempWindowsDir& dir, const char* name) {
    ASSERT_EQ(kvi::test::RunInChild([&] {
                  kvi::test::StartAsFreshProcess();
                  dir.Activate();
                  std::vector<char> locker(name, name + std::strlen(name) + 1);
                  return KviDfInitialize() == 1 && KviDfLockAddressBook(locker.data()) == 1 ? 0 : 1;
              }),
              0);
}

void FillBooks(const TempWindowsDir& dir) {
    RunSteps(dir, {
        {{"address", "add", "--name", "Café", "--address", "cafe.example", "--type", "network"}, 0, "#1  Café"},
        {{"address", "add", "--address", "h.example", "--phone", "555"}, 0, "#2  h.example (modem)"},
        {{"address", "add", "--name", "Three", "--address", "three.example", "--type", "cable"}, 0, "#3"},
        {{"address", "add", "--name", "Four", "--text1", "é€", "--extra-value", "9"}, 0, "#4"},
        {{"users", "add", "--name", "Jürgen", "--password", "Grüße"}, 0, "#1  Jürgen"},
        {{"users", "add", "--name", "bob", "--password", "b"}, 0, "#2"},
        {{"prefixes", "add", "--name", "out", "--text", "9,"}, 0, "#1"},
        {{"suffixes", "add", "--name", "ext", "--text", "*1"}, 0, "#1"},
        {{"folders", "add", "--path", dir.Path() + "/absent", "--extra-word", "4"}, 0, "#1"},
        {{"global", "set", "--mode", "3", "--protection", "on", "--password", "Secret"}, 0, "protection   on"},
    });
}

TEST(KvidfText, TheBooksCodePageThroughEveryCommand) {
    TempWindowsDir dir;
    FillBooks(dir);
    RunSteps(dir, {
        {{"--json", "users", "find", "Jürgen"}, 0, "\"name\": \"Jürgen\""},
        {{"--json", "users", "list"}, 0, "Jürgen"},
        {{"--json", "address", "get", "1"}, 0, "\"name\": \"Café\""},
        {{"address", "find", "café"}, 0, "#1  Café"},
        {{"--json", "export"}, 0, "\"text1\": \"é€\""},
        {{"users", "add", "--name", "Ren\xe9"}, 2, "is not UTF-8 text"},
        {{"users", "add", "--name", "日本"}, 2, "Windows-1252"},
        {{"users", "add", "--name", std::string(21 * 2, 'x').replace(0, 42, "ééééééééééééééééééééé")}, 2, "at most 20"},
        {{"users", "add", "--name", "éééééééééééééééééééé"}, 0, "#3"},  // 20 characters, 40 bytes of UTF-8
        {{"password", "address", "set", "--new", "Neü", "--old", "secret"}, 0, "\"Neü\""},
    });
    // Stored in 1252, never as UTF-8 bytes.
    const std::string address = ReadFile(dir.BookPath("MERIDOX.PBK"));
    EXPECT_TRUE(Has(address, "Caf\xe9")) << "1252 name";
    EXPECT_FALSE(Has(address, "Caf\xc3\xa9"));
    EXPECT_TRUE(Has(address, "\xe9\x80"));
    EXPECT_TRUE(Has(ReadFile(dir.BookPath("MERIDOX.PWD")), "J\xfcrgen"));
    // A locker name in the books' code page, under --json.
    AbandonAddressLock(dir, "J\xfcrgen");
    const KvidfResult r = Kvidf(dir, {"--json", "locks"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "\"locker\": \"Jürgen\"")) << r.out;
    // A failed add under --json leaves nothing in the book and one JSON error.
    const KvidfResult bad = Kvidf(dir, {"--json", "users", "add", "--name", "Ren\xe9"});
    EXPECT_EQ(bad.exit, 2);
    EXPECT_TRUE(Has(bad.out, "\"error\": \"usage\"")) << bad.out;
    EXPECT_FALSE(Has(ReadFile(dir.BookPath("MERIDOX.PWD")), "Ren"));
}

TEST(KvidfBackup, RestoreThenBackupGivesTheSameJson) {
    TempWindowsDir source, target;
    FillBooks(source);
    // An entry of a type outside 0..4, as another client may store.
    const std::string extra = source.Path() + "/extra.json";
    WriteFile(extra, R"({"address": [{"name": "Odd", "address": "odd.example", "type": 7}]})");
    RunSteps(source, {{{"import", extra}, 0, "address: 1 added"}, {{"address", "delete", "3"}, 0, "deleted #3"}});

    // Unusual but accepted bytes: the address section without ids (numbered
    // on reading), a short global section, a byte after the global password.
    std::string book = ReadFile(source.BookPath("MERIDOX.PBK"));
    std::memset(&book[44 + 14], 0, 4);
    WriteFile(source.BookPath("MERIDOX.PBK"), book);
    std::string security = ReadFile(source.BookPath("MERIDOX.PWD"));
    const uint32_t global = Word(security, 44 + 10);
    security[global + 12 + 20] = 'Z';
    const uint32_t shorter = 200;
    std::memcpy(&security[44 + 2], &shorter, 4);
    WriteFile(source.BookPath("MERIDOX.PWD"), security);

    const std::string first = source.Path() + "/first.json", second = source.Path() + "/second.json";
    RunSteps(source, {{{"backup", "--output", first}, 0, "written to"}});
    struct stat st;
    ASSERT_EQ(stat(first.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string json = ReadFile(first);
    EXPECT_TRUE(Has(json, "\"last_id\": 4")) << json;  // numbered 1..4 as an open does
    EXPECT_TRUE(Has(json, "\"type\": \"7\""));
    EXPECT_TRUE(Has(json, "5a")) << "the byte after the password";
    EXPECT_TRUE(Has(json, "absent")) << "a folder entry whose folder is absent";

    RunSteps(target, {
        {{"restore", first}, 0, "security book restored: 2 users"},
        {{"backup", "--output", second}, 0, "written to"},
        {{"restore", first}, 1, "--force"},  // the books hold entries now
        {{"folders", "get", "1"}, 0, "/absent  extra-value 0  extra-word 4"},
        {{"password", "address", "show"}, 0, "protection  on\npassword    \"Secret\""},
        {{"global", "show"}, 0, "mode         3"},
        {{"address", "get", "4"}, 0, "Odd  address \"odd.example\"  7"},  // numbered 1..4 on reading
        {{"address", "add", "--name", "Next", "--type", "modem"}, 0, "added #5"},  // lastId kept
    });
    EXPECT_EQ(ReadFile(second), json);
    // From standard input, over books that hold entries.
    const KvidfResult r = Kvidf(target, {"restore", "--force", "-"}, json);
    EXPECT_EQ(r.exit, 0) << r.err;
    RunSteps(target, {{{"address", "get", "5"}, 6, "no entry #5"}, {{"backup", "--output", second}, 0, "written"}});
    EXPECT_EQ(ReadFile(second), json);

    // A damaged book is not backed up; recovered, it is.
    book = ReadFile(target.BookPath("MERIDOX.PBK"));
    book[RecordOffsets(book)[1]] = static_cast<char>(0xF0);
    WriteFile(target.BookPath("MERIDOX.PBK"), book);
    const std::string recovered = target.Path() + "/new.pbk";
    RunSteps(target, {{{"backup"}, 10, "kvidf recover"},
                      {{"recover", target.BookPath("MERIDOX.PBK"), "--output", recovered}, 0, "3 address entries"}});
    WriteFile(target.BookPath("MERIDOX.PBK"), ReadFile(recovered));
    RunSteps(target, {{{"backup", "--output", first}, 0, "written"},
                      {{"restore", "--force", first}, 0, "restored"},
                      {{"backup", "--output", second}, 0, "written"}});
    EXPECT_EQ(ReadFile(first), ReadFile(second));

    // Backups that are not whole are refused before anything is written.
    for (const std::string& bad : {std::string(R"({"format": "kvidf-backup", "version": 1, "address": null, "security": null})"),
                                   std::string(R"({"format": "other", "version": 1, "address": null, "security": null})"),
                                   json.substr(0, json.size() / 2)}) {
        WriteFile(first, bad);
        EXPECT_EQ(Kvidf(target, {"restore", "--force", first}).exit, 11) << bad;
    }
    EXPECT_EQ(ReadFile(target.BookPath("MERIDOX.PBK")), ReadFile(recovered));
}

// A restore puts each book in place as the library's commit does: an
// existing book keeps its mode and owner, a missing security book gets the
// library's mode for it (nothing for others), and no file stays beside them.
TEST(KvidfBackup, RestoreKeepsModeAndOwnerAsACommitDoes) {
    TempWindowsDir dir;
    FillBooks(dir);
    const std::string backup = dir.Path() + "/backup.json";
    RunSteps(dir, {{{"backup", "--output", backup}, 0, "written to"}});
    const std::string books[] = {dir.BookPath("MERIDOX.PBK"), dir.BookPath("MERIDOX.PWD")};
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (uid == 0) {  // books of another account, restored by root
        const passwd* nobody = getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
    }
    for (const std::string& book : books) {
        ASSERT_EQ(chmod(book.c_str(), 0604), 0);
        ASSERT_EQ(chown(book.c_str(), uid, gid), 0);
    }
    RunSteps(dir, {{{"restore", "--force", backup}, 0, "restored"}});
    for (const std::string& book : books) {
        struct stat st;
        ASSERT_EQ(stat(book.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0604u) << book;
        EXPECT_EQ(st.st_uid, uid) << book;
        EXPECT_EQ(st.st_gid, gid) << book;
    }

    ASSERT_EQ(unlink(books[1].c_str()), 0);
    RunSteps(dir, {{{"restore", "--force", backup}, 0, "security book restored"}});
    const mode_t mask = umask(0);
    umask(mask);
    struct stat st;
    ASSERT_EQ(stat(books[1].c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0660u & ~mask);
    EXPECT_TRUE(LibraryOpens(dir, false));
    std::vector<std::string> names;
    for (const auto& f : std::filesystem::directory_iterator(dir.Path() + "/KVI32")) names.push_back(f.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"MERIDOX.PBK", "MERIDOX.PWD"}));
}

// The records recover saves are exactly the intact ones.
TEST(KvidfRecover, SavesExactlyTheIntactRecords) {
    TempWindowsDir dir;
    for (int i = 1; i <= 6; ++i)
        RunSteps(dir, {{{"address", "add", "--name", "N" + std::to_string(i), "--address", "a" + std::to_string(i),
                         "--type", "network"},
                        0,
                        "#" + std::to_string(i)}});
    const std::string good = ReadFile(dir.BookPath("MERIDOX.PBK"));
    const std::vector<size_t> at = RecordOffsets(good);
    ASSERT_EQ(at.size(), 6u);
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<int> kept;
    };
    std::string bad = good, zeroed = good, two = good;
    bad[at[2]] = static_cast<char>(0xFF);
    std::memset(&zeroed[0], 0, 44);
    two[at[1]] = 3;
    two[at[4] + 4] = static_cast<char>(0xEE);
    two[at[4] + 0] = static_cast<char>(0x90);
    const std::vector<Case> cases{
        {"truncated inside record 5", good.substr(0, at[4] + 7), {1, 2, 3, 4}},
        {"bad record in the middle", bad, {1, 2, 4, 5, 6}},
        {"zeroed header", zeroed, {1, 2, 3, 4, 5, 6}},
        {"two bad records", two, {1, 3, 4, 6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string damaged = dir.Path() + "/damaged.pbk", repaired = dir.Path() + "/repaired.pbk";
        WriteFile(damaged, c.bytes);
        const KvidfResult r = Kvidf(dir, {"recover", damaged, "--output", repaired});
        ASSERT_EQ(r.exit, 0) << r.out << r.err;
        TempWindowsDir check;
        WriteFile(check.BookPath("MERIDOX.PBK"), ReadFile(repaired));
        EXPECT_TRUE(LibraryOpens(check, true));
        const KvidfResult list = Kvidf(check, {"address", "list"});
        std::string expected;
        for (int id : c.kept) expected += "#" + std::to_string(id) + "  N" + std::to_string(id) + "  ";
        std::string got;
        for (int id = 1; id <= 6; ++id)
            if (Has(list.out, "#" + std::to_string(id) + "  N" + std::to_string(id) + "  "))
                got += "#" + std::to_string(id) + "  N" + std::to_string(id) + "  ";
        EXPECT_EQ(got, expected) << list.out << r.out;
        EXPECT_TRUE(Has(list.out, std::to_string(c.kept.size()) + " entries")) << list.out;
        // inspect shows the same records of the damaged file.
        const KvidfResult inspect = Kvidf(dir, {"inspect", "--book", "address", damaged});
        for (int id : c.kept) EXPECT_TRUE(Has(inspect.out, "#" + std::to_string(id) + "  N")) << inspect.out;
    }
    // A bad user in the middle of the security book.
    RunSteps(dir, {{{"users", "add", "--name", "u1"}, 0, "#1"}, {{"users", "add", "--name", "u2"}, 0, "#2"},
                   {{"users", "add", "--name", "u3"}, 0, "#3"}});
    std::string security = ReadFile(dir.BookPath("MERIDOX.PWD"));
    const uint32_t users = Word(security, 44 + 3 * 18 + 10);
    security[users + Word(security, users)] = 1;  // the second user's length word
    const std::string damaged = dir.Path() + "/damaged.pwd", repaired = dir.Path() + "/repaired.pwd";
    WriteFile(damaged, security);
    const KvidfResult r = Kvidf(dir, {"recover", damaged, "--output", repaired});
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "2 users")) << r.out;
    EXPECT_TRUE(Has(r.out, "LOST at byte " + std::to_string(users + Word(ReadFile(dir.BookPath("MERIDOX.PWD")), users))))
        << r.out;
}

// check says "damaged" exactly when the library refuses to open the book.
TEST(KvidfCheck, AgreesWithTheLibrarysOpen) {
    TempWindowsDir dir;
    FillBooks(dir);
    RunSteps(dir, {{{"check"}, 0, "address book: healthy"}});
    const std::string address = ReadFile(dir.BookPath("MERIDOX.PBK"));
    const std::string security = ReadFile(dir.BookPath("MERIDOX.PWD"));
    std::mt19937 random(14);
    int refused = 0;
    for (int i = 0; i < 120; ++i) {
        const bool isAddress = i % 2 == 0;
        std::string bytes = isAddress ? address : security;
        const size_t at = random() % bytes.size();
        bytes[at] = static_cast<char>(bytes[at] ^ (1 + random() % 255));
        if (i % 15 == 0) bytes.resize(random() % bytes.size());
        WriteFile(dir.BookPath(isAddress ? "MERIDOX.PBK" : "MERIDOX.PWD"), bytes);
        const bool opens = LibraryOpens(dir, isAddress);
        const KvidfResult r = Kvidf(dir, {"check"});
        SCOPED_TRACE("mutation " + std::to_string(i) + " at byte " + std::to_string(at) + "\n" + r.out);
        EXPECT_EQ(r.exit, opens ? 0 : 10);
        refused += opens ? 0 : 1;
        WriteFile(dir.BookPath(isAddress ? "MERIDOX.PBK" : "MERIDOX.PWD"), isAddress ? address : security);
    }
    EXPECT_GT(refused, 10);  // the mutations reach what an open checks
    // The other book's file is named as such.
    WriteFile(dir.BookPath("MERIDOX.PBK"), security);
    RunSteps(dir, {{{"check"}, 10, "damaged"}});
    EXPECT_TRUE(Has(Kvidf(dir, {"check"}).out, "this file is the security book, not the address book"));
}

TEST(KvidfReadOnly, CommandsLeaveEveryByteAndLockAsTheyWere) {
    const std::vector<std::vector<std::string>> readers{
        {"address", "list"}, {"address", "get", "1"}, {"address", "find", "a"}, {"users", "list"},
        {"users", "get", "1"}, {"users", "find", "bob"}, {"folders", "list"}, {"prefixes", "list"},
        {"global", "show"}, {"password", "address", "show"}, {"locks"}, {"check"}, {"export"}, {"backup"}};
    {
        // No books yet, and an earlier generation's file that a create would consume.
        TempWindowsDir dir;
        ASSERT_EQ(mkdir((dir.Path() + "/KVI").c_str(), 0755), 0);
        WriteFile(dir.Path() + "/KVI/KVI.DA2", "legacy bytes");
        for (const auto& args : readers) {
            const KvidfResult r = Kvidf(dir, args);
            EXPECT_EQ(r.exit, args[0] == "check" ? 0 : 12) << args[0] << r.out << r.err;
            EXPECT_TRUE(Has(r.out + r.err, "no book yet") || Has(r.out + r.err, "book yet")) << args[0];
        }
        EXPECT_FALSE(kvi::test::FileExists(dir.BookPath("MERIDOX.PBK")));
        EXPECT_FALSE(kvi::test::FileExists(dir.BookPath("MERIDOX.PWD")));
        EXPECT_EQ(ReadFile(dir.Path() + "/KVI/KVI.DA2"), "legacy bytes");
    }
    TempWindowsDir dir;
    FillBooks(dir);
    AbandonAddressLock(dir, "gone");
    const std::string address = ReadFile(dir.BookPath("MERIDOX.PBK"));
    const std::string security = ReadFile(dir.BookPath("MERIDOX.PWD"));
    for (int round = 0; round < 2; ++round)
        for (const auto& args : readers) {
            const KvidfResult r = Kvidf(dir, args);
            EXPECT_TRUE(r.exit == 0 || r.exit == 6) << args[0] << r.err;
        }
    const KvidfResult r = Kvidf(dir, {"inspect", dir.BookPath("MERIDOX.PWD")});
    EXPECT_EQ(r.exit, 0) << r.out;
    EXPECT_EQ(ReadFile(dir.BookPath("MERIDOX.PBK")), address);
    EXPECT_EQ(ReadFile(dir.BookPath("MERIDOX.PWD")), security);  // the absent folder's entry stays
    RunSteps(dir, {{{"locks"}, 0, "address book: free (\"gone\" ended without unlocking)"}});
}

TEST(KvidfTransfer, ImportKeepsEntriesExportKeepsTheOldFileJsonContract) {
    TempWindowsDir dir;
    FillBooks(dir);
    const std::string file = dir.Path() + "/in.json";
    // import under the lock no longer prunes the entry of an absent folder.
    WriteFile(file, R"({"folders": [{"path": "/elsewhere", "extra_value": 1}], "users": [{"name": "bob"}]})");
    RunSteps(dir, {{{"import", file}, 0, "folders: 1 added"},
                   {{"import", file}, 0, "users: 0 added, 1 duplicates skipped (bob)"},
                   {{"folders", "get", "1"}, 0, "/absent"}});
    for (const std::string& bad : {std::string(R"({"adress": []})"), std::string(R"({"users": [{"name": "x", "pasword": "p"}]})"),
                                   std::string(R"({"address": [{"name": "x", "type": "70000"}]})"),
                                   std::string(R"({"users": [{"name": "日本"}]})")}) {
        WriteFile(file, bad);
        const KvidfResult r = Kvidf(dir, {"--json", "import", file});
        EXPECT_EQ(r.exit, 11) << bad << r.err;
        EXPECT_TRUE(Has(r.out, "\"error\": \"file-error\"")) << r.out;
    }
    // From standard input; type numbers outside 0..4 as export writes them.
    const KvidfResult in = Kvidf(dir, {"import", "-"}, R"({"address": [{"name": "T", "type": "9"}]})");
    EXPECT_EQ(in.exit, 0) << in.err;
    RunSteps(dir, {{{"address", "find", "T"}, 0, "  9"}});

    // export: the old file stays when the new one cannot be made.
    const std::string out = dir.Path() + "/out.json";
    WriteFile(out, "previous");
    std::string book = ReadFile(dir.BookPath("MERIDOX.PBK"));
    const std::string original = book;
    book[RecordOffsets(book)[0]] = 1;
    WriteFile(dir.BookPath("MERIDOX.PBK"), book);
    RunSteps(dir, {{{"export", "--output", out}, 10, "damaged"}});
    EXPECT_EQ(ReadFile(out), "previous");
    WriteFile(dir.BookPath("MERIDOX.PBK"), original);
    RunSteps(dir, {{{"export", "--output", out}, 0, "written to"}});
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(Has(ReadFile(out), "/absent"));

    // The JSON contract: every failure is one JSON object on standard output.
    struct Case {
        std::vector<std::string> args;
        int exit;
        std::string out;
    };
    for (const Case& c : std::vector<Case>{
             {{"--json", "address", "add", "--bogus"}, 2, "\"error\": \"usage\""},
             {{"--json", "import", dir.Path()}, 11, "is a folder"},
             {{"--json", "export", "--output", dir.Path()}, 11, "is a folder"},
             {{"--json", "address", "add", "--address", "h3.example"}, 0, "\"name\": \"h3.example (modem)\""},
             {{"--json", "address", "get", "1"}, 0, "\"extra_value\": 0"},
         }) {
        const KvidfResult r = Kvidf(dir, c.args);
        EXPECT_EQ(r.exit, c.exit) << c.args[1] << r.err;
        EXPECT_TRUE(Has(r.out, c.out)) << r.out;
    }
    TempWindowsDir empty;
    EXPECT_EQ(Kvidf(empty, {"locks"}).exit, 12);  // no book could be opened: not a success
}

TEST(KvidfPassword, TheOldGlobalPasswordLeavesNoTrace) {
    TempWindowsDir dir;
    RunSteps(dir, {{{"global", "set", "--password", "OldSecret12345"}, 0, "OldSecret12345"},
                   {{"global", "set", "--password", "ab"}, 0, "\"ab\""},
                   {{"password", "security", "set", "--new", "c", "--protection", "off"}, 0, "\"c\""}});
    EXPECT_FALSE(Has(ReadFile(dir.BookPath("MERIDOX.PWD")), "Secret"));
    EXPECT_FALSE(Has(ReadFile(dir.BookPath("MERIDOX.PBK")), "Secret"));
}

TEST(KvidfCsv, ExportAndImportWithQuoting) {
    TempWindowsDir source, target;
    RunSteps(source, {
        {{"address", "add", "--name", "Smith, \"Jo\"", "--address", "jo.example", "--type", "network"}, 0, "#1"},
        {{"address", "add", "--name", "Café", "--phone", "555", "--text1", "two\nlines"}, 0, "#2"},
    });
    const std::string csv = source.Path() + "/book.csv";
    RunSteps(source, {{{"address", "export", "--csv", "--output", csv}, 0, "written to"}});
    EXPECT_EQ(ReadFile(csv),
              "id,name,address,phone,text1,text2,type,extra_value\r\n"
              "1,\"Smith, \"\"Jo\"\"\",jo.example,,,,network,0\r\n"
              "2,Café,,555,\"two\nlines\",,modem,0\r\n");
    RunSteps(target, {{{"address", "import", "--csv", csv}, 0, "address: 2 added"},
                      {{"address", "get", "1"}, 0, "Smith, \"Jo\"  address \"jo.example\"  network"},
                      {{"address", "import", "--csv", csv}, 0, "2 duplicates skipped"}});
    const KvidfResult in = Kvidf(target, {"address", "import", "--csv", "-"}, "name,type\nPlain,cable\n");
    EXPECT_EQ(in.exit, 0) << in.err;
    RunSteps(target, {{{"address", "find", "plain"}, 0, "Plain  address \"\"  cable"}});
    for (const std::string& bad : {std::string("name,adress\nx,y\n"), std::string("name,type\n\"open,cable\n"),
                                   std::string("name,type\nx\n")}) {
        WriteFile(csv, bad);
        EXPECT_EQ(Kvidf(target, {"address", "import", "--csv", csv}).exit, 11) << bad;
    }
}

TEST(KvidfFolders, OnlyPruneRemovesAbsentFoldersAndSaysWhich) {
    TempWindowsDir dir;
    RunSteps(dir, {{{"folders", "add", "--path", dir.Path()}, 0, "#1"},
                   {{"folders", "add", "--path", dir.Path() + "/absent"}, 0, "#2"},
                   {{"users", "add", "--name", "u", "--password", "hidden"}, 0, "#1"},
                   {{"users", "list"}, 0, "password \"********\""},
                   {{"--show-passwords", "users", "list"}, 0, "password \"hidden\""},
                   {{"folders", "get", "2"}, 0, "/absent"},
                   {{"folders", "prune"}, 0, "removed #2  " + dir.Path() + "/absent"},
                   {{"folders", "get", "2"}, 6, "no folder entry #2"},
                   {{"folders", "get", "1"}, 0, "#1"}});
}

// A book another account cannot read is told as such, not as "not a book".
TEST(KvidfAccess, AnUnreadableBookIsNamedAsSuch) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run kvidf as another account";
    TempWindowsDir dir;
    RunSteps(dir, {{{"address", "add", "--name", "x", "--type", "modem"}, 0, "#1"}});
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    ASSERT_EQ(chmod((dir.Path() + "/KVI32").c_str(), 0755), 0);
    ASSERT_EQ(chmod(dir.BookPath("MERIDOX.PBK").c_str(), 0600), 0);
    const KvidfResult r =
        Kvidf(dir, {"address", "list"}, "", {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
    if (r.exit == 127) GTEST_SKIP() << "setpriv is missing";
    EXPECT_EQ(r.exit, 1) << r.err;
    EXPECT_TRUE(Has(r.err, "cannot read the address book")) << r.err;
    EXPECT_TRUE(Has(r.err, "Permission denied")) << r.err;
}

TEST(KvidfHelp, VersionAndExitTableOnceInTheMainHelp) {
    TempWindowsDir dir;
    const KvidfResult version = Kvidf(dir, {"--version"});
    EXPECT_EQ(version.exit, 0);
    EXPECT_TRUE(Has(version.out, "kvidf ") && Has(version.out, "KVIABDB library ")) << version.out;
    EXPECT_TRUE(Has(Kvidf(dir, {"--help"}).out, "Exit status"));
    const KvidfResult sub = Kvidf(dir, {"address", "add", "--help"});
    EXPECT_EQ(sub.exit, 0);
    EXPECT_FALSE(Has(sub.out, "Exit status")) << sub.out;
}

}  // namespace

#endif  // KVIDF_PATH
