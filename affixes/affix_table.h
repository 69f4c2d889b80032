// The two dialing affix tables of the security book (prefixes, suffixes):
// one set of operations for both. Names are unique per table under
// ComparePadded; an entry conflicts with one of the same name and another
// id. At most 800 entries per table. Ids come from the section's lastId
// and are never given twice.
#ifndef KVI_AFFIXES_AFFIX_TABLE_H
#define KVI_AFFIXES_AFFIX_TABLE_H

#include <cstdint>

#include "address/compare_padded.h"
#include "kviabdb.h"
#include "storage/book_table.h"
#include "storage/df_format.h"

namespace kvi {

// The name rule's key.
struct AffixKey {
    static bool HasKey(const AffixEntry&) { return true; }
    static uint32_t KeyHash(const AffixEntry& r) { return PaddedHash(r.name, 0); }
};
using AffixTable = BookTable<AffixEntry, AffixKey>;

constexpr uint32_t kMaxAffixEntries = 800;

// Cuts name to 30 and affixText to 64 characters: the last byte of each
// field becomes the terminator; the other bytes stay as given.
void TerminateAffix(AffixEntry& entry);

// The first entry with entry.id: all 104 bytes into entry; 1 or 0
// (entry untouched).
int FindAffix(const AffixTable& table, AffixEntry& entry);
// The first entry that conflicts with entry (same name, other id).
int FindAffixByName(const AffixTable& table, AffixEntry& entry);
// kEditDone (the table takes entry, which gets lastId + 1), kEditFull,
// kEditDuplicate; kEditRefused when no id is left.
int32_t InsertAffix(AffixTable& table, DfDirectoryEntry& section, AffixEntry* entry);
// kEditDuplicate (tested first), kEditDone (the old entry is freed and
// entry takes its place), kEditRefused (no entry has the id).
int32_t ReplaceAffix(AffixTable& table, AffixEntry* entry);
// Removes and frees the entry with this id; 1, or 0 when there is none.
int RemoveAffix(AffixTable& table, DfDirectoryEntry& section, uint32_t id);

}  // namespace kvi

#endif
