// The folder security table of the security book. Entries are kept in
// table order with no limit and no uniqueness rule; ids are lastId + 1 of
// the folder section, and may come back after the last entry is deleted
// (the section writer sets lastId to the last entry's id).
#ifndef KVI_FOLDERS_FOLDER_TABLE_H
#define KVI_FOLDERS_FOLDER_TABLE_H

#include <cstdint>

#include "kviabdb.h"
#include "storage/df_format.h"
#include "storage/record_table.h"

namespace kvi {

using FolderTable = RecordTable<FolderSecurityEntry*>;

// Gives entry lastId + 1 and appends it; the table takes it. 0 only when
// the table could not grow (entry not taken).
int InsertFolder(FolderTable& table, DfDirectoryEntry& section, FolderSecurityEntry* entry);
// Takes the entry out (later ones move up) and frees it.
void RemoveFolder(FolderTable& table, DfDirectoryEntry& section, FolderSecurityEntry* entry);
FolderSecurityEntry* FindFolder(const FolderTable& table, uint32_t id);
// Entry at position p gets id p + 1.
void ResetFolderIds(FolderTable& table);
// The path is not empty and names no existing directory (missing, or a
// file). An empty path is never stale.
bool IsStaleFolder(const FolderSecurityEntry& entry);

}  // namespace kvi

#endif
