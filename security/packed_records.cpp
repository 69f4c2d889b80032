#include "security/packed_records.h"

#include <cstring>

#include "security/packed_checks.h"
#include "storage/field_decode.h"

namespace kvi {
namespace {

// One pass over one record's fields, within its length, over a record
// that Begin zeroed: each field is copied or, once the length is reached,
// left cleared; a field that runs past the length fails the record.
class FieldCursor {
public:
    FieldCursor(const uint8_t* bytes, uint32_t length) : bytes_(bytes), length_(length), at_(kPackedHeaderSize) {}
    bool Text(char* field, uint32_t fieldSize) {
        if (at_ >= length_) return true;
        const uint32_t taken = TakeTextOverZeros(field, fieldSize, bytes_ + at_, length_ - at_);
        at_ += taken;
        return taken != 0;
    }
    bool Value(void* field, uint32_t size) {
        if (at_ >= length_) return true;
        if (length_ - at_ < size) return false;
        std::memcpy(field, bytes_ + at_, size);
        at_ += size;
        return true;
    }

private:
    const uint8_t* bytes_;
    uint32_t length_;
    uint32_t at_;
};

// Zeroes r and reads length and id of the record, or answers 0 when its
// length is refused.
template <class Record>
uint32_t Begin(Record& r, const uint8_t* bytes, uint32_t available, uint32_t maximum) {
    ClearRecord(r);
    const uint32_t length = PackedRecordLength(bytes, available, maximum);
    if (!length) return 0;
    r.size = length;
    std::memcpy(&r.id, bytes + 4, 4);
    return length;
}

uint8_t* PutText(uint8_t* out, const char* field, size_t fieldSize) {
    const size_t n = strnlen(field, fieldSize - 1);
    std::memcpy(out, field, n);
    out[n] = '\0';
    return out + n + 1;
}

uint8_t* PutValue(uint8_t* out, const void* value, size_t size) {
    std::memcpy(out, value, size);
    return out + size;
}

template <class Record>
uint32_t Finish(Record& r, uint8_t* out, uint8_t* end) {
    const uint32_t length = static_cast<uint32_t>(end - out);
    std::memcpy(out, &length, 4);
    std::memcpy(out + 4, &r.id, 4);
    r.size = length;
    return length;
}

template <class Record>
uint32_t Reject(Record& r) {
    std::memset(&r, 0, sizeof r);
    return 0;
}

}  // namespace

uint32_t DecodeAffix(AffixEntry& r, const uint8_t* bytes, uint32_t available) {
    const uint32_t length = Begin(r, bytes, available, kMaxAffixRecord);
    if (!length) return 0;
    FieldCursor in(bytes, length);
    const bool ok = in.Text(r.name, sizeof r.name) && in.Text(r.affixText, sizeof r.affixText);
    return ok ? length : Reject(r);
}

uint32_t DecodeUser(SecurityEntry& r, const uint8_t* bytes, uint32_t available) {
    const uint32_t length = Begin(r, bytes, available, kMaxUserRecord);
    if (!length) return 0;
    FieldCursor in(bytes, length);
    const bool ok = in.Text(r.name, sizeof r.name) && in.Text(r.password, sizeof r.password) &&
                    in.Value(&r.extraValue, 4) && in.Value(&r.extraWord, 2) &&
                    in.Text(r.extraText, sizeof r.extraText);
    return ok ? length : Reject(r);
}

uint32_t DecodeFolder(FolderSecurityEntry& r, const uint8_t* bytes, uint32_t available) {
    const uint32_t length = Begin(r, bytes, available, kMaxFolderRecord);
    if (!length) return 0;
    FieldCursor in(bytes, length);
    const bool ok = in.Value(&r.extraValue, 4) && in.Value(&r.extraWord, 2) && in.Text(r.path, sizeof r.path);
    return ok ? length : Reject(r);
}

PackedDecoders& SectionDecoders() {
    static PackedDecoders decoders = {DecodeAffix, DecodeUser, DecodeFolder};
    return decoders;
}

uint32_t EncodeAffix(AffixEntry& r, uint8_t* out) {
    uint8_t* p = out + kPackedHeaderSize;
    p = PutText(p, r.name, sizeof r.name);
    p = PutText(p, r.affixText, sizeof r.affixText);
    return Finish(r, out, p);
}

uint32_t EncodeUser(SecurityEntry& r, uint8_t* out) {
    uint8_t* p = out + kPackedHeaderSize;
    p = PutText(p, r.name, sizeof r.name);
    p = PutText(p, r.password, sizeof r.password);
    p = PutValue(p, &r.extraValue, 4);
    p = PutValue(p, &r.extraWord, 2);
    p = PutText(p, r.extraText, sizeof r.extraText);
    return Finish(r, out, p);
}

uint32_t EncodeFolder(FolderSecurityEntry& r, uint8_t* out) {
    uint8_t* p = out + kPackedHeaderSize;
    p = PutValue(p, &r.extraValue, 4);
    p = PutValue(p, &r.extraWord, 2);
    p = PutText(p, r.path, sizeof r.path);
    return Finish(r, out, p);
}

}  // namespace kvi
