// The growable table behind every collection.
#include "storage/record_table.h"

#include <gtest/gtest.h>

namespace kvi {
namespace {

// Growth at least doubles, so a table of n entries costs about log n
// copies, not n / 50.
TEST(RecordTable, GrowsGeometrically) {
    RecordTable<uint32_t> t(100, 50);
    ASSERT_EQ(101u, t.Capacity());
    const struct {
        uint32_t appended;
        uint32_t capacity;
    } steps[] = {{101, 101}, {102, 202}, {202, 202}, {203, 404}, {800, 808}, {20000, 25856}};
    uint32_t n = 0;
    for (const auto& s : steps) {
        while (n < s.appended) ASSERT_TRUE(t.Append(n++));
        EXPECT_EQ(s.capacity, t.Capacity()) << s.appended;
        EXPECT_EQ(s.appended, t.Count());
    }
    for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(i, t.At(static_cast<int32_t>(i)));
}

TEST(RecordTable, EnsureFarBeyondTheEndRoundsUpToTheStepInOneGrowth) {
    RecordTable<uint32_t> t(20, 20);  // 21 entries
    EXPECT_TRUE(t.Ensure(21));
    EXPECT_EQ(21u, t.Capacity());
    EXPECT_TRUE(t.Ensure(22));
    EXPECT_EQ(42u, t.Capacity());  // doubled
    EXPECT_TRUE(t.Ensure(100));
    EXPECT_EQ(102u, t.Capacity());  // 58 more, rounded up to 60
    EXPECT_EQ(0u, t.Count());       // Ensure does not change the count
}

TEST(RecordTable, RemoveAtShiftsAndIndexOfFinds) {
    RecordTable<uint32_t> t(100, 50);
    for (uint32_t v : {10u, 11u, 12u, 13u}) t.Append(v);
    t.RemoveAt(1);
    EXPECT_EQ(3u, t.Count());
    EXPECT_EQ(12u, t.At(1));
    t.RemoveAt(2);  // the last: nothing moves
    EXPECT_EQ(2u, t.Count());
    EXPECT_EQ(12u, t.At(1));
    t.RemoveAt(5);  // beyond the count: nothing
    EXPECT_EQ(2u, t.Count());
    EXPECT_EQ(1u, t.IndexOf(12));
    EXPECT_EQ(kNotFound, t.IndexOf(13));  // past the count
}

TEST(RecordTable, FreeRecordsEmptiesTheTable) {
    RecordTable<int*> t(100, 50);
    for (int i = 0; i < 120; ++i) t.Append(new int(i));
    FreeRecords(t);  // ASan reports a leak if a record is missed
    EXPECT_EQ(0u, t.Count());
}

}  // namespace
}  // namespace kvi
