// Exports of folder security (500 to 508). Checks run in the library's
// fixed order; the first that fails answers 0 (or does nothing) and
// changes nothing. A handle names a folder list only when it is live and
// its snapshot holds folder entries; the count and valid-at functions are
// the security book's shared ones, and destroy frees any list of the
// security book.
#include <cstring>
#include <new>

#include "api/copy_out.h"
#include "folders/folder_table.h"
#include "frame/book_locks.h"
#include "frame/buffer_check.h"
#include "frame/process_state.h"
#include "kviabdb.h"
#include "security/security_book_file.h"
#include "security/security_lists.h"

namespace {

using kvi::FolderTable;
using kvi::ListSnapshot;
using kvi::SecurityBook;
using kvi::SecurityBookReady;

constexpr uint32_t kFolderSize = sizeof(FolderSecurityEntry);  // 276

ListSnapshot* FolderList(KviListHandle handle) { return kvi::ListOfKind(handle, kvi::ListKind::kFolder); }

// An item of a new list: the whole path field, so a 261-character path
// keeps its terminator.
void FillItem(uint8_t* bytes, const FolderSecurityEntry& entry) {
    FolderSecurityEntry item;
    std::memset(&item, 0, sizeof item);
    item.size = kFolderSize;
    item.id = entry.id;
    item.extraValue = entry.extraValue;
    item.extraWord = entry.extraWord;
    std::memcpy(item.path, entry.path, sizeof item.path);
    std::memcpy(bytes, &item, sizeof item);
}

}  // namespace

extern "C" KviListHandle KVI_API CreateFolderSecurityList() {
    if (!kvi::IsInitialized()) return 0;
    if (!SecurityBookReady()) return 0;
    FolderTable& folders = *SecurityBook()->Folders();
    ListSnapshot* list = ListSnapshot::Create(folders.Count(), kFolderSize, kvi::ListKind::kFolder);
    if (!list) return 0;
    // Stale entries leave the book here, in one compacting pass, but only
    // for the holder of the lock; without it they are just left out of
    // the list. Each entry that was in the table is tested once.
    const bool mayDelete = kvi::IsSecurityBookLockedByMe() != 0;
    int32_t slot = 0;
    bool listed = true;
    const uint32_t removed =
        kvi::WalkFolders(folders, *SecurityBook()->FolderSection(), mayDelete, [&](const FolderSecurityEntry& entry) {
            uint8_t* bytes = list->ItemAt(slot++);
            if (!bytes) return listed = false;
            FillItem(bytes, entry);
            return true;
        });
    if (removed > 0) SecurityBook()->SetModified(1);
    if (!listed) {
        delete list;
        return 0;
    }
    return kvi::PublishList(list);
}

extern "C" void KVI_API DestroyFolderSecurityList(KviListHandle handle) {
    if (!kvi::IsInitialized() || handle == 0 || !SecurityBookReady()) return;
    // A list handle carries no kind: any list of the security book is freed.
    ListSnapshot* list = kvi::SecurityBookList(handle);
    if (list) kvi::DestroyList(handle, list);
}

extern "C" int32_t KVI_API GetFolderSecurity(FolderSecurityEntry* entry) {
    if (!SecurityBookReady()) return 0;
    if (!kvi::IsWritableBuffer(entry, kFolderSize) || !entry) return 0;
    if (!SecurityBook() || !kvi::IsInitialized()) return 0;
    if (entry->id == 0) return 0;
    entry->size = kFolderSize;
    const FolderSecurityEntry* folder = kvi::FindFolder(*SecurityBook()->Folders(), entry->id);
    if (!folder) return 0;
    entry->extraValue = folder->extraValue;
    entry->extraWord = folder->extraWord;
    kvi::CopyTextOut(entry->path, folder->path);
    return 1;
}

