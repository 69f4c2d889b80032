// Field copies of a user (SecurityEntry, 112 bytes) across the boundary.
// A caller's text longer than its field is cut (name 20, password 10,
// extraText 64 characters) and always terminated.
#ifndef KVI_SECURITY_SECURITY_ENTRY_H
#define KVI_SECURITY_SECURITY_ENTRY_H

#include <cstdint>

#include "kviabdb.h"

namespace kvi {

constexpr uint32_t kSecurityEntrySize = sizeof(SecurityEntry);  // 112

// A zeroed book record with this id and the caller's fields.
void BuildUser(SecurityEntry& user, const SecurityEntry& entry, uint32_t id);
// Copies texts, extraWord and extraValue of a book record into out.
void CopyUserFieldsOut(const SecurityEntry& user, SecurityEntry& out);
// Puts the terminator in the last byte of each text of a copied item.
void TerminateUser(SecurityEntry& item);

}  // namespace kvi

#endif
