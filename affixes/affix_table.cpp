#include "affixes/affix_table.h"

#include <cstring>

#include "address/address_book_file.h"  // EditResult
#include "address/compare_padded.h"

namespace kvi {
namespace {

bool Conflicts(const AffixEntry& stored, const AffixEntry& entry) {
    return ComparePadded(stored.name, entry.name) == 0 && stored.id != entry.id;
}

}  // namespace

void TerminateAffix(AffixEntry& entry) {
    entry.name[sizeof entry.name - 1] = '\0';
    entry.affixText[sizeof entry.affixText - 1] = '\0';
}

namespace {

// The first entry that conflicts with entry, in table order.
uint32_t FirstConflict(const AffixTable& table, const AffixEntry& entry) {
    return table.FirstWithKey(AffixKey::KeyHash(entry),
                              [&](const AffixEntry& stored) { return Conflicts(stored, entry); });
}

}  // namespace

int FindAffix(const AffixTable& table, AffixEntry& entry) {
    const uint32_t p = table.FirstWithId(entry.id);
    if (p == kNotFound) return 0;
    std::memcpy(&entry, table.At(static_cast<int32_t>(p)), sizeof entry);
    return 1;
}

int FindAffixByName(const AffixTable& table, AffixEntry& entry) {
    const uint32_t p = FirstConflict(table, entry);
    if (p == kNotFound) return 0;
    std::memcpy(&entry, table.At(static_cast<int32_t>(p)), sizeof entry);
    return 1;
}

int32_t InsertAffix(AffixTable& table, DfDirectoryEntry& section, AffixEntry* entry) {
    if (table.Count() >= kMaxAffixEntries) return kEditFull;  // before the name
    if (FirstConflict(table, *entry) != kNotFound) return kEditDuplicate;
    if (section.lastId >= kMaxRecordId) return kEditRefused;
    const uint32_t id = section.lastId + 1;
    entry->id = id;
    if (!table.Add(entry)) return kEditRefused;
    section.lastId = id;
    ++section.count;
    return kEditDone;
}

int32_t ReplaceAffix(AffixTable& table, AffixEntry* entry) {
    if (FirstConflict(table, *entry) != kNotFound) return kEditDuplicate;
    const uint32_t p = table.FirstWithId(entry->id);
    if (p == kNotFound) return kEditRefused;
    table.ReplaceAt(p, entry);
    return kEditDone;
}

int RemoveAffix(AffixTable& table, DfDirectoryEntry& section, uint32_t id) {
    const uint32_t p = table.FirstWithId(id);
    if (p == kNotFound) return 0;
    table.RemoveAndFree(p);
    if (section.count > 0) --section.count;
    return 1;
}

}  // namespace kvi
