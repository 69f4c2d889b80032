// Dialing prefixes and suffixes: name rules, limits, lookups and the
// affix list with its hole and compacting deletes.
#include <gtest/gtest.h>

#include "security_book_fixture.h"

namespace kvi::test {
namespace {

using Affixes = SecuritySession;

uint32_t AddPrefix(const char* name, KviListHandle list = 0, uint32_t* index = nullptr) {
    AffixEntry e = Affix(name);
    EXPECT_EQ(1, KviDfAddPrefixEntry(&e, list, index)) << name;
    return e.id;
}

TEST_F(Affixes, NameRuleLimitAndTwins) {
    const uint32_t line9 = AddPrefix("Line 9  ");
    AffixEntry dup = Affix("LINE 9");
    EXPECT_EQ(3, KviDfAddPrefixEntry(&dup, 0, nullptr));
    EXPECT_EQ(0u, dup.id);
    AffixEntry same = Affix("LINE 9");  // its own name, another spelling
    same.id = line9;
    EXPECT_EQ(1, KviDfUpdatePrefix(&same, 0, 0));
    // The same name once in each table; ids are per table.
    AffixEntry suffix = Affix("line 9");
    ASSERT_EQ(1, KviDfAddSuffixEntry(&suffix, 0, nullptr));
    EXPECT_EQ(1u, suffix.id);
    AffixEntry other = Affix("other");
    ASSERT_EQ(1, KviDfAddSuffixEntry(&other, 0, nullptr));
    other = Affix("LINE 9");
    other.id = 2;
    EXPECT_EQ(3, KviDfUpdateSuffix(&other, 0, 0));
    AffixEntry unknown = Affix("nobody");
    unknown.id = 50;
    EXPECT_EQ(0, KviDfUpdateSuffix(&unknown, 0, 0));

    for (int i = 1; i < 800; ++i) ASSERT_NE(0u, AddPrefix(("p" + std::to_string(i)).c_str()));
    AffixEntry full = Affix("fresh");
    EXPECT_EQ(2, KviDfAddPrefixEntry(&full, 0, nullptr));
    EXPECT_EQ(0u, full.id);
    EXPECT_EQ(1, KviDfAddSuffixEntry(&full, 0, nullptr));  // the other table has room
}

TEST_F(Affixes, LookupsByIdAndName) {
    const uint32_t a = AddPrefix("alpha");
    AffixEntry got = Zeroed<AffixEntry>();
    got.size = 1;
    EXPECT_EQ(0, KviDfGetPrefix(&got));  // id 0
    EXPECT_EQ(1u, got.size);
    CommitAndReopen();
    got.id = a;
    ASSERT_EQ(1, KviDfGetPrefix(&got));
    EXPECT_EQ(8u + 6 + 3, got.size);  // the book's size word
    EXPECT_EQ(0, KviDfGetSuffix(&got));

    AffixEntry byName = Zeroed<AffixEntry>();
    std::strcpy(byName.name, "ALPHA");
    byName.id = 0xFFFFFFFFu;
    ASSERT_EQ(1, KviDfGetPrefixByName(&byName));
    EXPECT_EQ(a, byName.id);
    EXPECT_STREQ("alpha", byName.name);
    byName.id = a;  // the entry itself is not another entry of that name
    EXPECT_EQ(0, KviDfGetPrefixByName(&byName));
}

TEST_F(Affixes, OverlongTextsAreCutToTheirFields) {
    AffixEntry e;
    std::memset(&e, 'y', sizeof e);
    e.size = 104;
    ASSERT_EQ(1, KviDfAddPrefixEntry(&e, 0, nullptr));
    CommitAndReopen();
    AffixEntry got = Zeroed<AffixEntry>();
    got.id = e.id;
    ASSERT_EQ(1, KviDfGetPrefix(&got));
    EXPECT_EQ(std::string(30, 'y'), got.name);
    EXPECT_EQ(std::string(64, 'y'), got.affixText);
}

class AffixList : public SecuritySession {
protected:
    void SetUp() override {
        SecuritySession::SetUp();
        for (int i = 0; i < 6; ++i) ids_[i] = AddPrefix(("p" + std::to_string(i)).c_str());
        list_ = KviDfCreatePrefixList();
        ASSERT_NE(0u, list_);
    }
    void TearDown() override {
        KviDfDestroyAffixList(list_);
        SecuritySession::TearDown();
    }
    std::string NameAt(int32_t index) {
        AffixEntry item = Zeroed<AffixEntry>();
        if (KviDfAffixListItem(list_, index, &item) != 1) return "<refused>";
        return item.id == 0xFFFFFFFFu ? "<blank>" : item.name;
    }
    uint32_t ids_[6];
    KviListHandle list_ = 0;
};

TEST_F(AffixList, IndexOf) {
    EXPECT_EQ(6, KviDfAffixListCount(list_));
    EXPECT_EQ(4, KviDfAffixListIndexOf(list_, ids_[4]));
    EXPECT_EQ(-1, KviDfAffixListIndexOf(list_, 99));
    EXPECT_EQ("<blank>", NameAt(6));  // adds a blank item
    EXPECT_EQ(-1, KviDfAffixListIndexOf(list_, 0));
    EXPECT_EQ(-1, KviDfAffixListIndexOf(list_, 0xFFFFFFFFu));
    EXPECT_EQ(-1, KviDfAffixListIndexOf(0, ids_[0]));
}

TEST_F(AffixList, HoleDeleteIsRefilledByTheNextAdd) {
    ASSERT_EQ(1, KviDfDeletePrefixEntry(ids_[3], list_, 3, 0));
    EXPECT_EQ(6, KviDfAffixListCount(list_));
    EXPECT_EQ(0, KviDfAffixListValidAt(list_, 3));
    uint32_t index = 0;
    AddPrefix("fill", list_, &index);
    EXPECT_EQ(3u, index);
    EXPECT_EQ("fill", NameAt(3));
    AddPrefix("next", list_, &index);
    EXPECT_EQ(6u, index);
}

TEST_F(AffixList, CompactDeleteClosesTheGapAndKeepsTheStackTrue) {
    // A hole at 1 and at 4, then a compacting delete at 2: the holes are
    // now 1 and 3, and adds must land on them, never on an item.
    ASSERT_EQ(1, KviDfDeletePrefixEntry(ids_[1], list_, 1, 0));
    ASSERT_EQ(1, KviDfDeletePrefixEntry(ids_[4], list_, 4, 0));
    ASSERT_EQ(1, KviDfDeletePrefixEntry(ids_[2], list_, 2, 1));
    EXPECT_EQ(5, KviDfAffixListCount(list_));
    EXPECT_EQ("p3", NameAt(2));
    EXPECT_EQ("p5", NameAt(4));
    uint32_t first = 0, second = 0, third = 0;
    AddPrefix("a", list_, &first);
    AddPrefix("b", list_, &second);
    AddPrefix("c", list_, &third);
    EXPECT_EQ(3u, first);
    EXPECT_EQ(1u, second);
    EXPECT_EQ(5u, third);
    const char* expected[] = {"p0", "b", "p3", "a", "p5", "c"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(expected[i], NameAt(i)) << i;

    // Compacting the last slot.
    ASSERT_EQ(1, KviDfDeletePrefixEntry(ids_[5], list_, 4, 1));
    EXPECT_EQ("c", NameAt(4));
    EXPECT_EQ(5, KviDfAffixListCount(list_));
}

TEST_F(AffixList, DeleteOfAnUnknownIdStillEmptiesTheSlot) {
    EXPECT_EQ(0, KviDfDeletePrefixEntry(999, list_, 2, 0));
    EXPECT_EQ(0, KviDfAffixListValidAt(list_, 2));
    EXPECT_EQ(0, KviDfDeletePrefixEntry(998, list_, 0, 1));
    EXPECT_EQ(5, KviDfAffixListCount(list_));
    EXPECT_EQ("p1", NameAt(0));
    // The book kept all six.
    AffixEntry e = Zeroed<AffixEntry>();
    e.id = ids_[2];
    EXPECT_EQ(1, KviDfGetPrefix(&e));
}

TEST_F(AffixList, UpdateBeyondTheEndGrowsTheList) {
    AffixEntry e = Affix("moved");
    e.id = ids_[0];
    ASSERT_EQ(1, KviDfUpdatePrefix(&e, list_, 9));
    EXPECT_EQ(10, KviDfAffixListCount(list_));
    EXPECT_EQ("moved", NameAt(9));
    for (int i = 6; i < 9; ++i) EXPECT_EQ(0, KviDfAffixListValidAt(list_, i));
    EXPECT_EQ("p0", NameAt(0));  // the old item is not looked at
}

TEST_F(AffixList, IndicesOutsideTheListAreRefusedAndChangeNothing) {
    AffixEntry e = Affix("x");
    e.id = ids_[0];
    const struct {
        const char* what;
        int32_t result;
    } cases[] = {
        {"update at -1", KviDfUpdatePrefix(&e, list_, -1)},
        {"update far past the end", KviDfUpdatePrefix(&e, list_, 5 + 801)},
        {"update at INT32_MAX", KviDfUpdatePrefix(&e, list_, INT32_MAX)},
        {"delete at -1", KviDfDeletePrefixEntry(ids_[0], list_, -1, 1)},
        {"delete past the end", KviDfDeletePrefixEntry(ids_[0], list_, 6, 0)},
        {"compact delete past the end", KviDfDeletePrefixEntry(ids_[0], list_, 1000, 1)},
    };
    for (const auto& c : cases) EXPECT_EQ(0, c.result) << c.what;
    EXPECT_EQ(6, KviDfAffixListCount(list_));
    AffixEntry got = Zeroed<AffixEntry>();
    got.id = ids_[0];
    ASSERT_EQ(1, KviDfGetPrefix(&got));
    EXPECT_STREQ("p0", got.name);
}

TEST_F(AffixList, EmptyListAndClosedBook) {
    const KviListHandle empty = KviDfCreateSuffixList();
    ASSERT_NE(0u, empty);
    EXPECT_EQ(0, KviDfAffixListCount(empty));
    AffixEntry item = Zeroed<AffixEntry>();
    EXPECT_EQ(0, KviDfAffixListItem(empty, 0, &item));
    KviDfDestroyAffixList(empty);
    EXPECT_EQ(0, KviDfAffixListCount(empty));  // gone

    KviDfCloseSecurityBook();
    KviDfDestroyAffixList(list_);  // the book is closed: nothing happens
    ASSERT_EQ(1, KviDfOpenSecurityBook(nullptr));
    EXPECT_EQ(6, KviDfAffixListCount(list_));
}

}  // namespace
}  // namespace kvi::test
