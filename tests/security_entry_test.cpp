// Users: the name rule, the 800 limit, lookups, text bounds and the
// security list with its handle-taking changes.
#include <gtest/gtest.h>

#include "security_book_fixture.h"

namespace kvi::test {
namespace {

using SecurityUsers = SecuritySession;

uint32_t AddUser(const char* name) {
    SecurityEntry u = User(name);
    EXPECT_EQ(1, KviDfAddSecurityEntry(&u, 0, nullptr)) << name;
    return u.id;
}

TEST_F(SecurityUsers, NameRuleOnAddAndUpdate) {
    const uint32_t bob = AddUser("bob  ");
    const struct {
        const char* name;
        int32_t add;
    } adds[] = {{"Bob", 3}, {"BOB   ", 3}, {"bob", 3}, {" bob", 1}, {"bobby", 1}};
    for (const auto& c : adds) {
        SecurityEntry u = User(c.name);
        u.id = 77;  // the caller's id is ignored
        EXPECT_EQ(c.add, KviDfAddSecurityEntry(&u, 0, nullptr)) << c.name;
        EXPECT_EQ(c.add == 1 ? u.id : 0u, u.id);
        EXPECT_NE(77u, u.id);
    }
    // Its own name in another spelling is accepted; another user's is not.
    SecurityEntry u = User("BOB");
    u.id = bob;
    EXPECT_EQ(1, KviDfUpdateSecurity(&u, 0, 0));
    SecurityEntry got = Zeroed<SecurityEntry>();
    got.id = bob;
    ASSERT_EQ(1, KviDfGetSecurity(&got));
    EXPECT_STREQ("BOB", got.name);
    SecurityEntry clash = User("bobby");
    clash.id = bob;
    EXPECT_EQ(3, KviDfUpdateSecurity(&clash, 0, 0));
    SecurityEntry unknown = User("nobody");
    unknown.id = 999;
    EXPECT_EQ(0, KviDfUpdateSecurity(&unknown, 0, 0));
}

TEST_F(SecurityUsers, The801stUserIsRefusedBeforeTheNameTest) {
    for (int i = 0; i < 800; ++i) ASSERT_NE(0u, AddUser(("user" + std::to_string(i)).c_str()));
    SecurityEntry fresh = User("fresh");
    EXPECT_EQ(2, KviDfAddSecurityEntry(&fresh, 0, nullptr));
    EXPECT_EQ(0u, fresh.id);
    SecurityEntry dup = User("user0");
    EXPECT_EQ(2, KviDfAddSecurityEntry(&dup, 0, nullptr));
    CommitAndReopen();
    SecurityEntry last = Zeroed<SecurityEntry>();
    last.id = 800;
    EXPECT_EQ(1, KviDfGetSecurity(&last));
    EXPECT_STREQ("user799", last.name);
}

TEST_F(SecurityUsers, LookupsReturnTheStoredSpellingAndId) {
    AddUser("first");
    const uint32_t alice = AddUser("alice");
    SecurityEntry byName = Zeroed<SecurityEntry>();
    std::strcpy(byName.name, "ALICE ");
    ASSERT_EQ(1, KviDfGetSecurityByName(&byName));
    EXPECT_STREQ("alice", byName.name);
    EXPECT_EQ(alice, byName.id);
    EXPECT_EQ(112u, byName.size);
    EXPECT_STREQ("pw", byName.password);

    SecurityEntry none = Zeroed<SecurityEntry>();
    std::strcpy(none.name, "carol");
    none.size = 5;
    EXPECT_EQ(0, KviDfGetSecurityByName(&none));
    EXPECT_EQ(5u, none.size);  // untouched

    SecurityEntry zero = User("x");
    zero.size = 5;
    EXPECT_EQ(0, KviDfGetSecurity(&zero));
    EXPECT_EQ(5u, zero.size);
    SecurityEntry missing = Zeroed<SecurityEntry>();
    missing.id = 99;
    EXPECT_EQ(0, KviDfGetSecurity(&missing));
    EXPECT_EQ(112u, missing.size);
}

TEST_F(SecurityUsers, OverlongTextsAreCutToTheirFields) {
    SecurityEntry u = Zeroed<SecurityEntry>();
    std::memset(&u, 'x', sizeof u);  // no terminator anywhere
    u.size = 112;
    ASSERT_EQ(1, KviDfAddSecurityEntry(&u, 0, nullptr));
    CommitAndReopen();
    SecurityEntry got = Zeroed<SecurityEntry>();
    got.id = u.id;
    ASSERT_EQ(1, KviDfGetSecurity(&got));
    EXPECT_EQ(std::string(20, 'x'), got.name);
    EXPECT_EQ(std::string(10, 'x'), got.password);
    EXPECT_EQ(std::string(64, 'x'), got.extraText);
}

TEST_F(SecurityUsers, IdsKeepRising) {
    EXPECT_EQ(1u, AddUser("A"));
    const uint32_t b = AddUser("B");
    EXPECT_EQ(2u, b);
    ASSERT_EQ(1, KviDfDeleteSecurityEntry(b, 0, 0));
    EXPECT_EQ(0, KviDfDeleteSecurityEntry(b, 0, 0));
    CommitAndReopen();
    EXPECT_EQ(3u, AddUser("C"));
}

TEST_F(SecurityUsers, ListThroughItsHandle) {
    for (const char* n : {"u0", "u1", "u2", "u3", "u4"}) AddUser(n);
    const KviListHandle list = KviDfCreateSecurityList();
    ASSERT_NE(0u, list);
    EXPECT_EQ(5, KviDfSecurityListCount(list));
    SecurityEntry item = Zeroed<SecurityEntry>();
    ASSERT_EQ(1, KviDfSecurityListItem(list, 2, &item));
    EXPECT_STREQ("u2", item.name);
    EXPECT_EQ(112u, item.size);

    // A stale index is refused and changes nothing.
    EXPECT_EQ(0, KviDfDeleteSecurityEntry(4, list, 2));  // item 2 is user 3
    EXPECT_EQ(0, KviDfDeleteSecurityEntry(4, list, 5));  // past the list
    ASSERT_EQ(1, KviDfDeleteSecurityEntry(4, list, 3));
    EXPECT_EQ(0, KviDfSecurityListValidAt(list, 3));
    EXPECT_EQ(1, KviDfSecurityListItem(list, 3, &item));
    EXPECT_EQ(0xFFFFFFFFu, item.id);
    EXPECT_EQ(5, KviDfSecurityListCount(list));

    SecurityEntry added = User("new");
    added.size = 9;
    uint32_t index = 99;
    ASSERT_EQ(1, KviDfAddSecurityEntry(&added, list, &index));
    EXPECT_EQ(3u, index);
    ASSERT_EQ(1, KviDfSecurityListItem(list, 3, &item));
    EXPECT_EQ(added.id, item.id);
    EXPECT_EQ(9u, item.size);  // the caller's size word

    SecurityEntry upd = User("renamed");
    upd.id = 1;
    EXPECT_EQ(0, KviDfUpdateSecurity(&upd, list, 1));  // item 1 is user 2
    ASSERT_EQ(1, KviDfUpdateSecurity(&upd, list, 0));
    ASSERT_EQ(1, KviDfSecurityListItem(list, 0, &item));
    EXPECT_STREQ("renamed", item.name);

    // One past the end adds a blank item; further is refused.
    EXPECT_EQ(1, KviDfSecurityListItem(list, 5, &item));
    EXPECT_EQ(6, KviDfSecurityListCount(list));
    EXPECT_EQ(0, KviDfSecurityListItem(list, 7, &item));
    EXPECT_EQ(0, KviDfSecurityListItem(list, -1, &item));
    KviDfDestroySecurityList(list);
    EXPECT_EQ(0, KviDfSecurityListCount(list));
}

TEST_F(SecurityUsers, ChangesNeedTheLockAndTheBook) {
    const uint32_t id = AddUser("held");
    ASSERT_EQ(1, KviDfUnlockSecurityBook());
    SecurityEntry u = User("other");
    EXPECT_EQ(0, KviDfAddSecurityEntry(&u, 0, nullptr));
    u.id = id;
    EXPECT_EQ(0, KviDfUpdateSecurity(&u, 0, 0));
    EXPECT_EQ(0, KviDfDeleteSecurityEntry(id, 0, 0));
    const KviListHandle empty = 0;
    EXPECT_EQ(0, KviDfSecurityListCount(empty));
    ASSERT_EQ(1, KviDfLockSecurityBook(locker_, 1000));
    EXPECT_EQ(0, KviDfAddSecurityEntry(nullptr, 0, nullptr));
    EXPECT_EQ(0, KviDfDeleteSecurityEntry(0, 0, 0));
    KviDfCloseSecurityBook();
    EXPECT_EQ(0, KviDfCreateSecurityList());
    EXPECT_EQ(0, KviDfAddSecurityEntry(&u, 0, nullptr));
}

}  // namespace
}  // namespace kvi::test
