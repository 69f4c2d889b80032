// The one-time import of the earlier generation's security file into a
// newly created security book. Fixtures are built byte by byte.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "kviabdb.h"
#include "kviabio.h"
#include "support/test_support.h"

namespace {

using kvi::test::FileExists;
using kvi::test::TempWindowsDir;
using kvi::test::WriteFile;

std::string I32(int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

std::string OldUser(const std::string& name, const std::string& password = "pw") {
    std::string r(40, '\0');
    r.replace(0, std::min<size_t>(name.size(), 21), name.substr(0, 21));
    r.replace(21, std::min<size_t>(password.size(), 19), password.substr(0, 19));
    return r;
}

// count INT32_MIN: the number of users given.
std::string OldFile(int32_t mode, const std::vector<std::string>& users, int32_t count = INT32_MIN,
                    int32_t first = 0) {
    std::string f = I32(first) + I32(mode) + I32(count != INT32_MIN ? count : static_cast<int32_t>(users.size())) +
                    std::string(10, '\0');
    for (const auto& u : users) f += u;
    return f;
}

struct Imported {
    uint32_t mode = 0;
    std::vector<SecurityEntry> users;
};

class LegacySecurityImport : public ::testing::Test {
protected:
    void SetUp() override { KviDfInitialize(); }
    void TearDown() override {
        KviDfCloseSecurityBook();
        KviDfTerminate();
    }

    // A new machine with this old file; opens (creates) the security book.
    Imported Import(const std::string& oldFile, bool* oldFileStays = nullptr, bool* opened = nullptr) {
        TempWindowsDir dir;
        std::filesystem::create_directory(dir.Path() + "/KVI");
        const std::string old = dir.Path() + "/KVI/KVI.DA2";
        WriteFile(old, oldFile);
        Imported out;
        KviDfCloseSecurityBook();
        const bool open = KviDfOpenSecurityBook(nullptr) == 1;
        if (opened) {
            *opened = open;
        } else {
            EXPECT_TRUE(open);
        }
        if (oldFileStays) *oldFileStays = FileExists(old);
        if (!open) return out;
        GlobalSecurity g;
        EXPECT_EQ(KviDfGetGlobalSecurity(&g), 1);
        out.mode = g.mode;
        KviListHandle list = KviDfCreateSecurityList();
        for (int32_t i = 0; i < KviDfSecurityListCount(list); ++i) {
            SecurityEntry e;
            KviDfSecurityListItem(list, i, &e);
            out.users.push_back(e);
        }
        KviDfDestroySecurityList(list);
        EXPECT_TRUE(FileExists(dir.BookPath("MERIDOX.PWD")));
        KviDfCloseSecurityBook();
        return out;
    }

    TempWindowsDir home_;
};

TEST_F(LegacySecurityImport, SkipsTheDefaultUserInEveryLanguage) {
    const std::string defaults[] = {
        "Default User", "Standard-Benutzer", "Nom par d\202faut",  // é is 0x82 in code page 850
        "Usuario por defecto", "Utente predefinito", "Default", "",  // prefixes count too
        "Default User  ",  // trailing blanks of the padded name
    };
    for (const std::string& d : defaults) {
        SCOPED_TRACE(d);
        bool stays = true;
        const Imported r = Import(OldFile(2, {OldUser(d), OldUser("Anna", "a1"), OldUser("Bert", "b2")}), &stays);
        ASSERT_EQ(r.users.size(), 2u);
        EXPECT_STREQ(r.users[0].name, "Anna");
        EXPECT_STREQ(r.users[0].password, "a1");
        EXPECT_STREQ(r.users[1].name, "Bert");
        // The default user's record used up no id: it is skipped before.
        EXPECT_EQ(r.users[0].id, 1u);
        EXPECT_EQ(r.users[1].id, 2u);
        for (const auto& u : r.users) {
            EXPECT_EQ(u.extraValue, 11u);
            EXPECT_EQ(u.extraWord, 1u);
            EXPECT_STREQ(u.extraText, "");
        }
        EXPECT_FALSE(stays);
    }
}

TEST_F(LegacySecurityImport, NearMissesOfTheDefaultNameAreUsers) {
    const Imported r = Import(OldFile(0, {OldUser("default user"), OldUser("Default Users")}));
    ASSERT_EQ(r.users.size(), 2u);
    EXPECT_STREQ(r.users[0].name, "default user");
    EXPECT_STREQ(r.users[1].name, "Default Users");
}

TEST_F(LegacySecurityImport, ADuplicateNameIsDroppedButUsesUpItsId) {
    const Imported r = Import(OldFile(0, {OldUser("carla"), OldUser("CARLA  "), OldUser("dora")}));
    ASSERT_EQ(r.users.size(), 2u);
    EXPECT_STREQ(r.users[0].name, "carla");
    EXPECT_EQ(r.users[0].id, 1u);
    EXPECT_STREQ(r.users[1].name, "dora");
    EXPECT_EQ(r.users[1].id, 3u);
}

TEST_F(LegacySecurityImport, ConvertsAndCutsTexts) {
    // A 21-byte name without its terminator and a 19-byte password.
    const Imported r = Import(OldFile(0, {OldUser(std::string(21, 'N'), std::string(19, 'p')),
                                          OldUser("J\x94rg", "\x81")}));  // ö, ü in code page 850
    ASSERT_EQ(r.users.size(), 2u);
    EXPECT_EQ(std::string(r.users[0].name), std::string(20, 'N'));
    EXPECT_EQ(std::string(r.users[0].password), std::string(10, 'p'));
    EXPECT_STREQ(r.users[1].name, "J\xF6rg");
    EXPECT_STREQ(r.users[1].password, "\xFC");
}

TEST_F(LegacySecurityImport, ModeIsMappedEvenWhenTheHeaderIsRefused) {
    struct Case {
        int32_t oldMode;
        uint32_t mode;
    };
    for (const Case c : {Case{1, 3}, Case{3, 2}, Case{2, 1}, Case{0, 1}, Case{7, 1}}) {
        SCOPED_TRACE(c.oldMode);
        EXPECT_EQ(Import(OldFile(c.oldMode, {OldUser("u")})).mode, c.mode);
    }
    // Negative count, first value or mode: no users, the old file stays,
    // but the mode was taken over first.
    struct Refused {
        const char* what;
        std::string file;
        uint32_t mode;
    };
    const Refused refused[] = {
        {"negative count", OldFile(1, {OldUser("u")}, -1 - 0x10000), 3},
        {"negative first value", OldFile(3, {OldUser("u")}, 1, -5), 2},
        {"negative mode", OldFile(-1, {OldUser("u")}), 1},
    };
    for (const Refused& c : refused) {
        SCOPED_TRACE(c.what);
        bool stays = false;
        const Imported r = Import(c.file, &stays);
        EXPECT_EQ(r.mode, c.mode);
        EXPECT_TRUE(r.users.empty());
        EXPECT_TRUE(stays);
    }
}

TEST_F(LegacySecurityImport, AnIncompleteReadKeepsTheUsersBeforeItAndTheOldFile) {
    const std::string full = OldFile(0, {OldUser("eva"), OldUser("finn"), OldUser("gus")});
    for (const std::string& file : {OldFile(0, {OldUser("eva"), OldUser("finn")}, 5),  // count beyond the data
                                    full.substr(0, full.size() - 10)}) {               // last record cut short
        bool stays = false;
        const Imported r = Import(file, &stays);
        ASSERT_EQ(r.users.size(), 2u);
        EXPECT_STREQ(r.users[1].name, "finn");
        EXPECT_TRUE(stays);
    }
}

TEST_F(LegacySecurityImport, AReadErrorAtAnyPointNeverLosesAnOldUser) {
    const std::string file = OldFile(0, {OldUser("eva"), OldUser("finn"), OldUser("gus")});
    const uint32_t before = KvioCallCount(KVIO_OP_READ);
    ASSERT_EQ(Import(file).users.size(), 3u);
    const uint32_t reads = KvioCallCount(KVIO_OP_READ) - before;
    bool sawPartial = false;
    // Fail each read of the open in turn.
    for (uint32_t nth = 1; nth <= reads; ++nth) {
        SCOPED_TRACE(nth);
        KvioInjectFault(KVIO_OP_READ, nth, 1);
        bool stays = false, opened = false;
        const Imported r = Import(file, &stays, &opened);
        KvioInjectFault(KVIO_OP_NONE, 0, 0);
        // The old file goes only with every user taken over.
        if (!stays) {
            EXPECT_EQ(r.users.size(), 3u);
        }
        if (opened && stays && r.users.size() == 2) sawPartial = true;
    }
    EXPECT_TRUE(sawPartial);  // the error on the third record keeps eva and finn
}

}  // namespace
