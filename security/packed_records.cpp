#include "security/packed_records.h"

#include <cstring>

namespace kvi {
namespace {

// Reads the fields of one record within its length. Every read checks
// the bytes left first, so nothing past the record is touched.
class FieldReader {
public:
    FieldReader(const uint8_t* bytes, uint32_t length) : bytes_(bytes), length_(length), at_(kPackedHeaderSize) {}
    // A field is present only while the record goes on.
    bool More() const { return at_ < length_; }
    bool Text(char* field, uint32_t fieldSize) {
        if (!More()) return true;
        const uint32_t left = length_ - at_;
        const uint32_t room = left < fieldSize ? left : fieldSize;
        const void* nul = std::memchr(bytes_ + at_, '\0', room);
        if (!nul) return false;
        const uint32_t n = static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - (bytes_ + at_)) + 1;
        std::memcpy(field, bytes_ + at_, n);
        at_ += n;
        return true;
    }
    bool Value(void* field, uint32_t size) {
        if (!More()) return true;
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

// The record's length when it is acceptable for a section of this maximum.
uint32_t RecordLength(const uint8_t* bytes, uint32_t available, uint32_t maximum) {
    if (available < kPackedHeaderSize) return 0;
    uint32_t length;
    std::memcpy(&length, bytes, 4);
    if (length < kPackedHeaderSize || length > maximum || length > available) return 0;
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
    std::memset(&r, 0, sizeof r);
    const uint32_t length = RecordLength(bytes, available, kMaxAffixRecord);
    if (!length) return 0;
    r.size = length;
    std::memcpy(&r.id, bytes + 4, 4);
    FieldReader in(bytes, length);
    if (!in.Text(r.name, sizeof r.name) || !in.Text(r.affixText, sizeof r.affixText)) return Reject(r);
    return length;
}

uint32_t DecodeUser(SecurityEntry& r, const uint8_t* bytes, uint32_t available) {
    std::memset(&r, 0, sizeof r);
    const uint32_t length = RecordLength(bytes, available, kMaxUserRecord);
    if (!length) return 0;
    r.size = length;
    std::memcpy(&r.id, bytes + 4, 4);
    FieldReader in(bytes, length);
    const bool ok = in.Text(r.name, sizeof r.name) && in.Text(r.password, sizeof r.password) &&
                    in.Value(&r.extraValue, 4) && in.Value(&r.extraWord, 2) &&
                    in.Text(r.extraText, sizeof r.extraText);
    return ok ? length : Reject(r);
}

uint32_t DecodeFolder(FolderSecurityEntry& r, const uint8_t* bytes, uint32_t available) {
    std::memset(&r, 0, sizeof r);
    const uint32_t length = RecordLength(bytes, available, kMaxFolderRecord);
    if (!length) return 0;
    r.size = length;
    std::memcpy(&r.id, bytes + 4, 4);
    FieldReader in(bytes, length);
    const bool ok = in.Value(&r.extraValue, 4) && in.Value(&r.extraWord, 2) && in.Text(r.path, sizeof r.path);
    return ok ? length : Reject(r);
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
