// The security book file: layout of a new book, directory arrangement,
// ids on load and commit, the commit paths, and hostile files.
#include <gtest/gtest.h>

#include "frame/process_state.h"
#include "kviabio.h"
#include "security/security_book_file.h"
#include "security_book_fixture.h"

namespace kvi::test {
namespace {

// A client that has not opened the book yet.
class SecurityFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(1, KviDfInitialize()); }
    void TearDown() override {
        while (KviDfUnlockSecurityBook() == 1) {
        }
        KviDfCloseSecurityBook();
        KviDfTerminate();
    }
    std::string BookPath() const { return dir_.BookPath("MERIDOX.PWD"); }
    int Open() { return KviDfOpenSecurityBook(nullptr); }
    int Lock() { return KviDfLockSecurityBook(locker_, 1000); }

    TempWindowsDir dir_;
    char locker_[16] = "tester";
};

TEST_F(SecurityFile, NewBookIs430BytesWithFiveSectionsInOrder) {
    ASSERT_EQ(1, Open());
    const std::string file = ReadFile(BookPath());
    ASSERT_EQ(430u, file.size());
    EXPECT_EQ("^*$%", file.substr(2, 4));
    EXPECT_EQ("^*%$", file.substr(6, 4));
    EXPECT_EQ(5, At<uint16_t>(file, 14));
    EXPECT_EQ(296u, At<uint32_t>(file, 18));
    EXPECT_EQ(134u, At<uint32_t>(file, 22));
    for (int i = 0; i < 5; ++i) {
        const DirEntry e = DirectoryEntry(file, i);
        EXPECT_EQ(i + 1, e.type);
        EXPECT_EQ(i == 0 ? 296u : 0u, e.length);
        EXPECT_EQ(i == 0 ? 1u : 0u, e.count);
        EXPECT_EQ(i == 0 ? 134u : 430u, e.offset);
    }
    EXPECT_EQ(RawGlobal(), file.substr(134));
    // A second open reads nothing.
    const uint32_t opens = KvioCallCount(KVIO_OP_OPEN);
    EXPECT_EQ(1, Open());
    EXPECT_EQ(opens, KvioCallCount(KVIO_OP_OPEN));
}

TEST_F(SecurityFile, MissingTypesAreAppendedUnknownSurvivesAndOrderIsRestored) {
    // Users first, an unknown type 9 in the middle, prefixes last; no
    // global, suffix or folder section.
    WriteFile(BookPath(), RawSecurityBook({{4, PackedUser(5, "ann", "a"), 1, 5},
                                           {9, "junk", 1, 0},
                                           {2, PackedAffix(3, "line", "9,"), 1, 3}}));
    ASSERT_EQ(1, Open());
    ASSERT_EQ(1, Lock());
    ASSERT_EQ(1, KviDfCommitSecurityBook(1));
    const std::string file = ReadFile(BookPath());
    ASSERT_EQ(6, At<uint16_t>(file, 14));  // three found, three appended
    for (int i = 0; i < 5; ++i) EXPECT_EQ(i + 1, DirectoryEntry(file, i).type) << i;
    const DirEntry unknown = DirectoryEntry(file, 5);
    EXPECT_EQ(9, unknown.type);
    EXPECT_EQ(0u, unknown.length);  // kept, emptied, never read
    EXPECT_EQ(file.size(), 44 + 18 * 6 + At<uint32_t>(file, 18));

    KviDfCloseSecurityBook();
    ASSERT_EQ(1, Open());
    SecurityEntry u = Zeroed<SecurityEntry>();
    u.id = 5;
    EXPECT_EQ(1, KviDfGetSecurity(&u));
    EXPECT_STREQ("ann", u.name);
    AffixEntry p = Zeroed<AffixEntry>();
    p.id = 3;
    EXPECT_EQ(1, KviDfGetPrefix(&p));
    EXPECT_STREQ("line", p.name);
}

// Looks the entry with this id up through get; its name into name.
template <typename Entry, int32_t(KVI_API* Get)(Entry*)>
int GetName(uint32_t id, char* name) {
    Entry e = Zeroed<Entry>();
    e.id = id;
    const int r = Get(&e);
    std::strcpy(name, e.name);
    return r;
}

