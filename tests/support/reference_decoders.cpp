#include "support/reference_decoders.h"

#include <cstring>

namespace kvi::reference {
namespace {

constexpr uint32_t kNameChars = sizeof(AddressRecord::name) - 1;  // 30

const char* SuffixFor(uint16_t type) {
    switch (type) {
        case 1: return " (modem)";
        case 2: return " (network)";
        case 3: return " (wireless)";
        case 4: return " (cable)";
        default: return nullptr;
    }
}

void Normalise(AddressRecord& r) {
    if (r.name[0] == '\0') {
        const char* suffix = SuffixFor(r.connectionType);
        if (!suffix) {
            r.connectionType = 1;
            suffix = SuffixFor(1);
        }
        const size_t a = strnlen(r.address, sizeof r.address - 1);
        const size_t s = std::strlen(suffix);
        size_t n = a < kNameChars ? a : kNameChars;
        std::memcpy(r.name, r.address, n);
        const size_t take = s < kNameChars - n ? s : kNameChars - n;
        std::memcpy(r.name + n, suffix, take);
        r.name[n + take] = '\0';
    }
    if (r.phoneNumber[0] != '\0' && r.connectionType == 0) r.connectionType = 1;
}

// Reads fields from `at` while at < more, each within [bytes, bytes + limit).
class FieldReader {
public:
    FieldReader(const uint8_t* bytes, uint32_t more, uint32_t limit, uint32_t at)
        : bytes_(bytes), more_(more), limit_(limit), at_(at) {}
    bool More() const { return at_ < more_; }
    uint32_t Consumed() const { return at_; }
    bool Text(char* field, uint32_t fieldSize) {
        if (!More()) return true;
        const uint32_t room = limit_ - at_ < fieldSize ? limit_ - at_ : fieldSize;
        const void* nul = std::memchr(bytes_ + at_, 0, room);
        if (!nul) return false;
        const uint32_t n = static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - (bytes_ + at_)) + 1;
        std::memcpy(field, bytes_ + at_, n);
        at_ += n;
        return true;
    }
    bool Value(void* field, uint32_t size) {
        if (!More()) return true;
        if (limit_ - at_ < size) return false;
        std::memcpy(field, bytes_ + at_, size);
        at_ += size;
        return true;
    }

private:
    const uint8_t* bytes_;
    uint32_t more_;
    uint32_t limit_;
    uint32_t at_;
};

uint32_t PackedLength(const uint8_t* bytes, uint32_t available, uint32_t maximum) {
    if (available < 8) return 0;
    uint32_t length;
    std::memcpy(&length, bytes, 4);
    if (length < 8 || length > maximum || length > available) return 0;
    return length;
}

template <class Record>
uint32_t Reject(Record& r) {
    std::memset(&r, 0, sizeof r);
    return 0;
}

}  // namespace

uint32_t DecodeAddress(AddressRecord& r, const uint8_t* bytes, uint32_t available) {
    std::memset(&r, 0, sizeof r);
    if (available < 4) return 0;
    uint32_t length;
    std::memcpy(&length, bytes, 4);
    r.size = length;
    // Fields while the consumed count is below the length, each within
    // the bytes given.
    FieldReader in(bytes, length, available, 4);
    const bool ok = in.Text(r.address, sizeof r.address) && in.Text(r.phoneNumber, sizeof r.phoneNumber) &&
                    in.Text(r.extraText1, sizeof r.extraText1) && in.Text(r.extraText2, sizeof r.extraText2) &&
                    in.Text(r.name, sizeof r.name) && in.Value(&r.connectionType, 2) &&
                    in.Value(&r.extraValue, 4) && in.Value(&r.id, 4);
    if (!ok) return Reject(r);
    Normalise(r);
    return in.Consumed();
}

uint32_t DecodeAffix(AffixEntry& r, const uint8_t* bytes, uint32_t available) {
    std::memset(&r, 0, sizeof r);
    const uint32_t length = PackedLength(bytes, available, sizeof(AffixEntry));
    if (!length) return 0;
    r.size = length;
    std::memcpy(&r.id, bytes + 4, 4);
    FieldReader in(bytes, length, length, 8);
    if (!in.Text(r.name, sizeof r.name) || !in.Text(r.affixText, sizeof r.affixText)) return Reject(r);
    return length;
}

uint32_t DecodeUser(SecurityEntry& r, const uint8_t* bytes, uint32_t available) {
    std::memset(&r, 0, sizeof r);
    const uint32_t length = PackedLength(bytes, available, sizeof(SecurityEntry));
    if (!length) return 0;
    r.size = length;
    std::memcpy(&r.id, bytes + 4, 4);
    FieldReader in(bytes, length, length, 8);
    const bool ok = in.Text(r.name, sizeof r.name) && in.Text(r.password, sizeof r.password) &&
                    in.Value(&r.extraValue, 4) && in.Value(&r.extraWord, 2) &&
                    in.Text(r.extraText, sizeof r.extraText);
    return ok ? length : Reject(r);
}

uint32_t DecodeFolder(FolderSecurityEntry& r, const uint8_t* bytes, uint32_t available) {
    std::memset(&r, 0, sizeof r);
    const uint32_t length = PackedLength(bytes, available, sizeof(FolderSecurityEntry));
    if (!length) return 0;
    r.size = length;
    std::memcpy(&r.id, bytes + 4, 4);
    FieldReader in(bytes, length, length, 8);
    const bool ok = in.Value(&r.extraValue, 4) && in.Value(&r.extraWord, 2) && in.Text(r.path, sizeof r.path);
    return ok ? length : Reject(r);
}

}  // namespace kvi::reference
