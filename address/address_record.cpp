#include "address/address_record.h"

#include <cstring>

#include "address/compare_padded.h"
#include "frame/buffer_check.h"
#include "storage/field_decode.h"


namespace kvi {
namespace {

constexpr uint32_t kNameChars = sizeof(AddressRecord::name) - 1;  // 30

const char* SuffixFor(uint16_t type) {
    switch (type) {
        case kConnectionModem: return " (modem)";
        case kConnectionNetwork: return " (network)";
        case kConnectionWireless: return " (wireless)";
        case kConnectionCable: return " (cable)";
        default: return nullptr;
    }
}

void Normalise(AddressRecord& r) {
    if (r.name[0] == '\0') {
        const char* suffix = SuffixFor(r.connectionType);
        if (!suffix) {
            r.connectionType = kConnectionModem;
            suffix = SuffixFor(kConnectionModem);
        }
        const size_t a = strnlen(r.address, sizeof r.address - 1);
        const size_t s = std::strlen(suffix);
        size_t n = a < kNameChars ? a : kNameChars;
        std::memcpy(r.name, r.address, n);
        const size_t take = s < kNameChars - n ? s : kNameChars - n;
        std::memcpy(r.name + n, suffix, take);
        r.name[n + take] = '\0';
    }
    if (r.phoneNumber[0] != '\0' && r.connectionType == kConnectionUnset) r.connectionType = kConnectionModem;
}

uint8_t* PutText(uint8_t* out, const char* field, size_t fieldSize) {
    const size_t n = strnlen(field, fieldSize - 1);
    std::memcpy(out, field, n);
    out[n] = '\0';
    return out + n + 1;
}

}  // namespace

void Clear(AddressRecord& r) { std::memset(&r, 0, sizeof r); }
void SetId(AddressRecord& r, uint32_t id) { r.id = id; }
void SetName(AddressRecord& r, const char* text) { CopyText(r.name, sizeof r.name, text); }
void SetAddress(AddressRecord& r, const char* text) { CopyText(r.address, sizeof r.address, text); }
void SetPhoneNumber(AddressRecord& r, const char* text) { CopyText(r.phoneNumber, sizeof r.phoneNumber, text); }
void SetExtraText1(AddressRecord& r, const char* text) { CopyText(r.extraText1, sizeof r.extraText1, text); }
void SetExtraText2(AddressRecord& r, const char* text) { CopyText(r.extraText2, sizeof r.extraText2, text); }
void SetConnectionType(AddressRecord& r, uint16_t value) { r.connectionType = value; }
void SetExtraValue(AddressRecord& r, uint32_t value) { r.extraValue = value; }

void BuildFromEntry(AddressRecord& r, const AddressRecord& entry, uint32_t id) {
    Clear(r);
    SetId(r, id);
    SetName(r, entry.name);
    SetAddress(r, entry.address);
    SetPhoneNumber(r, entry.phoneNumber);
    SetExtraText1(r, entry.extraText1);
    SetExtraText2(r, entry.extraText2);
    SetConnectionType(r, entry.connectionType);
    SetExtraValue(r, entry.extraValue);
}

void CopyFieldsOut(const AddressRecord& record, AddressRecord& out) {
    std::memcpy(out.name, record.name, sizeof out.name);
    std::memcpy(out.address, record.address, sizeof out.address);
    std::memcpy(out.phoneNumber, record.phoneNumber, sizeof out.phoneNumber);
    std::memcpy(out.extraText1, record.extraText1, sizeof out.extraText1);
    std::memcpy(out.extraText2, record.extraText2, sizeof out.extraText2);
    out.connectionType = record.connectionType;
    out.extraValue = record.extraValue;
}

uint32_t Encode(AddressRecord& r, uint8_t* out) {
    uint8_t* p = out + 4;
    p = PutText(p, r.address, sizeof r.address);
    p = PutText(p, r.phoneNumber, sizeof r.phoneNumber);
    p = PutText(p, r.extraText1, sizeof r.extraText1);
    p = PutText(p, r.extraText2, sizeof r.extraText2);
    p = PutText(p, r.name, sizeof r.name);
    std::memcpy(p, &r.connectionType, 2);
    std::memcpy(p + 2, &r.extraValue, 4);
    std::memcpy(p + 6, &r.id, 4);
    p += 10;
    const uint32_t length = static_cast<uint32_t>(p - out);
    std::memcpy(out, &length, 4);
    r.size = length;
    return length;
}

uint32_t Decode(AddressRecord& r, const uint8_t* bytes, uint32_t available) {
    // Every field is copied over zeros: a missing one stays cleared.
    ClearRecord(r);
    if (available < 4) return 0;
    uint32_t length;
    std::memcpy(&length, bytes, 4);
    r.size = length;
    // One pass in the order of the encoding. A field is read while the
    // bytes consumed are below the record's length, and may end past it
    // (the consumed count, not the length, places the next record); it
    // must end within the bytes given.
    uint32_t at = 4;
    auto text = [&](char* field, uint32_t fieldSize) {
        if (at >= length) return true;
        const uint32_t taken = TakeTextOverZeros(field, fieldSize, bytes + at, available - at);
        at += taken;
        return taken != 0;
    };
    auto value = [&](void* field, uint32_t width) {
        if (at >= length) return true;
        if (available - at < width) return false;
        std::memcpy(field, bytes + at, width);
        at += width;
        return true;
    };
    if (!text(r.address, sizeof r.address) || !text(r.phoneNumber, sizeof r.phoneNumber) ||
        !text(r.extraText1, sizeof r.extraText1) || !text(r.extraText2, sizeof r.extraText2) ||
        !text(r.name, sizeof r.name) || !value(&r.connectionType, 2) || !value(&r.extraValue, 4) ||
        !value(&r.id, 4)) {
        Clear(r);
        return 0;
    }
    Normalise(r);
    return at;
}

uint32_t CheckByDecoding(const uint8_t* bytes, uint32_t available, uint32_t* id) {
    AddressRecord r;
    const uint32_t consumed = Decode(r, bytes, available);
    *id = r.id;
    return consumed;
}

AddressDecoder& SectionDecoder() {
    static AddressDecoder decoder = Decode;
    return decoder;
}

bool IsDuplicateOf(const AddressRecord& stored, const AddressRecord& candidate) {
    if (stored.connectionType != candidate.connectionType) return false;
    if (stored.connectionType == kConnectionModem) return false;
    if (ComparePadded(stored.address, candidate.address) != 0) return false;
    return stored.id != candidate.id;
}

}  // namespace kvi
