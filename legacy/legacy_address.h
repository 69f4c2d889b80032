// The earlier generation's address file, "KVI\KVI.DA1" under the Windows
// directory, as far as the one-time import reads it.
//
// Layout (little-endian): a 30-byte header ("!(^*" at 0, u16 n at 24), n
// index entries of 6 bytes (u16 dataLength, u16 recordCount, u16 unused),
// then the first entry's dataLength bytes of records. A record is a run of
// fields ended by one 0xFF byte; a 0xFF where a field would begin ends the
// record early. Texts are in the OEM code page.
#ifndef KVI_LEGACY_LEGACY_ADDRESS_H
#define KVI_LEGACY_LEGACY_ADDRESS_H

#include <cstdint>

#include "kviabdb.h"

namespace kvi {

#pragma pack(push, 1)
struct LegacyAddressHeader {
    char signature[4];
    uint8_t unused1[20];
    uint16_t indexCount;
    uint8_t unused2[4];
};
struct LegacyIndexEntry {
    uint16_t dataLength;
    uint16_t recordCount;
    uint16_t unused;
};
#pragma pack(pop)
static_assert(sizeof(LegacyAddressHeader) == 30, "legacy header is 30 bytes");
static_assert(sizeof(LegacyIndexEntry) == 6, "legacy index entry is 6 bytes");

// A decoded old record. Texts longer than their field are cut to it.
struct LegacyAddress {
    char address[21];
    char phoneNumber[65];
    char extraText1[21];
    char extraText2[11];
    char name[31];
    char ignoredText[71];
    char ignoredBytes[5];
    uint32_t connectionType;
    uint32_t ignoredValue;
};

// Longer than the longest well-formed record (233 bytes).
constexpr uint32_t kLegacyAddressChunk = 234;
constexpr uint32_t kLegacyAddressExtraValue = 11;

// Decodes the record at bytes, of which `available` may be read, into
// legacy (cleared first). Returns the bytes the record occupies with its
// terminator, or 0 when the record does not end within `available`.
uint32_t DecodeLegacyAddress(LegacyAddress& legacy, const uint8_t* bytes, uint32_t available);

// Fills a cleared AddressRecord from a decoded old record: texts converted
// from the OEM to the ANSI code page (in place in legacy), the type's low
// 16 bits, extraValue 11.
void ConvertLegacyAddress(AddressRecord& record, LegacyAddress& legacy);

// DIR\KVI\<fileName> into buffer (size bytes) from the Windows directory;
// 0 when there is none or it is 260 characters or more.
int BuildLegacyPath(char* buffer, uint32_t size, const char* fileName);

}  // namespace kvi

#endif
