// Copies from a book record into a caller's structure for the get exports.
#ifndef KVI_API_COPY_OUT_H
#define KVI_API_COPY_OUT_H

#include <cstdint>
#include <cstring>

namespace kvi {

// A stored text and its NUL, nothing after it: the caller's bytes beyond
// the terminator stay as the caller left them. The stored text is
// terminated inside its field; the copy never leaves the field all the
// same. Eight bytes at a time while none of them is the NUL (a get copies
// five texts, and a strnlen and a memcpy call for each cost more than the
// copying), never reading beyond the field's first N - 1 bytes.
template <size_t N>
void CopyTextOut(char (&to)[N], const char (&from)[N]) {
    static_assert(N > 0, "a text field holds at least its NUL");
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    size_t i = 0;
    for (; i + 8 <= N - 1; i += 8) {
        uint64_t word;
        std::memcpy(&word, from + i, 8);
        if ((word - kOnes) & ~word & kHighs) break;  // a NUL among these eight
        std::memcpy(to + i, &word, 8);
    }
    for (; i < N - 1 && from[i] != '\0'; ++i) to[i] = from[i];
    to[i] = '\0';
}

}  // namespace kvi

#endif
