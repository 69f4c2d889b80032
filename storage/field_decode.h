// Field copies for the one-pass record decoders. A decoder zeroes the whole
// record first (one fixed-size clear, cheaper than clearing each field's
// tail) and then copies each field over the zeros; nothing is read past
// the bytes the decoder was given.
#ifndef KVI_STORAGE_FIELD_DECODE_H
#define KVI_STORAGE_FIELD_DECODE_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kvi {

// Zeroes a record of a fixed size with plain 16-byte stores: the string
// instruction a compiler may pick for a memset of this size has a start-up
// cost larger than the whole decode of a small record.
template <class Record>
inline void ClearRecord(Record& r) {
#if defined(__SSE2__) && defined(__GNUC__)
    static_assert(sizeof(Record) >= 16, "records are larger than one store");
    char* const p = reinterpret_cast<char*>(&r);
    const __m128i zero = _mm_setzero_si128();
#pragma GCC unroll 32
    for (size_t i = 0; i + 16 <= sizeof(Record); i += 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), zero);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + sizeof(Record) - 16), zero);
#else
    std::memset(&r, 0, sizeof r);
#endif
}

// Copies a text that ends with its NUL within the first min(fieldSize,
// left) bytes of in into a field that holds zeros. Returns the bytes taken
// (NUL included), or 0 when no NUL lies within them (the field then holds
// part of the text: the caller refuses the record).
//
// Sixteen or eight bytes at a time: a decode runs over every text of a book
// at each open, and a scan and a copy per field cost more than the read of
// the file. Whole chunks are only read and written within both bounds.
inline uint32_t TakeTextOverZeros(char* field, uint32_t fieldSize, const uint8_t* in, uint32_t left) {
    const uint32_t room = left < fieldSize ? left : fieldSize;
    uint32_t n = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; n + 16 <= room; n += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + n));
        const unsigned nul = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)));
        if (nul) {
            const int k = __builtin_ctz(nul);  // the NUL's byte: keep the bytes before it
            const __m128i index = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
            v = _mm_and_si128(v, _mm_cmplt_epi8(index, _mm_set1_epi8(static_cast<char>(k))));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(field + n), v);
            return n + static_cast<uint32_t>(k) + 1;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(field + n), v);
    }
#endif
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    for (; n + 8 <= room; n += 8) {
        uint64_t w;
        std::memcpy(&w, in + n, 8);
        // Bit 7 of a byte is set where w has a zero byte; the lowest is exact.
        const uint64_t nul = (w - 0x0101010101010101ull) & ~w & 0x8080808080808080ull;
        if (nul) {
            const unsigned k = static_cast<unsigned>(__builtin_ctzll(nul)) >> 3;
            w = k ? w & (~0ull >> (64 - 8 * k)) : 0;
            std::memcpy(field + n, &w, 8);
            return n + k + 1;
        }
        std::memcpy(field + n, &w, 8);
    }
#endif
    for (; n < room; ++n) {
        const uint8_t c = in[n];
        if (c == 0) return n + 1;
        field[n] = static_cast<char>(c);
    }
    return 0;
}

// The bytes of the text at in up to and including its NUL, when the NUL
// lies within the first `room` bytes; else 0. TakeTextOverZeros without
// the copy, for the checks that let a load leave its records undecoded.
inline uint32_t TextBytes(const uint8_t* in, uint32_t room) {
    uint32_t n = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; n + 16 <= room; n += 16) {
        const unsigned nul = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + n)), zero)));
        if (nul) return n + static_cast<uint32_t>(__builtin_ctz(nul)) + 1;
    }
#endif
    for (; n < room; ++n)
        if (in[n] == 0) return n + 1;
    return 0;
}

}  // namespace kvi

#endif
