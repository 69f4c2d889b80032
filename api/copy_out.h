// Copies from a book record into a caller's structure for the get exports.
#ifndef KVI_API_COPY_OUT_H
#define KVI_API_COPY_OUT_H

#include <cstdint>
#include <cstring>

namespace kvi {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the first NUL of a word is its lowest zero byte");

// 1 to 8 bytes, with two overlapping fixed-size copies instead of a loop.
[[gnu::always_inline]] inline void CopyShort(char* to, const char* from, size_t n) {
    if (n >= 4) {
        uint32_t head, tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + n - 4, 4);
        std::memcpy(to, &head, 4);
        std::memcpy(to + n - 4, &tail, 4);
    } else if (n >= 2) {
        uint16_t head, tail;
        std::memcpy(&head, from, 2);
        std::memcpy(&tail, from + n - 2, 2);
        std::memcpy(to, &head, 2);
        std::memcpy(to + n - 2, &tail, 2);
    } else {
        to[0] = from[0];
    }
}

// A stored text and its NUL, nothing after it: the caller's bytes beyond
// the terminator stay as the caller left them. The stored text is
// terminated inside its field; the copy never leaves the field all the
// same. Eight bytes at a time, never reading beyond the field's first
// N - 1 bytes: a get copies several texts, and a strnlen and a memcpy call
// for each cost more than the copying.
template <size_t N>
[[gnu::always_inline]] inline void CopyTextOut(char (&to)[N], const char (&from)[N]) {
    static_assert(N > 0, "a text field holds at least its NUL");
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    size_t i = 0;
    for (; i + 8 <= N - 1; i += 8) {
        uint64_t word;
        std::memcpy(&word, from + i, 8);
        // The lowest flagged byte is the first NUL (a borrow can flag only
        // bytes above a zero one).
        const uint64_t nul = (word - kOnes) & ~word & kHighs;
        if (nul) {
            CopyShort(to + i, from + i, static_cast<size_t>(__builtin_ctzll(nul) / 8) + 1);
            return;
        }
        std::memcpy(to + i, &word, 8);
    }
    for (; i < N - 1 && from[i] != '\0'; ++i) to[i] = from[i];
    to[i] = '\0';
}

}  // namespace kvi

#endif
