// The check a load makes instead of decoding an address record: what
// Decode would answer for the same bytes (the bytes consumed, or 0), and
// the id it would give the record, without copying a field. Inline: it
// runs once per record of every open.
#ifndef KVI_ADDRESS_ADDRESS_CHECK_H
#define KVI_ADDRESS_ADDRESS_CHECK_H

#include <cstdint>
#include <cstring>

#include "address/address_record.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The wide run (address_run_wide.cpp) where the compiler can build code
// for one processor feature set beside the common one and ask the
// processor which it has: GCC and clang on x86-64 Linux.
#if defined(__x86_64__) && defined(__GNUC__) && defined(__linux__)
#define KVI_WIDE_MASKS 1
#else
#define KVI_WIDE_MASKS 0
#endif

namespace kvi {

#if defined(__SSE2__)
namespace address_check {

// Bit i set where byte i of the 16 at p is NUL.
inline uint64_t NulBits(const uint8_t* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
}

// Each text with its NUL within its field, given where the five NULs are
// (offsets from the first text).
inline bool TextsFit(uint32_t e0, uint32_t e1, uint32_t e2, uint32_t e3, uint32_t e4) {
    return e0 < sizeof AddressRecord::address && e1 - e0 <= sizeof AddressRecord::phoneNumber &&
           e2 - e1 <= sizeof AddressRecord::extraText1 && e3 - e2 <= sizeof AddressRecord::extraText2 &&
           e4 - e3 <= sizeof AddressRecord::name;
}

// The usual record, as Encode writes it: its five texts fill the bytes
// between the length and the last ten, each ends inside its field, and
// the length leaves room for the three values. Decode then consumes
// exactly the length. False sends the record to the full decode.
inline bool IsPlainEncoding(const uint8_t* bytes, uint32_t length, uint32_t available) {
    if (length < kMinAddressEncoding || length > kMaxAddressEncoding || length > available) return false;
    const uint8_t* t = bytes + 4;
    const uint32_t texts = length - 14;  // the texts with their NULs
    if (texts <= 64) {
        // Most records: every text in one word of NUL bits.
        if (available < 4 + 64) return false;
        uint64_t w = NulBits(t) | NulBits(t + 16) << 16 | NulBits(t + 32) << 32 | NulBits(t + 48) << 48;
        w &= ~uint64_t(0) >> (64 - texts);  // only the NULs of the texts count
        uint32_t e[4];
        for (uint32_t& end : e) {
            if (!w) return false;
            end = static_cast<uint32_t>(__builtin_ctzll(w));
            w &= w - 1;
        }
        // The fifth NUL ends the texts and is the last.
        return w == uint64_t(1) << (texts - 1) && TextsFit(e[0], e[1], e[2], e[3], texts - 1);
    }
    constexpr uint32_t kTextWindow = 160;  // every text of a record of at most 163 bytes
    if (available < 4 + kTextWindow) return false;
    uint64_t words[3] = {
        NulBits(t) | NulBits(t + 16) << 16 | NulBits(t + 32) << 32 | NulBits(t + 48) << 48,
        NulBits(t + 64) | NulBits(t + 80) << 16 | NulBits(t + 96) << 32 | NulBits(t + 112) << 48,
        NulBits(t + 128) | NulBits(t + 144) << 16,
    };
    const uint32_t whole = texts / 64;
    words[whole] &= (uint64_t(1) << (texts % 64)) - 1;
    for (uint32_t w = whole + 1; w < 3; ++w) words[w] = 0;
    uint32_t ends[5];
    uint32_t found = 0;
    for (uint32_t w = 0; w < 3; ++w) {
        for (uint64_t bits = words[w]; bits; bits &= bits - 1) {
            if (found == 5) return false;
            ends[found++] = 64 * w + static_cast<uint32_t>(__builtin_ctzll(bits));
        }
    }
    return found == 5 && ends[4] == texts - 1 && TextsFit(ends[0], ends[1], ends[2], ends[3], ends[4]);
}

// Where a run keeps a record it vouches for: its offset in the section and
// its id (the load's next number when it numbers the records).
template <bool kNumbering>
inline void KeepRunRecord(const uint8_t* section, const uint8_t* p, uint32_t length, uint32_t k, uint32_t nextId,
                          uint32_t* offsets, uint32_t* ids) {
    offsets[k] = static_cast<uint32_t>(p - section);
    if (kNumbering) {
        ids[k] = nextId + k;
    } else {
        std::memcpy(&ids[k], p + length - 4, 4);
    }
}

// The run of usual records with texts of at most 64 bytes (nearly every
// record), checked in one tight loop: IsPlainEncoding's answer for them,
// with the ids and counts in registers. The record must lie 78 bytes or
// more before the end (its whole window and its longest length), so no
// read passes the section. A record outside the run stops it; the full
// check takes that one.
template <bool kNumbering>
inline uint32_t CheckShortRun(const uint8_t* section, uint32_t size, uint32_t* at, uint32_t room, uint32_t* offsets,
                              uint32_t* ids, uint32_t nextId) {
    constexpr uint32_t kReach = 4 + 64 + 10;
    if (size < kReach) return 0;
    const uint8_t* p = section + *at;
    const uint8_t* const last = section + (size - kReach);
    uint32_t k = 0;
    for (; k < room && p <= last; ++k) {
        uint32_t length;
        std::memcpy(&length, p, 4);
        const uint32_t texts = length - 14;  // the texts with their NULs
        if (texts - 5 > 64 - 5) break;       // 19 <= length <= 78
        const uint8_t* t = p + 4;
        uint64_t w = NulBits(t) | NulBits(t + 16) << 16 | NulBits(t + 32) << 32 | NulBits(t + 48) << 48;
        const uint64_t top = uint64_t(1) << (texts - 1);
        w &= (top << 1) - 1;  // only the NULs of the texts count (1 << 64 wraps to 0: all bits)
        // The five NULs, lowest first; the top bit keeps each ctz defined,
        // and a record with fewer or more NULs fails the last test.
        const uint32_t e0 = static_cast<uint32_t>(__builtin_ctzll(w | top));
        w &= w - 1;
        const uint32_t e1 = static_cast<uint32_t>(__builtin_ctzll(w | top));
        w &= w - 1;
        const uint32_t e2 = static_cast<uint32_t>(__builtin_ctzll(w | top));
        w &= w - 1;
        const uint32_t e3 = static_cast<uint32_t>(__builtin_ctzll(w | top));
        w &= w - 1;
        // A phone number within 64 bytes always fits its 65-byte field.
        const bool fits = (e0 < sizeof AddressRecord::address) & (e2 - e1 <= sizeof AddressRecord::extraText1) &
                          (e3 - e2 <= sizeof AddressRecord::extraText2) &
                          (texts - 1 - e3 <= sizeof AddressRecord::name) & (w == top);
        if (!fits) break;
        KeepRunRecord<kNumbering>(section, p, length, k, nextId, offsets, ids);
        p += length;
    }
    *at = static_cast<uint32_t>(p - section);
    return k;
}

#if KVI_WIDE_MASKS
// CheckShortRun with 64-byte masks, where UseWideMasks(): the same answers.
uint32_t CheckShortRunWide(bool numbering, const uint8_t* section, uint32_t size, uint32_t* at, uint32_t room,
                           uint32_t* offsets, uint32_t* ids, uint32_t nextId);
// Whether this processor has AVX-512BW, BMI1 and BMI2 and the wide run is
// allowed: tests switch it off to hold the common run to the same answers.
bool UseWideMasks();
bool& WideMasksAllowed();
#endif

}  // namespace address_check
#endif

// The plain records from *at on, at most room of them: their offsets and
// ids (nextId, nextId + 1, ... when numbering) go to offsets and ids, *at
// moves past them, and the count is returned. Every record counted is one
// CheckEncoding accepts with that length and id; the first it cannot vouch
// for is left to CheckEncoding.
template <bool kNumbering>
inline uint32_t CheckPlainRun(const uint8_t* section, uint32_t size, uint32_t* at, uint32_t room, uint32_t* offsets,
                              uint32_t* ids, uint32_t nextId) {
#if defined(__SSE2__)
#if KVI_WIDE_MASKS
    if (address_check::UseWideMasks())
        return address_check::CheckShortRunWide(kNumbering, section, size, at, room, offsets, ids, nextId);
#endif
    return address_check::CheckShortRun<kNumbering>(section, size, at, room, offsets, ids, nextId);
#else
    (void)section, (void)size, (void)at, (void)room, (void)offsets, (void)ids, (void)nextId;
    return 0;
#endif
}

inline uint32_t CheckEncoding(const uint8_t* bytes, uint32_t available, uint32_t* id) {
#if defined(__SSE2__)
    if (available >= 4) {
        uint32_t length;
        std::memcpy(&length, bytes, 4);
        if (address_check::IsPlainEncoding(bytes, length, available)) {
            std::memcpy(id, bytes + length - 4, 4);
            return length;
        }
    }
#endif
    return CheckByDecoding(bytes, available, id);
}

}  // namespace kvi

#endif
