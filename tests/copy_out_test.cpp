// The copy of a stored text into a caller's field: the text and its NUL,
// not a byte more, whatever its length against the eight-byte steps.
#include "api/copy_out.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kvi {
namespace {

// Every length from empty to the longest the field holds, and a stored
// field with no NUL in it at all (cut to N - 1 characters), for each field
// size of the records.
template <size_t N>
void CheckEveryLength() {
    SCOPED_TRACE("field of " + std::to_string(N));
    for (size_t length = 0; length <= N; ++length) {
        SCOPED_TRACE("text of " + std::to_string(length));
        char stored[N];
        for (size_t i = 0; i < N; ++i) stored[i] = static_cast<char>('a' + i % 26);
        if (length < N) stored[length] = '\0';  // length N: no NUL anywhere
        char out[N];
        std::memset(out, 0xAB, N);
        CopyTextOut(out, stored);
        const size_t copied = length < N - 1 ? length : N - 1;
        ASSERT_EQ(std::string(stored, copied), std::string(out, copied));
        ASSERT_EQ('\0', out[copied]);
        for (size_t i = copied + 1; i < N; ++i) ASSERT_EQ(static_cast<char>(0xAB), out[i]) << "byte " << i;
    }
}

TEST(CopyTextOut, CopiesTheTextAndItsNulAndNothingAfter) {
    CheckEveryLength<1>();
    CheckEveryLength<11>();
    CheckEveryLength<16>();
    CheckEveryLength<17>();
    CheckEveryLength<21>();
    CheckEveryLength<31>();
    CheckEveryLength<65>();
    CheckEveryLength<262>();
}

// A byte with its high bit set (a letter of the ANSI code page) is no NUL.
TEST(CopyTextOut, HighBytesAreText) {
    char stored[21];
    std::memset(stored, 0, sizeof stored);
    const char text[] = "\xE9t\xE9\x80\xFF\x81 caf\xE9s";
    std::memcpy(stored, text, sizeof text);
    char out[21];
    std::memset(out, 0x11, sizeof out);
    CopyTextOut(out, stored);
    EXPECT_EQ(std::string(text, sizeof text), std::string(out, sizeof text));
    EXPECT_EQ(0x11, out[sizeof text]);
}

}  // namespace
}  // namespace kvi
