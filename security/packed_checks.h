// The checks a load makes instead of decoding the packed records: each
// answers what its decoder (packed_records.h) would for the same bytes,
// the record's length or 0, without copying a field. The id of a record
// is its bytes 4 to 7. Inline: they run once per record of every open.
#ifndef KVI_SECURITY_PACKED_CHECKS_H
#define KVI_SECURITY_PACKED_CHECKS_H

#include <cstdint>
#include <cstring>

#include "kviabdb.h"
#include "security/packed_records.h"
#include "storage/field_decode.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kvi {

// The record's length when it is acceptable for a section of this maximum.
inline uint32_t PackedRecordLength(const uint8_t* bytes, uint32_t available, uint32_t maximum) {
    if (available < kPackedHeaderSize) return 0;
    uint32_t length;
    std::memcpy(&length, bytes, 4);
    if (length < kPackedHeaderSize || length > maximum || length > available) return 0;
    return length;
}

// The decoders' walk over a record's fields, without the copies: a field
// is read while the length lasts and must end within it.
class FieldCheck {
public:
    FieldCheck(const uint8_t* bytes, uint32_t length) : bytes_(bytes), length_(length), at_(kPackedHeaderSize) {}
    bool Text(uint32_t fieldSize) {
        if (at_ >= length_) return true;
        const uint32_t left = length_ - at_;
        const uint32_t taken = TextBytes(bytes_ + at_, left < fieldSize ? left : fieldSize);
        at_ += taken;
        return taken != 0;
    }
    // The last text: it ends inside its field when the record's last byte
    // is a NUL within the field's reach, as Encode writes it; else look.
    bool LastText(uint32_t fieldSize) {
        if (at_ < length_ && length_ - at_ <= fieldSize && bytes_[length_ - 1] == 0) return true;
        return Text(fieldSize);
    }
    bool Value(uint32_t size) {
        if (at_ >= length_) return true;
        if (length_ - at_ < size) return false;
        at_ += size;
        return true;
    }

private:
    const uint8_t* bytes_;
    uint32_t length_;
    uint32_t at_;
};

inline uint32_t CheckAffix(const uint8_t* bytes, uint32_t available) {
    const uint32_t length = PackedRecordLength(bytes, available, kMaxAffixRecord);
    if (!length) return 0;
    FieldCheck in(bytes, length);
    return in.Text(sizeof AffixEntry::name) && in.LastText(sizeof AffixEntry::affixText) ? length : 0;
}

inline uint32_t CheckUser(const uint8_t* bytes, uint32_t available) {
    const uint32_t length = PackedRecordLength(bytes, available, kMaxUserRecord);
    if (!length) return 0;
    FieldCheck in(bytes, length);
    return in.Text(sizeof SecurityEntry::name) && in.Text(sizeof SecurityEntry::password) && in.Value(4) &&
                   in.Value(2) && in.LastText(sizeof SecurityEntry::extraText)
               ? length
               : 0;
}

inline uint32_t CheckFolder(const uint8_t* bytes, uint32_t available) {
    const uint32_t length = PackedRecordLength(bytes, available, kMaxFolderRecord);
    if (!length) return 0;
    FieldCheck in(bytes, length);
    return in.Value(4) && in.Value(2) && in.LastText(sizeof FolderSecurityEntry::path) ? length : 0;
}

// The usual records, as the encoders write them, vouched for without the
// field walk: each answers true only for a record its check accepts with
// this length (in range and within the section, given by the run below),
// and false sends the record to that check. `window` bytes from the record
// on are readable.
namespace packed_check {

#if defined(__SSE2__)
// Bit i set where byte i of the 32 at p is NUL.
inline uint32_t NulBits32(const uint8_t* p) {
    const __m128i zero = _mm_setzero_si128();
    const uint32_t lo = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), zero)));
    const uint32_t hi = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), zero)));
    return lo | hi << 16;
}
#endif

// The last text begins at `from`, inside the record, fits its field and
// ends with the record's last byte.
inline bool LastTextFits(const uint8_t* bytes, uint32_t from, uint32_t length, uint32_t fieldSize) {
    return from < length && length - from <= fieldSize && bytes[length - 1] == 0;
}

struct PlainFolder {
    static constexpr uint32_t kMaximum = kMaxFolderRecord;
    static constexpr uint32_t kWindow = 0;
    // Values and a path: nothing to look at but the path's end.
    static bool Plain(const uint8_t* bytes, uint32_t length) {
        return LastTextFits(bytes, kPackedHeaderSize + 6, length, sizeof FolderSecurityEntry::path);
    }
};

