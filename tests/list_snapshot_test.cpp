// The list snapshot behind every list handle.
#include "storage/list_snapshot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace kvi {
namespace {

uint32_t IdAt(ListSnapshot& list, int32_t p) {
    uint32_t id;
    std::memcpy(&id, list.ItemAt(p) + 4, 4);
    return id;
}

// A list of n items with ids 1..n, as the create functions build it.
std::unique_ptr<ListSnapshot> Filled(int32_t n) {
    std::unique_ptr<ListSnapshot> list(ListSnapshot::Create(static_cast<uint32_t>(n), 164, ListKind::kAddress));
    for (int32_t i = 0; i < n; ++i) {
        const uint32_t id = static_cast<uint32_t>(i + 1);
        std::memcpy(list->ItemAt(i) + 4, &id, 4);
    }
    return list;
}

TEST(ListSnapshot, CopyOutOnePastTheEndAddsABlankItem) {
    auto list = Filled(5);
    uint8_t out[164];
    EXPECT_EQ(0, list->CopyOut(-1, out));
    ASSERT_EQ(1, list->CopyOut(5, out));
    EXPECT_EQ(6, list->Count());
    uint32_t id;
    std::memcpy(&id, out + 4, 4);
    EXPECT_EQ(kBlankId, id);
    EXPECT_EQ(0, out[8]);  // blank items are zero apart from the id
    EXPECT_EQ(0, list->ValidAt(5));
    EXPECT_EQ(0, list->CopyOut(7, out));
    EXPECT_EQ(6, list->Count());
    EXPECT_EQ(1, list->ValidAt(4));
    EXPECT_EQ(0, list->ValidAt(6));
    EXPECT_EQ(0, list->ValidAt(-1));
}

TEST(ListSnapshot, FreedPositionsAreReusedLastFreedFirst) {
    auto list = Filled(5);
    list->ReleasePosition(1);
    list->ReleasePosition(3);
    EXPECT_EQ(5, list->Count());  // the count never falls
    EXPECT_EQ(0, list->ValidAt(1));
    EXPECT_EQ(nullptr, list->Peek(3));
    EXPECT_EQ(3, list->TakePosition());
    EXPECT_EQ(1, list->TakePosition());
    EXPECT_EQ(5, list->TakePosition());
    EXPECT_EQ(6, list->Count());
    // A hole read before it is refilled holds a blank item; refilling
    // reuses it.
    list->ReleasePosition(2);
    EXPECT_EQ(kBlankId, IdAt(*list, 2));
    EXPECT_EQ(2, list->TakePosition());
    std::memcpy(list->ItemAt(2) + 4, "\x09\0\0\0", 4);
    EXPECT_EQ(1, list->ValidAt(2));
}

TEST(ListSnapshot, ReleasingAPositionTwiceDoesNotHandItOutTwice) {
    auto list = Filled(3);
    list->ReleasePosition(1);
    list->ReleasePosition(1);
    EXPECT_EQ(1, list->TakePosition());
    EXPECT_EQ(3, list->TakePosition());
}

TEST(ListSnapshot, GrowsPastItsFirstRoomAndThroughManyHoles) {
    auto list = Filled(0);
    for (int32_t i = 0; i < 300; ++i) ASSERT_EQ(i, list->TakePosition());
    for (int32_t i = 0; i < 300; i += 2) list->ReleasePosition(i);  // 150 holes: the stack grows
    for (int32_t i = 298; i >= 0; i -= 2) ASSERT_EQ(i, list->TakePosition());
    EXPECT_EQ(300, list->TakePosition());
}

TEST(ListSnapshot, OverwritingAnEmptiedPositionTakesItOffTheStack) {
    auto list = Filled(4);
    list->ReleasePosition(1);
    list->ReleasePosition(3);
    list->ReleasePosition(2);
    uint8_t item[164] = {};
    item[4] = 9;
    ASSERT_EQ(1, list->OverwriteAt(3, item));
    EXPECT_EQ(9u, IdAt(*list, 3));
    EXPECT_EQ(2, list->TakePosition());  // the others keep their order
    EXPECT_EQ(1, list->TakePosition());
    EXPECT_EQ(4, list->TakePosition());
    EXPECT_EQ(9u, IdAt(*list, 3));
}

TEST(ListSnapshot, CompactingRemoveRenumbersTheFreePositions) {
    auto list = Filled(6);
    list->ReleasePosition(4);
    list->ReleasePosition(1);
    list->RemovePosition(1);
    EXPECT_EQ(5, list->Count());
    EXPECT_EQ(3u, IdAt(*list, 1));
    EXPECT_EQ(3, list->TakePosition());  // old position 4
    EXPECT_EQ(5, list->TakePosition());
}

}  // namespace
}  // namespace kvi
