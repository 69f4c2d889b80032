// The address book entry (AddressRecord, 164 bytes, kviabdb.h): its field
// setters, its encoding in the address section and the duplicate rule.
//
// Encoding of one record, packed and little-endian: u32 length (these 4
// bytes included), then address, phoneNumber, extraText1, extraText2 and
// name, each with its NUL, then u16 connectionType, u32 extraValue and
// u32 id. All texts empty: 19 bytes; all at their maximum: 163 bytes.
#ifndef KVI_ADDRESS_ADDRESS_RECORD_H
#define KVI_ADDRESS_ADDRESS_RECORD_H

#include <cstdint>

#include "kviabdb.h"

namespace kvi {

constexpr uint32_t kAddressRecordSize = sizeof(AddressRecord);
constexpr uint32_t kMaxAddressEncoding = 163;
constexpr uint32_t kMinAddressEncoding = 19;

enum ConnectionType : uint16_t {
    kConnectionUnset = 0,
    kConnectionModem = 1,
    kConnectionNetwork = 2,
    kConnectionWireless = 3,
    kConnectionCable = 4,
};

void Clear(AddressRecord& r);
void SetId(AddressRecord& r, uint32_t id);
// Each text setter empties its field and copies at most the field's width
// minus one characters (a longer text is cut); a null text leaves the
// field empty.
void SetName(AddressRecord& r, const char* text);
void SetAddress(AddressRecord& r, const char* text);
void SetPhoneNumber(AddressRecord& r, const char* text);
void SetExtraText1(AddressRecord& r, const char* text);
void SetExtraText2(AddressRecord& r, const char* text);
void SetConnectionType(AddressRecord& r, uint16_t value);
void SetExtraValue(AddressRecord& r, uint32_t value);

// A record for the book built field by field from a caller's structure
// (never copied whole, so every text ends inside its field).
void BuildFromEntry(AddressRecord& r, const AddressRecord& entry, uint32_t id);
// Copies the fields a caller sees (texts, type, value) from a book record.
void CopyFieldsOut(const AddressRecord& record, AddressRecord& out);

// Writes the encoding into out (at least 163 bytes), stores the length in
// r.size and returns it.
uint32_t Encode(AddressRecord& r, uint8_t* out);

// Decodes the record at bytes, of which `available` are readable (the
// rest of the section), into r and normalises it: an empty name becomes
// the address followed by the type's word (" (modem)" for an unknown type,
// which then becomes modem), cut to 30 characters; a phone number makes an
// unset type modem. Fields are read while the bytes consumed are below the
// record's length, so a record may end after any field (missing fields
// stay cleared) or inside one (the field is read whole); a length of 4 or
// less gives an empty record. Returns the bytes consumed, which place the
// next record, or 0 when a field runs past the available bytes or a text
// has no NUL inside its field.
uint32_t Decode(AddressRecord& r, const uint8_t* bytes, uint32_t available);

// Decode into a scratch record, for the checks of address_check.h: the
// bytes consumed (0 for a refusal) and the record's id.
uint32_t CheckByDecoding(const uint8_t* bytes, uint32_t available, uint32_t* id);

// The decoder the address section is read with: Decode, unless a test that
// compares whole runs with the former decoder puts that one here.
using AddressDecoder = uint32_t (*)(AddressRecord&, const uint8_t*, uint32_t);
AddressDecoder& SectionDecoder();

// True when stored and candidate describe the same party: same
// non-modem type, addresses equal under ComparePadded, different ids.
bool IsDuplicateOf(const AddressRecord& stored, const AddressRecord& candidate);

}  // namespace kvi

#endif
