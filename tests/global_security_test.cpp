// Global security: defaults, replacement, and the password change that
// reaches the headers of both books.
#include <gtest/gtest.h>

#include "security_book_fixture.h"

namespace kvi::test {
namespace {

class GlobalSecurityTest : public SecuritySession {
protected:
    void SetUp() override {
        SecuritySession::SetUp();
        ASSERT_EQ(1, KviDfOpenAddressBook(0));
    }
    void TearDown() override {
        KviDfCloseAddressBook();
        SecuritySession::TearDown();
    }
    GlobalSecurity Current() {
        GlobalSecurity g = Zeroed<GlobalSecurity>();
        EXPECT_EQ(1, KviDfGetGlobalSecurity(&g));
        return g;
    }
    int SetPassword(const char* password, bool on) {
        GlobalSecurity g = Current();
        std::memset(g.password, 0, sizeof g.password);
        std::strncpy(g.password, password, sizeof g.password - 1);
        g.flags = on ? (g.flags | 0x200u) : (g.flags & ~0x200u);
        return KviDfSetGlobalSecurity(&g);
    }
    // The password and flag in a book file's header.
    static std::pair<std::string, uint16_t> HeaderPassword(const std::string& path) {
        const std::string file = ReadFile(path);
        return {std::string(file.c_str() + 26), At<uint16_t>(file, 42)};
    }
    std::string AddressPath() const { return dir_.BookPath("MERIDOX.PBK"); }
};

TEST_F(GlobalSecurityTest, ANewBookHasTheDefaults) {
    const GlobalSecurity g = Current();
    EXPECT_EQ(296u, g.size);
    EXPECT_EQ(1u, g.mode);
    EXPECT_EQ(0x0032C00Bu, g.flags);
    EXPECT_EQ('\0', g.password[0]);
    EXPECT_EQ(18, g.extraWord1);
    EXPECT_EQ(1, g.extraWord2);
    EXPECT_EQ(0, KviDfGetGlobalSecurity(nullptr));
}

TEST_F(GlobalSecurityTest, APasswordChangeReachesBothHeaders) {
    ASSERT_EQ(1, SetPassword("first", true));
    for (const std::string& path : {BookPath(), AddressPath()}) {
        EXPECT_EQ("first", HeaderPassword(path).first) << path;
        EXPECT_EQ(1, HeaderPassword(path).second) << path;
    }
    // The old password passed is the record's, so protection allows it.
    ASSERT_EQ(1, SetPassword("SECOND-one-that-is-too-long", true));
    for (const std::string& path : {BookPath(), AddressPath()}) {
        EXPECT_EQ("SECOND-one-that", HeaderPassword(path).first) << path;  // cut to 15
    }
    EXPECT_EQ("SECOND-one-that-is-too-long", std::string(Current().password));
    char pw[16];
    uint32_t flag = 0;
    ASSERT_EQ(1, KviDfAddressBookPasswd(pw, &flag));
    EXPECT_STREQ("SECOND-one-that", pw);
    EXPECT_EQ(1u, flag);
}

TEST_F(GlobalSecurityTest, ARefusedPasswordChangeStillReplacesTheRecord) {
    // The address book's own password differs from the record's.
    char own[16] = "own", none[1] = "";
    ASSERT_EQ(1, KviDfLockAddressBook(locker_));
    ASSERT_EQ(1, KviDfAddressBookSetPasswd(own, 1, none));
    ASSERT_EQ(1, SetPassword("shared", true));
    EXPECT_EQ("own", HeaderPassword(AddressPath()).first);
    EXPECT_EQ("shared", HeaderPassword(BookPath()).first);
    EXPECT_EQ("shared", std::string(Current().password));
    KviDfUnlockAddressBook();
}

TEST_F(GlobalSecurityTest, ReplacementNeedsTheLockAndKeepsTheCallersSizeUntilReopened) {
    GlobalSecurity g = Current();
    g.size = 7;
    g.mode = 3;
    g.reserved[2] = 0x5A;
    ASSERT_EQ(1, KviDfUnlockSecurityBook());
    EXPECT_EQ(0, KviDfSetGlobalSecurity(&g));
    EXPECT_EQ(1u, Current().mode);
    ASSERT_EQ(1, KviDfLockSecurityBook(locker_, 1000));
    EXPECT_EQ(0, KviDfSetGlobalSecurity(nullptr));
    ASSERT_EQ(1, KviDfSetGlobalSecurity(&g));
    EXPECT_EQ(7u, Current().size);
    CommitAndReopen();
    const GlobalSecurity back = Current();
    EXPECT_EQ(296u, back.size);
    EXPECT_EQ(3u, back.mode);
    EXPECT_EQ(0x5A, back.reserved[2]);
}

}  // namespace
}  // namespace kvi::test
