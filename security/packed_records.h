// The packed records of the prefix, suffix, user and folder sections of
// the security book. Each begins with u32 length (the whole record, these
// bytes included) and u32 id, then the fields of its type in order; texts
// carry their NUL and no padding, so the length varies:
//   affix   name, affixText                                8 + n+1 + t+1
//   user    name, password, u32 extraValue, u16 extraWord,
//           extraText                                      14 + n+1 + p+1 + x+1
//   folder  u32 extraValue, u16 extraWord, path            14 + path+1
// A record never exceeds its section's maximum (the size of the structure).
#ifndef KVI_SECURITY_PACKED_RECORDS_H
#define KVI_SECURITY_PACKED_RECORDS_H

#include <cstdint>

#include "kviabdb.h"

namespace kvi {

constexpr uint32_t kPackedHeaderSize = 8;  // length and id

// Largest packed record of each section: also its SectionReader chunk.
constexpr uint32_t kMaxAffixRecord = sizeof(AffixEntry);
constexpr uint32_t kMaxUserRecord = sizeof(SecurityEntry);
constexpr uint32_t kMaxFolderRecord = sizeof(FolderSecurityEntry);

// Decode the record at bytes (`available` of them readable) into r,
// zeroed first. The record's length is stored in r.size. A field the
// length does not reach stays zero. Returns the record's length (where the
// next one starts), or 0 when the bytes are not a record of the section:
// length below 8, above the section's maximum or past `available`; a field
// that runs past the length; a text without its NUL inside its field.
uint32_t DecodeAffix(AffixEntry& r, const uint8_t* bytes, uint32_t available);
uint32_t DecodeUser(SecurityEntry& r, const uint8_t* bytes, uint32_t available);
uint32_t DecodeFolder(FolderSecurityEntry& r, const uint8_t* bytes, uint32_t available);

// The decoders the sections are read with: the three above, unless a test
// that compares whole runs with the former decoders puts those here.
struct PackedDecoders {
    uint32_t (*affix)(AffixEntry&, const uint8_t*, uint32_t);
    uint32_t (*user)(SecurityEntry&, const uint8_t*, uint32_t);
    uint32_t (*folder)(FolderSecurityEntry&, const uint8_t*, uint32_t);
};
PackedDecoders& SectionDecoders();

// Write the packed record into out (room for the section's maximum),
// store its length in r.size and return it. Texts are measured within
// their fields, so an unterminated field is cut at its last byte.
uint32_t EncodeAffix(AffixEntry& r, uint8_t* out);
uint32_t EncodeUser(SecurityEntry& r, uint8_t* out);
uint32_t EncodeFolder(FolderSecurityEntry& r, uint8_t* out);

}  // namespace kvi

#endif