TEST_F(SecurityFile, SectionsWithLastIdZeroAreNumberedInFileOrder) {
    WriteFile(BookPath(), RawSecurityBook({{1, RawGlobal(), 1, 0},
                                           {2, PackedAffix(70, "a", "") + PackedAffix(70, "b", ""), 2, 0},
                                           {3, PackedAffix(40, "s", ""), 1, 40},
                                           {4, PackedUser(9, "x", "") + PackedUser(9, "y", ""), 2, 0},
                                           {5, PackedFolder(0, "") + PackedFolder(0, ""), 2, 0}}));
    ASSERT_EQ(1, Open());
    struct Case {
        int (*get)(uint32_t id, char* name);
        uint32_t id;
        const char* name;
    };
    auto* prefix = GetName<AffixEntry, KviDfGetPrefix>;
    auto* suffix = GetName<AffixEntry, KviDfGetSuffix>;
    auto* user = GetName<SecurityEntry, KviDfGetSecurity>;
    const Case cases[] = {{prefix, 1, "a"}, {prefix, 2, "b"}, {suffix, 40, "s"}, {user, 1, "x"}, {user, 2, "y"}};
    for (const Case& c : cases) {
        char name[40] = "";
        EXPECT_EQ(1, c.get(c.id, name)) << c.name;
        EXPECT_STREQ(c.name, name);
    }
    FolderSecurityEntry f = Zeroed<FolderSecurityEntry>();
    f.id = 2;
    EXPECT_EQ(1, GetFolderSecurity(&f));

    // The next ids follow the numbering.
    ASSERT_EQ(1, Lock());
    AffixEntry a = Affix("c");
    EXPECT_EQ(1, KviDfAddPrefixEntry(&a, 0, nullptr));
    EXPECT_EQ(3u, a.id);
    SecurityEntry z = User("z");
    EXPECT_EQ(1, KviDfAddSecurityEntry(&z, 0, nullptr));
    EXPECT_EQ(3u, z.id);
}

TEST_F(SecurityFile, FolderLastIdFollowsTheLastRecordWritten) {
    ASSERT_EQ(1, Open());
    ASSERT_EQ(1, Lock());
    uint32_t ids[3];
    for (uint32_t& id : ids) {
        FolderSecurityEntry f = Folder("");
        ASSERT_EQ(1, AddFolderSecurityEntry(&f, 0, nullptr));
        id = f.id;
    }
    EXPECT_EQ(3u, ids[2]);
    ASSERT_EQ(1, DeleteFolderSecurityEntry(ids[2], 0, 0));
    ASSERT_EQ(1, KviDfCommitSecurityBook(0));
    EXPECT_EQ(2u, DirectoryEntry(ReadFile(BookPath()), 4).lastId);
    // The deleted id comes back; user ids do not.
    FolderSecurityEntry f = Folder("");
    ASSERT_EQ(1, AddFolderSecurityEntry(&f, 0, nullptr));
    EXPECT_EQ(3u, f.id);

    // An emptied folder section keeps its lastId.
    for (uint32_t id = 1; id <= 3; ++id) ASSERT_EQ(1, DeleteFolderSecurityEntry(id, 0, 0));
    ASSERT_EQ(1, KviDfCommitSecurityBook(0));
    EXPECT_EQ(3u, DirectoryEntry(ReadFile(BookPath()), 4).lastId);
}

TEST_F(SecurityFile, EveryUnlockCommitsAndOnlyTheOutermostReleases) {
    ASSERT_EQ(1, Open());
    ASSERT_EQ(1, Lock());
    ASSERT_EQ(1, Lock());
    ASSERT_EQ(1, Lock());
    for (int level = 3; level >= 1; --level) {
        SecurityEntry u = User(("u" + std::to_string(level)).c_str());
        ASSERT_EQ(1, KviDfAddSecurityEntry(&u, 0, nullptr));
        ASSERT_EQ(1, KviDfUnlockSecurityBook());
        // The file holds every user added so far.
        const std::string file = ReadFile(BookPath());
        EXPECT_EQ(static_cast<uint32_t>(4 - level), DirectoryEntry(file, 3).count) << level;
    }
    EXPECT_EQ(0, KviDfUnlockSecurityBook());
    SecurityEntry late = User("late");
    EXPECT_EQ(0, KviDfAddSecurityEntry(&late, 0, nullptr));  // the lock is gone
}

TEST_F(SecurityFile, CommitWithoutChangeMakesNoFileCall) {
    ASSERT_EQ(1, Open());
    ASSERT_EQ(1, Lock());
    const uint32_t opens = KvioCallCount(KVIO_OP_OPEN);
    const uint32_t creates = KvioCallCount(KVIO_OP_CREATE_TEMPORARY);
    EXPECT_EQ(1, KviDfCommitSecurityBook(0));
    EXPECT_EQ(1, KviDfUnlockSecurityBook());  // its commit too
    EXPECT_EQ(opens, KvioCallCount(KVIO_OP_OPEN));
    EXPECT_EQ(creates, KvioCallCount(KVIO_OP_CREATE_TEMPORARY));
    // Without the lock the commit is refused.
    EXPECT_EQ(0, KviDfCommitSecurityBook(1));
}

