// Address entries and lists through the exports, as a client uses them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "address_book_fixture.h"
#include "kviabdb.h"

namespace kvi::test {
namespace {

using AddressEntries = AddressBookSession;

TEST_F(AddressEntries, CommittedEntriesOpenAgainAndUncommittedOnesAreLost) {
    AddressRecord e = Entry("Office", "office", 2, "555");
    std::strcpy(e.extraText1, "x1");
    std::strcpy(e.extraText2, "x2");
    e.extraValue = 42;
    ASSERT_EQ(1, KviDfAddAddress(&e, 0, nullptr));
    EXPECT_EQ(1u, e.id);
    ASSERT_EQ(1, KviDfCommitAddressBook(0));
    Add("Lost", "lost", 2);
    Reopen();
    AddressRecord got;
    std::memset(&got, 0xAB, sizeof got);
    got.id = 1;
    ASSERT_EQ(1, KviDfGetAddress(&got));
    EXPECT_EQ(164u, got.size);
    EXPECT_STREQ("Office", got.name);
    EXPECT_STREQ("office", got.address);
    EXPECT_STREQ("555", got.phoneNumber);
    EXPECT_STREQ("x1", got.extraText1);
    EXPECT_STREQ("x2", got.extraText2);
    EXPECT_EQ(2, got.connectionType);
    EXPECT_EQ(42u, got.extraValue);
    got.id = 2;
    EXPECT_EQ(0, KviDfGetAddress(&got));
}

TEST_F(AddressEntries, GetAddressRefusals) {
    AddressRecord e = Entry("", "", 0);
    e.size = 7;
    e.id = 0;
    EXPECT_EQ(0, KviDfGetAddress(&e));
    EXPECT_EQ(7u, e.size);  // id 0: nothing written
    e.id = 99;
    EXPECT_EQ(0, KviDfGetAddress(&e));
    EXPECT_EQ(164u, e.size);  // unknown id: only the size word
    EXPECT_EQ(0, KviDfGetAddress(nullptr));
    static const AddressRecord constant = {};
    EXPECT_EQ(0, KviDfGetAddress(const_cast<AddressRecord*>(&constant)));  // read-only memory
}

TEST_F(AddressEntries, OverlongTextsAreCutToTheirFields) {
    AddressRecord e;
    std::memset(&e, 'n', sizeof e);  // no NUL in any field
    e.connectionType = 2;
    e.id = 0;
    ASSERT_EQ(1, KviDfAddAddress(&e, 0, nullptr));
    AddressRecord got;
    std::memset(&got, 0, sizeof got);
    got.id = e.id;
    ASSERT_EQ(1, KviDfGetAddress(&got));
    EXPECT_EQ(std::string(30, 'n'), got.name);
    EXPECT_EQ(std::string(20, 'n'), got.address);
    EXPECT_EQ(std::string(64, 'n'), got.phoneNumber);
    EXPECT_EQ(std::string(20, 'n'), got.extraText1);
    EXPECT_EQ(std::string(10, 'n'), got.extraText2);
    ASSERT_EQ(1, KviDfCommitAddressBook(0));
    Reopen();
    ASSERT_EQ(1, KviDfGetAddress(&got));
    EXPECT_EQ(std::string(30, 'n'), got.name);
}

TEST_F(AddressEntries, DuplicateRules) {
    Add("Office", "Office", 2);
    struct Case {
        const char* address;
        uint16_t type;
        int32_t result;
    } cases[] = {
        {"office  ", 2, 3},  // network, same address ignoring case and trailing blanks
        {"Office", 1, 1},    // modem entries never collide
        {"Office", 1, 1},
        {"Office", 4, 1},    // cable beside network
        {"Office 2", 2, 1},
        {"Offic", 2, 1},
    };
    for (const auto& c : cases) {
        AddressRecord e = Entry("n", c.address, c.type);
        EXPECT_EQ(c.result, KviDfAddAddress(&e, 0, nullptr)) << c.address << " " << c.type;
        if (c.result != 1) {
            EXPECT_EQ(0u, e.id);
        }
    }
    // Update: another entry's address is a duplicate, its own in other case is not.
    const uint32_t second = Add("Home", "home", 2);
    AddressRecord u = Entry("Home", "OFFICE", 2);
    u.id = second;
    EXPECT_EQ(3, KviDfUpdateAddress(&u, 0, 0));
    u = Entry("Home", "HOME ", 2);
    u.id = second;
    EXPECT_EQ(1, KviDfUpdateAddress(&u, 0, 0));
    u = Entry("Gone", "gone", 2);
    u.id = 999;
    EXPECT_EQ(0, KviDfUpdateAddress(&u, 0, 0));
    EXPECT_EQ(164u, u.size);
}

TEST_F(AddressEntries, EightHundredEntriesAndIdsAreNeverReused) {
    char address[32];
    for (int i = 0; i < 800; ++i) {
        std::snprintf(address, sizeof address, "a%d", i);
        ASSERT_EQ(static_cast<uint32_t>(i + 1), Add("n", address, 2));
    }
    AddressRecord e = Entry("n", "more", 2);
    EXPECT_EQ(2, KviDfAddAddress(&e, 0, nullptr));
    EXPECT_EQ(0u, e.id);
    EXPECT_EQ(1, KviDfDeleteAddress(800, 0, 0));
    EXPECT_EQ(0, KviDfDeleteAddress(800, 0, 0));  // gone
    ASSERT_EQ(1, KviDfAddAddress(&e, 0, nullptr));
    EXPECT_EQ(801u, e.id);
    ASSERT_EQ(1, KviDfCommitAddressBook(0));
    Reopen();
    ASSERT_EQ(1, KviDfLockAddressBook(locker_));
    EXPECT_EQ(1, KviDfDeleteAddress(801, 0, 0));
    EXPECT_EQ(802u, Add("n", "again", 2));  // lastId survived the commit
}

TEST_F(AddressEntries, ChangesNeedTheLock) {
    const uint32_t id = Add("n", "a", 2);
    KviDfUnlockAddressBook();
    AddressRecord e = Entry("n", "b", 2);
    e.id = 5;
    EXPECT_EQ(0, KviDfAddAddress(&e, 0, nullptr));
    EXPECT_EQ(5u, e.id);  // refused before the structure is looked at
    e.id = id;
    EXPECT_EQ(0, KviDfUpdateAddress(&e, 0, 0));
    EXPECT_EQ(0, KviDfDeleteAddress(id, 0, 0));
    EXPECT_EQ(0, KviDfCommitAddressBook(1));
    AddressRecord got;
    got.id = id;
    EXPECT_EQ(1, KviDfGetAddress(&got));  // reading needs no lock
    EXPECT_STREQ("a", got.address);
}

TEST_F(AddressEntries, ListThroughAddDeleteUpdate) {
    for (const char* a : {"a0", "a1", "a2", "a3", "a4"}) Add("n", a, 2);
    const KviListHandle list = KviDfCreateAddressList();
    ASSERT_NE(0u, list);
    ASSERT_EQ(5, KviDfAddressListCount(list));
    AddressRecord item;
    ASSERT_EQ(1, KviDfAddressListItem(list, 2, &item));
    EXPECT_EQ(3u, item.id);
    EXPECT_EQ(164u, item.size);
    EXPECT_STREQ("a2", item.address);

    // Delete through the list: a hole, the count stays.
    EXPECT_EQ(0, KviDfDeleteAddress(4, list, 2));  // the item there carries another id
    ASSERT_EQ(1, KviDfDeleteAddress(3, list, 2));
    EXPECT_EQ(5, KviDfAddressListCount(list));
    EXPECT_EQ(0, KviDfAddressListValidAt(list, 2));
    ASSERT_EQ(1, KviDfAddressListItem(list, 2, &item));
    EXPECT_EQ(0xFFFFFFFFu, item.id);
    // Adds through the list refill the hole, then extend.
    uint32_t index = 99;
    AddressRecord e = Entry("n", "new", 2);
    e.size = 11;
    ASSERT_EQ(1, KviDfAddAddress(&e, list, &index));
    EXPECT_EQ(2u, index);
    ASSERT_EQ(1, KviDfAddressListItem(list, 2, &item));
    EXPECT_EQ(e.id, item.id);
    EXPECT_EQ(11u, item.size);  // the caller's structure as given
    e = Entry("n", "newer", 2);
    ASSERT_EQ(1, KviDfAddAddress(&e, list, &index));
    EXPECT_EQ(5u, index);
    EXPECT_EQ(0, KviDfAddAddress(&e, list, nullptr));  // where would the index go?

    // Update through the list overwrites the item.
    AddressRecord u = Entry("renamed", "a0", 2);
    u.id = 1;
    EXPECT_EQ(0, KviDfUpdateAddress(&u, list, 1));   // item 1 is id 2
    EXPECT_EQ(0, KviDfUpdateAddress(&u, list, 99));  // past the count
    ASSERT_EQ(1, KviDfUpdateAddress(&u, list, 0));
    ASSERT_EQ(1, KviDfAddressListItem(list, 0, &item));
    EXPECT_STREQ("renamed", item.name);

    // An add without the list is not in it; the book has it at once.
    const uint32_t outside = Add("n", "outside", 2);
    EXPECT_EQ(6, KviDfAddressListCount(list));
    AddressRecord got;
    got.id = outside;
    EXPECT_EQ(1, KviDfGetAddress(&got));
    KviDfDestroyAddressList(list);
    EXPECT_EQ(0, KviDfAddressListCount(list));  // destroyed handles are refused
}

TEST_F(AddressEntries, EmptyBookListAndBadHandles) {
    const KviListHandle list = KviDfCreateAddressList();
    ASSERT_NE(0u, list);
    AddressRecord item;
    EXPECT_EQ(0, KviDfAddressListCount(list));
    EXPECT_EQ(0, KviDfAddressListItem(list, 0, &item));
    EXPECT_EQ(0, KviDfAddressListValidAt(list, 0));
    EXPECT_EQ(0, KviDfAddressListItem(list, 0, nullptr));
    for (KviListHandle bad : {KviListHandle(0), ~KviListHandle(0), list ^ 0x10}) {
        EXPECT_EQ(0, KviDfAddressListCount(bad));
        EXPECT_EQ(0, KviDfAddressListValidAt(bad, 0));
        EXPECT_EQ(0, KviDfAddressListItem(bad, 0, &item));
        AddressRecord e = Entry("n", "x", 2);
        uint32_t index;
        EXPECT_EQ(0, KviDfAddAddress(&e, bad == 0 ? ~KviListHandle(0) : bad, &index));
        KviDfDestroyAddressList(bad);
    }
    KviDfDestroyAddressList(list);
}

TEST_F(AddressEntries, ListIsRefusedWhileTheBookIsClosedAndWorksAfterReopen) {
    Add("n", "a0", 2);
    Add("n", "a1", 2);
    ASSERT_EQ(1, KviDfCommitAddressBook(0));
    const KviListHandle list = KviDfCreateAddressList();
    ASSERT_EQ(2, KviDfAddressListCount(list));
    KviDfCloseAddressBook();
    AddressRecord item;
    EXPECT_EQ(0, KviDfAddressListCount(list));
    EXPECT_EQ(0, KviDfAddressListItem(list, 0, &item));
    EXPECT_EQ(0, KviDfAddressListValidAt(list, 0));
    EXPECT_EQ(0, KviDfCreateAddressList());
    KviDfDestroyAddressList(list);  // does nothing while closed
    ASSERT_EQ(1, KviDfOpenAddressBook(0));
    EXPECT_EQ(2, KviDfAddressListCount(list));
    ASSERT_EQ(1, KviDfAddressListItem(list, 1, &item));
    EXPECT_STREQ("a1", item.address);
    KviDfDestroyAddressList(list);
}

// An add that would need an id above 0xFFFFFFFE answers 0.
// Reads need no lock, and several threads may read at once right after an
// open (when the first lookups decode its records and build its indexes) or after a
// delete (which rebuilds them): every answer is still right.
TEST_F(AddressEntries, ThreadsLookUpAtOnce) {
    std::vector<uint32_t> ids;
    for (int i = 0; i < 300; ++i) ids.push_back(Add(("n" + std::to_string(i)).c_str(), ("a" + std::to_string(i)).c_str(), 2));
    ASSERT_EQ(1, KviDfCommitAddressBook(0));
    for (int round = 0; round < 2; ++round) {
        if (round == 0) {
            Reopen();
        } else {
            ASSERT_EQ(1, KviDfDeleteAddress(ids.back(), 0, 0));
            ids.pop_back();
        }
        std::atomic<int> wrong{0};
        std::vector<std::thread> readers;
        for (int t = 0; t < 4; ++t) {
            readers.emplace_back([&, t] {
                for (size_t k = 0; k < ids.size(); ++k) {
                    const size_t i = (k * 7 + static_cast<size_t>(t) * 31) % ids.size();
                    AddressRecord e;
                    std::memset(&e, 0, sizeof e);
                    e.id = ids[i];
                    if (KviDfGetAddress(&e) != 1 || std::string(e.name) != "n" + std::to_string(i)) ++wrong;
                }
            });
        }
        for (auto& r : readers) r.join();
        EXPECT_EQ(0, wrong.load()) << round;
    }
}

TEST(AddressIds, AnAddNeverWraps) {
    TempWindowsDir dir;
    WriteFile(dir.BookPath("MERIDOX.PBK"), RawBook({Encoded("a", "", "", "", "A", 2, 0, 1)}, 0xFFFFFFFDu));
    ASSERT_EQ(1, KviDfInitialize());
    ASSERT_EQ(1, KviDfOpenAddressBook(0));
    char locker[] = "ids";
    ASSERT_EQ(1, KviDfLockAddressBook(locker));
    AddressRecord e = Entry("B", "b", 2);
    ASSERT_EQ(1, KviDfAddAddress(&e, 0, nullptr));
    EXPECT_EQ(0xFFFFFFFEu, e.id);
    AddressRecord f = Entry("C", "c", 2);
    EXPECT_EQ(0, KviDfAddAddress(&f, 0, nullptr));
    EXPECT_EQ(0u, f.id);
    const KviListHandle list = KviDfCreateAddressList();
    EXPECT_EQ(2, KviDfAddressListCount(list));
    KviDfDestroyAddressList(list);
    KviDfUnlockAddressBook();
    KviDfCloseAddressBook();
    KviDfTerminate();
}

}  // namespace
}  // namespace kvi::test
