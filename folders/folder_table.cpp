#include "folders/folder_table.h"

#include "platform/platform.h"

namespace kvi {

int InsertFolder(FolderTable& table, DfDirectoryEntry& section, FolderSecurityEntry* entry) {
    const uint32_t id = section.lastId + 1;
    entry->id = id;
    if (!table.Append(entry)) return 0;
    section.lastId = id;
    ++section.count;
    return 1;
}

void RemoveFolder(FolderTable& table, DfDirectoryEntry& section, FolderSecurityEntry* entry) {
    const uint32_t p = table.IndexOf(entry);
    if (p == kNotFound) return;
    table.RemoveAt(p);
    delete entry;
    if (section.count > 0) --section.count;
}

FolderSecurityEntry* FindFolder(const FolderTable& table, uint32_t id) {
    for (uint32_t i = 0; i < table.Count(); ++i) {
        FolderSecurityEntry* entry = table.At(static_cast<int32_t>(i));
        if (entry->id == id) return entry;
    }
    return nullptr;
}

void ResetFolderIds(FolderTable& table) {
    for (uint32_t i = 0; i < table.Count(); ++i) table.At(static_cast<int32_t>(i))->id = i + 1;
}

bool IsStaleFolder(const FolderSecurityEntry& entry) {
    // The book keeps path terminated in its last byte.
    if (entry.path[0] == '\0') return false;
    return platform::DirectoryExists(entry.path) == 0;
}

}  // namespace kvi
