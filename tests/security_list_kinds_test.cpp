// List kinds: every export that copies items or changes a list refuses a
// handle of another kind; the shared count and valid-at functions take
// any list of the security book and refuse an address list.
#include <gtest/gtest.h>

#include "security_book_fixture.h"

namespace kvi::test {
namespace {

class ListKinds : public SecuritySession {
protected:
    void SetUp() override {
        SecuritySession::SetUp();
        ASSERT_EQ(1, KviDfOpenAddressBook(0));
        SecurityEntry u = User("u");
        AffixEntry p = Affix("p"), s = Affix("s");
        FolderSecurityEntry f = Folder("");
        ASSERT_EQ(1, KviDfAddSecurityEntry(&u, 0, nullptr));
        ASSERT_EQ(1, KviDfAddPrefixEntry(&p, 0, nullptr));
        ASSERT_EQ(1, KviDfAddSuffixEntry(&s, 0, nullptr));
        ASSERT_EQ(1, AddFolderSecurityEntry(&f, 0, nullptr));
        users_ = KviDfCreateSecurityList();
        prefixes_ = KviDfCreatePrefixList();
        suffixes_ = KviDfCreateSuffixList();
        folders_ = CreateFolderSecurityList();
        addresses_ = KviDfCreateAddressList();
        ASSERT_TRUE(users_ && prefixes_ && suffixes_ && folders_ && addresses_);
    }
    void TearDown() override {
        KviDfDestroySecurityList(users_);
        KviDfDestroyAffixList(prefixes_);
        KviDfDestroyAffixList(suffixes_);
        DestroyFolderSecurityList(folders_);
        KviDfDestroyAddressList(addresses_);
        KviDfCloseAddressBook();
        SecuritySession::TearDown();
    }
    KviListHandle users_ = 0, prefixes_ = 0, suffixes_ = 0, folders_ = 0, addresses_ = 0;
};

TEST_F(ListKinds, SharedCountAndValidAtTakeTheThreeKinds) {
    for (KviListHandle h : {users_, prefixes_, suffixes_, folders_}) {
        EXPECT_EQ(1, KviDfSecurityListCount(h));
        EXPECT_EQ(1, KviDfAffixListCount(h));
        EXPECT_EQ(1, FolderSecurityListCount(h));
        EXPECT_EQ(1, KviDfSecurityListValidAt(h, 0));
        EXPECT_EQ(1, KviDfAffixListValidAt(h, 0));
        EXPECT_EQ(1, FolderSecurityListValidAt(h, 0));
    }
    EXPECT_EQ(0, KviDfSecurityListCount(addresses_));
    EXPECT_EQ(0, KviDfAffixListValidAt(addresses_, 0));
    EXPECT_EQ(0, FolderSecurityListCount(0));
    EXPECT_EQ(0, KviDfSecurityListCount(~static_cast<KviListHandle>(0)));
}

TEST_F(ListKinds, ItemsAndChangesRefuseAnotherKind) {
    // Large enough for any item, so a wrong copy would show as a result
    // of 1 rather than as memory damage.
    union {
        SecurityEntry user;
        AffixEntry affix;
        FolderSecurityEntry folder;
        uint8_t bytes[512];
    } buf;
    std::memset(&buf, 0, sizeof buf);
    uint32_t index = 0;
    SecurityEntry u = User("new");
    AffixEntry a = Affix("new");
    FolderSecurityEntry f = Folder("");
    for (KviListHandle other : {prefixes_, folders_, addresses_}) {
        EXPECT_EQ(0, KviDfSecurityListItem(other, 0, &buf.user));
        EXPECT_EQ(0, KviDfAddSecurityEntry(&u, other, &index));
        u.id = 1;
        EXPECT_EQ(0, KviDfUpdateSecurity(&u, other, 0));
        EXPECT_EQ(0, KviDfDeleteSecurityEntry(1, other, 0));
    }
    for (KviListHandle other : {users_, folders_, addresses_}) {
        EXPECT_EQ(0, KviDfAffixListItem(other, 0, &buf.affix));
        EXPECT_EQ(-1, KviDfAffixListIndexOf(other, 1));
    }
    for (KviListHandle other : {users_, suffixes_, folders_, addresses_}) {
        EXPECT_EQ(0, KviDfAddPrefixEntry(&a, other, &index));
        a.id = 1;
        EXPECT_EQ(0, KviDfUpdatePrefix(&a, other, 0));
        EXPECT_EQ(0, KviDfDeletePrefixEntry(1, other, 0, 1));
    }
    for (KviListHandle other : {users_, prefixes_, addresses_}) {
        EXPECT_EQ(0, FolderSecurityListItem(other, 0, &buf.folder));
        EXPECT_EQ(0, AddFolderSecurityEntry(&f, other, &index));
        EXPECT_EQ(0, DeleteFolderSecurityEntry(1, other, 0));
    }
    // Nothing reached the book or the lists.
    for (KviListHandle h : {users_, prefixes_, suffixes_, folders_}) EXPECT_EQ(1, KviDfSecurityListValidAt(h, 0));
    SecurityEntry got = Zeroed<SecurityEntry>();
    got.id = 1;
    EXPECT_EQ(1, KviDfGetSecurity(&got));
    EXPECT_STREQ("u", got.name);
    EXPECT_EQ(-1, KviDfAffixListIndexOf(suffixes_, 2));
    EXPECT_EQ(0, KviDfAffixListIndexOf(suffixes_, 1));
    // A destroy of another kind leaves the list alive.
    KviDfDestroySecurityList(prefixes_);
    DestroyFolderSecurityList(users_);
    EXPECT_EQ(1, KviDfAffixListCount(prefixes_));
    EXPECT_EQ(1, KviDfAffixListCount(users_));
}

}  // namespace
}  // namespace kvi::test
