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

int FindAffix(const AffixTable& table, AffixEntry& entry) {
    for (uint32_t i = 0; i < table.Count(); ++i) {
        const AffixEntry* stored = table.At(static_cast<int32_t>(i));
        if (stored->id == entry.id) {
            std::memcpy(&entry, stored, sizeof entry);
            return 1;
        }
    }
    return 0;
}

int FindAffixByName(const AffixTable& table, AffixEntry& entry) {
    for (uint32_t i = 0; i < table.Count(); ++i) {
        const AffixEntry* stored = table.At(static_cast<int32_t>(i));
        if (Conflicts(*stored, entry)) {
            std::memcpy(&entry, stored, sizeof entry);
            return 1;
        }
    }
    return 0;
}

int32_t InsertAffix(AffixTable& table, DfDirectoryEntry& section, AffixEntry* entry) {
    const uint32_t n = table.Count();
    if (n >= kMaxAffixEntries) return kEditFull;  // before the name
    for (uint32_t i = 0; i < n; ++i)
        if (Conflicts(*table.At(static_cast<int32_t>(i)), *entry)) return kEditDuplicate;
    const uint32_t id = section.lastId + 1;
    entry->id = id;
    if (!table.Append(entry)) return kEditRefused;
    section.lastId = id;
    ++section.count;
    return kEditDone;
}

int32_t ReplaceAffix(AffixTable& table, AffixEntry* entry) {
    const uint32_t n = table.Count();
    for (uint32_t i = 0; i < n; ++i)
        if (Conflicts(*table.At(static_cast<int32_t>(i)), *entry)) return kEditDuplicate;
    for (uint32_t i = 0; i < n; ++i) {
        AffixEntry*& slot = table.At(static_cast<int32_t>(i));
        if (slot->id == entry->id) {
            delete slot;
            slot = entry;
            return kEditDone;
        }
    }
    return kEditRefused;
}

int RemoveAffix(AffixTable& table, DfDirectoryEntry& section, uint32_t id) {
    for (uint32_t i = 0; i < table.Count(); ++i) {
        AffixEntry* stored = table.At(static_cast<int32_t>(i));
        if (stored->id != id) continue;
        table.RemoveAt(i);
        delete stored;
        if (section.count > 0) --section.count;
        return 1;
    }
    return 0;
}

}  // namespace kvi