extern "C" int32_t KVI_API ResetFolderSecurityId() {
    if (!SecurityBookReady() || !kvi::IsSecurityBookLockedByMe()) return 0;
    if (!SecurityBook() || !kvi::IsInitialized()) return 0;
    // Neither lastId nor the modified flag: the ids reach the file with
    // the next write made for another reason.
    kvi::ResetFolderIds(*SecurityBook()->Folders());
    return 1;
}

extern "C" int32_t KVI_API FolderSecurityListCount(KviListHandle handle) { return kvi::SecurityBookListCount(handle); }

extern "C" int32_t KVI_API FolderSecurityListValidAt(KviListHandle handle, int32_t index) {
    return kvi::SecurityBookListValidAt(handle, index);
}

extern "C" int32_t KVI_API FolderSecurityListItem(KviListHandle handle, int32_t index, FolderSecurityEntry* item) {
    if (!SecurityBookReady()) return 0;
    if (!kvi::IsWritableBuffer(item, kFolderSize) || !item) return 0;
    ListSnapshot* list = FolderList(handle);
    if (!list || !kvi::IsInitialized() || handle == 0) return 0;
    if (list->Count() == 0) return 0;
    return list->CopyOut(index, item);
}

extern "C" int32_t KVI_API AddFolderSecurityEntry(FolderSecurityEntry* entry, KviListHandle handle,
                                                  uint32_t* indexOut) {
    if (!SecurityBookReady() || !kvi::IsSecurityBookLockedByMe()) return 0;
    if (!kvi::IsWritableBuffer(entry, kFolderSize) || !entry) return 0;
    ListSnapshot* list = nullptr;
    if (handle != 0) {
        list = FolderList(handle);
        if (!list) return 0;
        if (!kvi::IsWritableBuffer(indexOut, 4) || !indexOut) return 0;
    }
    if (!SecurityBook() || !kvi::IsInitialized()) return 0;
    entry->id = 0;
    FolderSecurityEntry* folder = new (std::nothrow) FolderSecurityEntry;
    if (!folder) return 0;
    std::memset(folder, 0, sizeof *folder);
    folder->extraValue = entry->extraValue;
    folder->extraWord = entry->extraWord;
    kvi::CopyText(folder->path, sizeof folder->path, entry->path);  // at most 261 characters
    if (!kvi::InsertFolder(*SecurityBook()->Folders(), *SecurityBook()->FolderSection(), folder)) {
        delete folder;
        return 0;
    }
    SecurityBook()->SetModified(1);
    entry->id = folder->id;
    if (list) {
        // The caller's bytes (its size word too), the path kept terminated.
        FolderSecurityEntry copy;
        std::memcpy(&copy, entry, sizeof copy);
        copy.path[sizeof copy.path - 1] = '\0';
        const int32_t p = list->AddItem(&copy);
        if (p >= 0) kvi::StoreCallerU32(indexOut, static_cast<uint32_t>(p));
    }
    return 1;
}

extern "C" int32_t KVI_API DeleteFolderSecurityEntry(uint32_t id, KviListHandle handle, uint32_t index) {
    if (!SecurityBookReady() || !kvi::IsSecurityBookLockedByMe()) return 0;
    ListSnapshot* list = nullptr;
    if (handle != 0) {
        list = FolderList(handle);
        if (!list) return 0;
        if (list->LastIndex() < 0 || index > static_cast<uint32_t>(list->LastIndex())) return 0;
        const uint8_t* item = list->ItemAt(static_cast<int32_t>(index));
        if (!item || kvi::ItemId(item) != id) return 0;
    }
    if (!SecurityBook() || !kvi::IsInitialized() || id == 0) return 0;
    FolderTable& folders = *SecurityBook()->Folders();
    if (folders.Count() == 0) return 0;
    FolderSecurityEntry* folder = kvi::FindFolder(folders, id);
    if (!folder) return 0;
    kvi::RemoveFolder(folders, *SecurityBook()->FolderSection(), folder);
    SecurityBook()->SetModified(1);
    if (list) list->ReleasePosition(static_cast<int32_t>(index));
    return 1;
}
