// List kinds and handles: every export that copies items or changes a
// list refuses a handle of another kind; the shared count, valid-at and
// destroy functions take any list of the security book and refuse an
// address list. Across all kinds: an add never lands on an item an update
// put in, and a destroyed handle stays refused.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "security_book_fixture.h"
#include "storage/list_snapshot.h"

namespace kvi::test {
namespace {

class ListKinds : public BothBooksSession {
protected:
    void SetUp() override {
        BothBooksSession::SetUp();
        AddressRecord e = Zeroed<AddressRecord>();
        std::strcpy(e.name, "a");
        std::strcpy(e.address, "a");
        e.connectionType = 2;
        ASSERT_EQ(1, KviDfAddAddress(&e, 0, nullptr));
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
        BothBooksSession::TearDown();
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
}

// Destroying copies nothing, so each of the three security-book destroys
// frees a list of any of its kinds; the address list and the security-book
// lists stay out of each other's destroy.
TEST_F(ListKinds, AnySecurityBookDestroyFreesAnySecurityBookList) {
    // The exports' own pointer types: __stdcall on 32-bit Windows.
    using Create = decltype(&KviDfCreateSecurityList);
    using Destroy = decltype(&KviDfDestroySecurityList);
    const struct {
        const char* what;
        Create create;
    } kinds[] = {{"users", KviDfCreateSecurityList},
                 {"prefixes", KviDfCreatePrefixList},
                 {"suffixes", KviDfCreateSuffixList},
                 {"folders", CreateFolderSecurityList}};
    const struct {
        const char* what;
        Destroy destroy;
    } destroys[] = {{"DestroySecurityList", KviDfDestroySecurityList},
                    {"DestroyAffixList", KviDfDestroyAffixList},
                    {"DestroyFolderSecurityList", DestroyFolderSecurityList}};
    for (const auto& d : destroys) {
        for (const auto& k : kinds) {
            const KviListHandle h = k.create();
            ASSERT_EQ(1, KviDfSecurityListCount(h)) << k.what;
            d.destroy(h);
            EXPECT_EQ(0, KviDfSecurityListCount(h)) << d.what << " of " << k.what;
        }
        d.destroy(addresses_);
        EXPECT_EQ(1, KviDfAddressListCount(addresses_)) << d.what;
    }
    for (const auto& k : kinds) {
        const KviListHandle h = k.create();
        KviDfDestroyAddressList(h);
        EXPECT_EQ(1, KviDfSecurityListCount(h)) << k.what;
        KviDfDestroySecurityList(h);
    }
}

// An update through a list that fills a position emptied by a delete
// takes it off the stack of emptied positions, so the next add through
// the list does not land on the updated item. Only affix updates may fill
// an emptied position; the others find a blank item there and refuse.
TEST_F(ListKinds, AnAddDoesNotOverwriteWhatAnUpdateFilledIn) {
    struct Case {
        const char* what;
        KviListHandle list;
        std::function<uint32_t()> addToBook;             // a second entry, no list; its id
        std::function<int32_t()> deleteFirst;            // id 1 at index 0, through the list
        std::function<int32_t(uint32_t)> updateAtFirst;  // that id, through the list at index 0
        std::function<int32_t(uint32_t*)> addThrough;
        std::function<uint32_t(int32_t)> idAt;
        int32_t updated;
        uint32_t addedAt;
    };
    auto affixCase = [&](const char* what, KviListHandle list, bool prefix) {
        auto add = prefix ? KviDfAddPrefixEntry : KviDfAddSuffixEntry;
        auto update = prefix ? KviDfUpdatePrefix : KviDfUpdateSuffix;
        auto del = prefix ? KviDfDeletePrefixEntry : KviDfDeleteSuffixEntry;
        return Case{what,
                    list,
                    [=] {
                        AffixEntry e = Affix("second");
                        EXPECT_EQ(1, add(&e, 0, nullptr));
                        return static_cast<uint32_t>(e.id);
                    },
                    [=] { return del(1, list, 0, 0); },
                    [=](uint32_t id) {
                        AffixEntry e = Affix("second, updated");
                        e.id = id;
                        return update(&e, list, 0);
                    },
                    [=](uint32_t* index) {
                        AffixEntry e = Affix("third");
                        return add(&e, list, index);
                    },
                    [=](int32_t index) {
                        AffixEntry e = Zeroed<AffixEntry>();
                        return KviDfAffixListItem(list, index, &e) ? static_cast<uint32_t>(e.id) : 0u;
                    },
                    1,
                    1};
    };
    const KviListHandle users = users_, addresses = addresses_, folders = folders_;
    const Case cases[] = {
        affixCase("prefix", prefixes_, true),
        affixCase("suffix", suffixes_, false),
        {"user", users,
         [] {
             SecurityEntry e = User("second");
             EXPECT_EQ(1, KviDfAddSecurityEntry(&e, 0, nullptr));
             return static_cast<uint32_t>(e.id);
         },
         [=] { return KviDfDeleteSecurityEntry(1, users, 0); },
         [=](uint32_t id) {
             SecurityEntry e = User("second, updated");
             e.id = id;
             return KviDfUpdateSecurity(&e, users, 0);
         },
         [=](uint32_t* index) {
             SecurityEntry e = User("third");
             return KviDfAddSecurityEntry(&e, users, index);
         },
         [=](int32_t index) {
             SecurityEntry e = Zeroed<SecurityEntry>();
             return KviDfSecurityListItem(users, index, &e) ? static_cast<uint32_t>(e.id) : 0u;
         },
         0, 0},
        {"address", addresses,
         [] {
             AddressRecord e = Zeroed<AddressRecord>();
             std::strcpy(e.name, "second");
             std::strcpy(e.address, "second");
             e.connectionType = 2;
             EXPECT_EQ(1, KviDfAddAddress(&e, 0, nullptr));
             return static_cast<uint32_t>(e.id);
         },
         [=] { return KviDfDeleteAddress(1, addresses, 0); },
         [=](uint32_t id) {
             AddressRecord e = Zeroed<AddressRecord>();
             std::strcpy(e.name, "second, updated");
             e.id = id;
             return KviDfUpdateAddress(&e, addresses, 0);
         },
         [=](uint32_t* index) {
             AddressRecord e = Zeroed<AddressRecord>();
             std::strcpy(e.name, "third");
             std::strcpy(e.address, "third");
             e.connectionType = 2;
             return KviDfAddAddress(&e, addresses, index);
         },
         [=](int32_t index) {
             AddressRecord e = Zeroed<AddressRecord>();
             return KviDfAddressListItem(addresses, index, &e) ? static_cast<uint32_t>(e.id) : 0u;
         },
         0, 0},
        {"folder", folders,
         [] {
             FolderSecurityEntry e = Folder("");
             EXPECT_EQ(1, AddFolderSecurityEntry(&e, 0, nullptr));
             return static_cast<uint32_t>(e.id);
         },
         [=] { return DeleteFolderSecurityEntry(1, folders, 0); },
         [](uint32_t) { return 0; },  // folder entries have no update
         [=](uint32_t* index) {
             FolderSecurityEntry e = Folder("");
             return AddFolderSecurityEntry(&e, folders, index);
         },
         [=](int32_t index) {
             FolderSecurityEntry e = Zeroed<FolderSecurityEntry>();
             return FolderSecurityListItem(folders, index, &e) ? static_cast<uint32_t>(e.id) : 0u;
         },
         0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const uint32_t second = c.addToBook();
        c.deleteFirst();
        EXPECT_EQ(c.updated, c.updateAtFirst(second));
        uint32_t index = 99;
        ASSERT_EQ(1, c.addThrough(&index));
        EXPECT_EQ(c.addedAt, index);
        if (c.updated) {
            EXPECT_EQ(second, c.idAt(0));  // the update is still in the list
        }
        EXPECT_NE(0u, c.idAt(static_cast<int32_t>(index)));
        EXPECT_NE(kBlankId, c.idAt(static_cast<int32_t>(index)));
    }
}

// A destroyed handle stays refused while new lists are made: the holder
// behind it is not handed out again soon.
TEST_F(ListKinds, DestroyedHandlesDoNotComeBack) {
    const struct {
        const char* what;
        decltype(&KviDfCreateAddressList) create;
        decltype(&KviDfDestroyAddressList) destroy;
        decltype(&KviDfAddressListCount) count;
    } kinds[] = {
        {"address", KviDfCreateAddressList, KviDfDestroyAddressList, KviDfAddressListCount},
        {"users", KviDfCreateSecurityList, KviDfDestroySecurityList, KviDfSecurityListCount},
        {"prefixes", KviDfCreatePrefixList, KviDfDestroyAffixList, KviDfAffixListCount},
        {"suffixes", KviDfCreateSuffixList, KviDfDestroyAffixList, KviDfAffixListCount},
        {"folders", CreateFolderSecurityList, DestroyFolderSecurityList, FolderSecurityListCount},
    };
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.what);
        const KviListHandle stale = k.create();
        k.destroy(stale);
        for (int round = 0; round < 500; ++round) {
            const KviListHandle fresh = k.create();
            ASSERT_NE(stale, fresh);
            EXPECT_EQ(0, k.count(stale));
            k.destroy(stale);  // refused: the fresh list lives on
            EXPECT_EQ(1, k.count(fresh));
            k.destroy(fresh);
        }
    }
}

}  // namespace
}  // namespace kvi::test
