// The book-wide security settings (GlobalSecurity, 296 bytes): their
// defaults and their replacement, which also sets the password of every
// book the process holds.
#ifndef KVI_SECURITY_GLOBAL_SECURITY_H
#define KVI_SECURITY_GLOBAL_SECURITY_H

#include <cstdint>

#include "kviabdb.h"

namespace kvi {

class SecurityBookFile;

constexpr uint32_t kDefaultGlobalMode = 1;
// Bits 0, 1, 3, 14, 15, 17, 20, 21; bit 9 (protection) clear.
constexpr uint32_t kDefaultGlobalFlags = 0x0032C00Bu;
constexpr uint16_t kDefaultExtraWord1 = 18;
constexpr uint16_t kDefaultExtraWord2 = 1;
constexpr uint32_t kPasswordProtectionBit = 0x200u;

void SetGlobalDefaults(GlobalSecurity& g);

// Marks the book modified, hands the new password (cut to 15 characters)
// and bit 9 of flags to every registered book, with the book's current
// password as the old one, then stores all 296 bytes of record and marks
// the global record changed. A book that refuses the password keeps its
// own; the record is replaced all the same. Always 1.
int ReplaceGlobalSecurity(SecurityBookFile& book, const GlobalSecurity& record);

}  // namespace kvi

#endif