TEST_F(SecurityFile, AllSectionsSurviveACommitAndTheSizeWordIsThePackedLength) {
    ASSERT_EQ(1, Open());
    ASSERT_EQ(1, Lock());
    AffixEntry p = Affix("Line 9", "9,");
    AffixEntry s = Affix("Card", "#123");
    SecurityEntry u = User("alice", "secret");
    std::strcpy(u.extraText, "note");
    FolderSecurityEntry f = Folder("C:\\DATA");
    ASSERT_EQ(1, KviDfAddPrefixEntry(&p, 0, nullptr));
    ASSERT_EQ(1, KviDfAddSuffixEntry(&s, 0, nullptr));
    ASSERT_EQ(1, KviDfAddSecurityEntry(&u, 0, nullptr));
    ASSERT_EQ(1, AddFolderSecurityEntry(&f, 0, nullptr));
    ASSERT_EQ(1, KviDfCommitSecurityBook(0));
    const std::string file = ReadFile(BookPath());
    EXPECT_EQ(file.size(), 134 + At<uint32_t>(file, 18));
    EXPECT_EQ(PackedAffix(1, "Line 9", "9,"), file.substr(DirectoryEntry(file, 1).offset, DirectoryEntry(file, 1).length));
    EXPECT_EQ(PackedFolder(1, "C:\\DATA"), file.substr(DirectoryEntry(file, 4).offset));

    KviDfCloseSecurityBook();
    ASSERT_EQ(1, Open());
    AffixEntry got = Zeroed<AffixEntry>();
    got.id = 1;
    ASSERT_EQ(1, KviDfGetPrefix(&got));
    EXPECT_EQ(8u + 7 + 3, got.size);
    EXPECT_STREQ("9,", got.affixText);
    SecurityEntry gu = Zeroed<SecurityEntry>();
    gu.id = 1;
    ASSERT_EQ(1, KviDfGetSecurity(&gu));
    EXPECT_STREQ("secret", gu.password);
    EXPECT_STREQ("note", gu.extraText);
    EXPECT_EQ(11u, gu.extraValue);
}

TEST_F(SecurityFile, GlobalSectionShorterOrLongerThan296) {
    std::string shortGlobal = RawGlobal(3).substr(0, 8);  // size and mode only
    WriteFile(BookPath(), RawSecurityBook({{1, shortGlobal, 1, 0}}));
    ASSERT_EQ(1, Open());
    GlobalSecurity g = Zeroed<GlobalSecurity>();
    ASSERT_EQ(1, KviDfGetGlobalSecurity(&g));
    EXPECT_EQ(3u, g.mode);
    EXPECT_EQ(0x0032C00Bu, g.flags);  // the rest stays at the defaults
    EXPECT_EQ(18, g.extraWord1);
    KviDfCloseSecurityBook();

    WriteFile(BookPath(), RawSecurityBook({{1, RawGlobal(2) + "tail", 1, 0}}));
    ASSERT_EQ(1, Open());
    ASSERT_EQ(1, KviDfGetGlobalSecurity(&g));
    EXPECT_EQ(2u, g.mode);
    EXPECT_EQ(296u, g.size);
}

