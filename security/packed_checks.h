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
