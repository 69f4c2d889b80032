// The record decoders as they stood before the one-pass decoders: a
// field reader per record that scans each text for its NUL, then copies
// it. Kept for the tests and the fuzz target that compare the two (same
// records, same refusals), and for the comparison of whole export runs.
#ifndef KVI_TESTS_SUPPORT_REFERENCE_DECODERS_H
#define KVI_TESTS_SUPPORT_REFERENCE_DECODERS_H

#include <cstdint>

#include "kviabdb.h"

namespace kvi::reference {

uint32_t DecodeAddress(AddressRecord& r, const uint8_t* bytes, uint32_t available);
uint32_t DecodeAffix(AffixEntry& r, const uint8_t* bytes, uint32_t available);
uint32_t DecodeUser(SecurityEntry& r, const uint8_t* bytes, uint32_t available);
uint32_t DecodeFolder(FolderSecurityEntry& r, const uint8_t* bytes, uint32_t available);

}  // namespace kvi::reference

#endif