// Each file is refused by the open, which reads nothing outside it and
// leaves it as it was.
TEST_F(SecurityFile, HostileFilesAreRefusedAndKept) {
    auto withUsers = [](const std::string& bytes, uint32_t count) {
        return RawSecurityBook({{1, RawGlobal(), 1, 0}, {4, bytes, count, 1}});
    };
    std::string longName = PackedUser(1, std::string(25, 'n'), "p");  // name runs past its field
    std::string noNul = Packed(1, "abc");                              // text without its NUL
    std::string shortLength = PackedUser(1, "a", "b");
    shortLength.replace(0, 4, Bytes(uint32_t{7}));
    std::string tooLong = PackedUser(1, "a", "b");
    tooLong.replace(0, 4, Bytes(uint32_t{113}));
    std::string pastSection = PackedUser(1, "a", "b");
    pastSection.replace(0, 4, Bytes(uint32_t{60}));
    std::string halfValue = Packed(1, std::string("a\0b\0", 4) + "xy");  // u32 cut short
    std::string badFolder = Packed(1, Bytes(uint32_t{1}) + Bytes(uint16_t{2}) + std::string(262, 'p'));
    std::string offsetPast = RawSecurityBook({{1, RawGlobal(), 1, 0}, {4, PackedUser(1, "a", ""), 1, 1}});
    offsetPast.replace(44 + 18 + 10, 4, Bytes(uint32_t{100000}));
    std::string lengthWraps = offsetPast;
    lengthWraps.replace(44 + 18 + 2, 4, Bytes(uint32_t{0xFFFFFFF0u}));
    std::string wrongTag = withUsers("", 0);
    wrongTag.replace(6, 4, "^*($");
    std::string countNoBytes = RawSecurityBook({{1, RawGlobal(), 1, 0}, {2, "", 3, 0}});
    std::string globalPast = RawSecurityBook({{1, RawGlobal(), 1, 0}});
    globalPast.replace(44 + 10, 4, Bytes(uint32_t{5000}));

    const struct {
        const char* what;
        std::string file;
    } cases[] = {
        {"name past its field", withUsers(longName, 1)},
        {"text without NUL", withUsers(noNul, 1)},
        {"length below 8", withUsers(shortLength, 1)},
        {"length above the maximum", withUsers(tooLong + std::string(120, '\0'), 1)},
        {"length past the section", withUsers(pastSection, 1)},
        {"value cut short", withUsers(halfValue, 1)},
        {"count past the bytes", withUsers(PackedUser(1, "a", ""), 2)},
        {"folder path without NUL", RawSecurityBook({{1, RawGlobal(), 1, 0}, {5, badFolder, 1, 1}})},
        {"offset past the file", offsetPast},
        {"length wrapping around", lengthWraps},
        {"another book's tag", wrongTag},
        {"count without bytes", countNoBytes},
        {"global section past the file", globalPast},
        {"header cut short", std::string("\x2c\0^*$%^*%$DF10", 14)},
    };
    for (const auto& c : cases) {
        WriteFile(BookPath(), c.file);
        EXPECT_EQ(0, Open()) << c.what;
        EXPECT_EQ(0, KviDfGetGlobalSecurity(nullptr)) << c.what;
        EXPECT_EQ(c.file, ReadFile(BookPath())) << c.what;
        // The unlock's commit of the failed object leaves the file alone.
        ASSERT_EQ(1, Lock());
        const uint32_t creates = KvioCallCount(KVIO_OP_CREATE_TEMPORARY);
        const uint32_t opens = KvioCallCount(KVIO_OP_OPEN);
        EXPECT_EQ(1, KviDfUnlockSecurityBook());
        EXPECT_EQ(creates, KvioCallCount(KVIO_OP_CREATE_TEMPORARY)) << c.what;
        EXPECT_EQ(opens, KvioCallCount(KVIO_OP_OPEN)) << c.what;
        EXPECT_EQ(c.file, ReadFile(BookPath())) << c.what;
    }
}

TEST_F(SecurityFile, AFailedFirstCommitLeavesNoFile) {
    KvioInjectFault(KVIO_OP_PLACE, 1, 1);
    EXPECT_EQ(0, Open());
    KvioInjectFault(0, 0, 0);
    EXPECT_FALSE(FileExists(BookPath()));
    // The object stays and the next open tries again.
    EXPECT_EQ(1, Open());
    EXPECT_EQ(430u, ReadFile(BookPath()).size());
}

// The exports always mark the book modified with the global record, so
// the in-place path is reached through the book object here.
TEST_F(SecurityFile, AChangedGlobalRecordAloneIsWrittenInPlaceOnlyWhereItsSectionIs) {
    const std::string prefixes = PackedAffix(1, "keep", "9,");
    const struct {
        const char* what;
        std::string file;
        bool inPlace;
    } cases[] = {
        {"global section after the directory", RawSecurityBook({{1, RawGlobal(), 1, 0}, {2, prefixes, 1, 1},
                                                                 {3, "", 0, 0}, {4, "", 0, 0}, {5, "", 0, 0}}),
         true},
        // Writing 296 bytes after the directory would land on the prefixes.
        {"no global section", RawSecurityBook({{1, "", 0, 0}, {2, prefixes, 1, 1}, {3, "", 0, 0},
                                               {4, "", 0, 0}, {5, "", 0, 0}}),
         false},
    };
    for (const auto& c : cases) {
        WriteFile(BookPath(), c.file);
        KviDfCloseSecurityBook();
        ASSERT_EQ(1, Open()) << c.what;
        SecurityBookFile* book = Process().securityBook;
        book->Global()->mode = 2;
        book->SetGlobalChanged();
        const uint32_t replaces = KvioCallCount(KVIO_OP_REPLACE);
        ASSERT_EQ(1, book->Commit(0)) << c.what;
        EXPECT_EQ(c.inPlace ? replaces : replaces + 1, KvioCallCount(KVIO_OP_REPLACE)) << c.what;
        EXPECT_FALSE(book->GlobalChanged());
        KviDfCloseSecurityBook();
        ASSERT_EQ(1, Open());
        GlobalSecurity g = Zeroed<GlobalSecurity>();
        ASSERT_EQ(1, KviDfGetGlobalSecurity(&g));
        EXPECT_EQ(2u, g.mode) << c.what;
        AffixEntry p = Zeroed<AffixEntry>();
        p.id = 1;
        ASSERT_EQ(1, KviDfGetPrefix(&p)) << c.what;
        EXPECT_STREQ("keep", p.name);
    }
}

}  // namespace
}  // namespace kvi::test
