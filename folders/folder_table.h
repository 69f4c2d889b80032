// The folder security table of the security book. Entries are kept in
// table order with no limit and no uniqueness rule; ids are lastId + 1 of
// the folder section, and may come back after the last entry is deleted
// (the section writer sets lastId to the last entry's id).
#ifndef KVI_FOLDERS_FOLDER_TABLE_H
#define KVI_FOLDERS_FOLDER_TABLE_H

#include <cstdint>

#include "kviabdb.h"
#include "storage/df_format.h"
#include "storage/book_table.h"

namespace kvi {

using FolderTable = BookTable<FolderSecurityEntry, IdOnlyKey<FolderSecurityEntry>>;

// Gives entry lastId + 1 and appends it; the table takes it. 0 (entry not
// taken) when the table could not grow or no id is left.
int InsertFolder(FolderTable& table, DfDirectoryEntry& section, FolderSecurityEntry* entry);
// Takes the entry out (later ones move up) and frees it.
void RemoveFolder(FolderTable& table, DfDirectoryEntry& section, FolderSecurityEntry* entry);
FolderSecurityEntry* FindFolder(const FolderTable& table, uint32_t id);
// Entry at position p gets id p + 1.
void ResetFolderIds(FolderTable& table);
// The path is not empty and names no directory: nothing is there, or a
// file is. A path the system cannot answer for (no search permission on a
// parent, an I/O error) is not stale. An empty path is never stale.
bool IsStaleFolder(const FolderSecurityEntry& entry);
bool IsStalePath(const char* path);
// The entry's path, read where the entry is stored: a walk that tests
// every path need not decode the entries it removes.
const char* StoredPath(const FolderTable& table, const FolderSecurityEntry* entry);

// Walks the table once in order and calls keep(entry) for every entry that
// is not stale. Stale entries are removed from the book when mayRemove, in
// one compacting pass (the others keep their order), else only skipped.
// Once keep answers false it is not called again and nothing more is
// removed. Returns the number of entries removed.
template <class Keep>
uint32_t WalkFolders(FolderTable& table, DfDirectoryEntry& section, bool mayRemove, Keep keep) {
    // Each entry costs a stat, after which the next entry's path is no
    // longer in the caches: the path a few entries ahead is fetched while
    // the system call runs. The walk goes in order and writes no
    // position beyond the one it is at, so those ahead hold their entries.
    constexpr uint32_t kAhead = 4;
    const uint32_t count = table.Count();
    uint32_t at = 0;
    bool going = true;
    const uint32_t removed = table.RemoveIfAsStored([&](const FolderSecurityEntry* entry) {
        if (at + kAhead < count) {
            const char* path = StoredPath(table, table.StoredAt(at + kAhead));
            __builtin_prefetch(path);
            __builtin_prefetch(path + 63);  // a path of everyday length ends in the next line
        }
        ++at;
        if (!going) return false;
        if (IsStalePath(StoredPath(table, entry))) return mayRemove;
        going = keep(table.Read(entry));
        return false;
    });
    section.count = section.count > removed ? section.count - removed : 0;
    return removed;
}

}  // namespace kvi

#endif
