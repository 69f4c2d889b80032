#include "folders/folder_table.h"

#include "platform/platform.h"
#include "security/packed_checks.h"

namespace kvi {

int InsertFolder(FolderTable& table, DfDirectoryEntry& section, FolderSecurityEntry* entry) {
    if (section.lastId >= 0xFFFFFFFEu) return 0;  // 0xFFFFFFFF marks a blank item
    const uint32_t id = section.lastId + 1;
    entry->id = id;
    if (!table.Add(entry)) return 0;
    section.lastId = id;
    ++section.count;
    return 1;
}

void RemoveFolder(FolderTable& table, DfDirectoryEntry& section, FolderSecurityEntry* entry) {
    const uint32_t p = table.PositionOf(entry);
    if (p == kNotFound) return;
    table.RemoveAndFree(p);
    if (section.count > 0) --section.count;
}

FolderSecurityEntry* FindFolder(const FolderTable& table, uint32_t id) {
    const uint32_t p = table.FirstWithId(id);
    return p == kNotFound ? nullptr : table.At(static_cast<int32_t>(p));
}

void ResetFolderIds(FolderTable& table) {
    for (uint32_t i = 0; i < table.Count(); ++i) table.At(static_cast<int32_t>(i))->id = i + 1;
    table.IdsChanged();
}

bool IsStaleFolder(const FolderSecurityEntry& entry) { return IsStalePath(entry.path); }

bool IsStalePath(const char* path) {
    if (path[0] == '\0') return false;
    return platform::QueryFolder(path) == platform::FolderState::kNoFolder;
}

const char* StoredPath(const FolderTable& table, const FolderSecurityEntry* entry) {
    const uint8_t* bytes = table.UndecodedBytes(entry);
    return bytes ? CheckedFolderPath(bytes) : entry->path;
}

}  // namespace kvi