#if defined(__SSE2__)
struct PlainAffix {
    static constexpr uint32_t kMaximum = kMaxAffixRecord;
    static constexpr uint32_t kWindow = kPackedHeaderSize + 32;
    // The name's NUL within its 31 bytes (one mask covers them), then the
    // affix text to the record's end.
    static bool Plain(const uint8_t* bytes, uint32_t length) {
        const uint32_t name = static_cast<uint32_t>(__builtin_ctz(NulBits32(bytes + kPackedHeaderSize) | 1u << 31));
        return name < sizeof AffixEntry::name &&
               LastTextFits(bytes, kPackedHeaderSize + name + 1, length, sizeof AffixEntry::affixText);
    }
};

struct PlainUser {
    static constexpr uint32_t kMaximum = kMaxUserRecord;
    static constexpr uint32_t kWindow = kPackedHeaderSize + 32;
    // Name and password within 32 bytes: one mask holds both NULs. The
    // two values must lie wholly inside the record, then the extra text
    // runs to its end.
    static bool Plain(const uint8_t* bytes, uint32_t length) {
        const uint64_t nul = NulBits32(bytes + kPackedHeaderSize) | uint64_t(1) << 40;
        const uint32_t name = static_cast<uint32_t>(__builtin_ctzll(nul));
        const uint32_t password = static_cast<uint32_t>(__builtin_ctzll(nul >> (name + 1) | uint64_t(1) << 40));
        const uint32_t values = kPackedHeaderSize + name + 1 + password + 1;
        return name < sizeof SecurityEntry::name && password < sizeof SecurityEntry::password &&
               LastTextFits(bytes, values + 6, length, sizeof SecurityEntry::extraText);
    }
};
#else
// Without the wide reads every affix and user goes through its check.
struct PlainAffix {
    static constexpr uint32_t kMaximum = kMaxAffixRecord;
    static constexpr uint32_t kWindow = 0;
    static bool Plain(const uint8_t*, uint32_t) { return false; }
};
struct PlainUser {
    static constexpr uint32_t kMaximum = kMaxUserRecord;
    static constexpr uint32_t kWindow = 0;
    static bool Plain(const uint8_t*, uint32_t) { return false; }
};
#endif

}  // namespace packed_check

// The plain records of a section from *at on, at most room of them, in one
// tight loop (Plain is one of packed_check's kinds): their offsets and ids
// (bytes 4 to 7, or nextId, nextId + 1, ... when numbering) go to offsets
// and ids, *at moves past them, and the count is returned. The first
// record Plain cannot vouch for ends the run; its check takes that one.
template <class Plain, bool kNumbering>
inline uint32_t CheckPackedRun(const uint8_t* section, uint32_t size, uint32_t* at, uint32_t room, uint32_t* offsets,
                               uint32_t* ids, uint32_t nextId) {
    constexpr uint32_t kReach = Plain::kWindow > kPackedHeaderSize ? Plain::kWindow : kPackedHeaderSize;
    if (size < kReach) return 0;
    // A pointer, not an offset: the next record's place waits on this
    // one's length, and a widened offset would lengthen that chain.
    const uint8_t* p = section + *at;
    const uint8_t* const end = section + size;
    const uint8_t* const last = end - kReach;  // a record at p <= last has its window
    uint32_t k = 0;
    for (; k < room && p <= last; ++k) {
        uint32_t length;
        std::memcpy(&length, p, 4);
        if (length - kPackedHeaderSize > Plain::kMaximum - kPackedHeaderSize ||
            length > static_cast<uint32_t>(end - p) || !Plain::Plain(p, length))
            break;
        offsets[k] = static_cast<uint32_t>(p - section);
        if (kNumbering) {
            ids[k] = nextId + k;
        } else {
            std::memcpy(&ids[k], p + 4, 4);
        }
        p += length;
    }
    *at = static_cast<uint32_t>(p - section);
    return k;
}

// The path of a folder record that CheckFolder accepted, read in place:
// the same text DecodeFolder gives (it ends inside the record), or empty
// when the record ends before it.
inline const char* CheckedFolderPath(const uint8_t* bytes) {
    constexpr uint32_t kPathAt = kPackedHeaderSize + 4 + 2;
    uint32_t length;
    std::memcpy(&length, bytes, 4);
    return length > kPathAt ? reinterpret_cast<const char*>(bytes + kPathAt) : "";
}

}  // namespace kvi

#endif
