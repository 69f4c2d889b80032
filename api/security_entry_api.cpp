// Exports of users and security lists (307 to 314, 317, 318). Each makes
// its checks in the library's fixed order and answers its failure value at
// the first that fails, changing nothing. A handle names a security list
// only when it is live and its snapshot holds users; the count, valid-at
// and destroy functions accept any list of the security book.
#include <cstring>
#include <new>

#include "api/copy_out.h"
#include "frame/book_locks.h"
#include "frame/buffer_check.h"
#include "frame/process_state.h"
#include "kviabdb.h"
#include "security/security_book_file.h"
#include "security/security_entry.h"
#include "security/security_lists.h"

namespace {

using kvi::ListSnapshot;
using kvi::SecurityBook;
using kvi::SecurityBookReady;
using kvi::kSecurityEntrySize;

ListSnapshot* UserList(KviListHandle handle) { return kvi::ListOfKind(handle, kvi::ListKind::kSecurity); }

// For an update or delete through a list: index within the list and the
// item there carries id (an empty position gets a blank item first).
bool ListItemCarries(ListSnapshot* list, uint32_t index, uint32_t id) {
    if (index > static_cast<uint32_t>(list->LastIndex()) || list->LastIndex() < 0) return false;
    const uint8_t* item = list->ItemAt(static_cast<int32_t>(index));
    return item && kvi::ItemId(item) == id;
}

// A book user's texts (each with its NUL only), extraWord and extraValue
// into the caller's entry.
void CopyUserOut(const SecurityEntry& user, SecurityEntry& out) {
    kvi::CopyTextOut(out.name, user.name);
    kvi::CopyTextOut(out.password, user.password);
    out.extraValue = user.extraValue;
    out.extraWord = user.extraWord;
    kvi::CopyTextOut(out.extraText, user.extraText);
}

// The caller's 112 bytes as a list item holds them: texts kept terminated.
SecurityEntry ItemOf(const SecurityEntry& entry) {
    SecurityEntry copy;
    std::memcpy(&copy, &entry, sizeof copy);
    kvi::TerminateUser(copy);
    return copy;
}

}  // namespace

extern "C" KviListHandle KVI_API KviDfCreateSecurityList() {
    if (!kvi::IsInitialized() || !SecurityBookReady()) return 0;
    const kvi::SecurityBookFile::UserTable& users = *SecurityBook()->Users();
    const uint32_t n = users.Count();
    ListSnapshot* list = ListSnapshot::Create(n, kSecurityEntrySize, kvi::ListKind::kSecurity);
    if (!list) return 0;
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t* bytes = list->ItemAt(static_cast<int32_t>(i));
        if (!bytes) {
            delete list;
            return 0;
        }
        const SecurityEntry& user = *users.At(static_cast<int32_t>(i));
        SecurityEntry item;
        std::memset(&item, 0, sizeof item);
        item.size = kSecurityEntrySize;
        item.id = user.id;
        kvi::CopyUserFieldsOut(user, item);
        std::memcpy(bytes, &item, sizeof item);
    }
    return kvi::PublishList(list);
}

extern "C" void KVI_API KviDfDestroySecurityList(KviListHandle handle) {
    if (!kvi::IsInitialized() || handle == 0 || !SecurityBookReady()) return;
    // A list handle carries no kind: any list of the security book is freed.
    ListSnapshot* list = kvi::SecurityBookList(handle);
    if (list) kvi::DestroyList(handle, list);
}

extern "C" int32_t KVI_API KviDfSecurityListCount(KviListHandle handle) {
    return kvi::SecurityBookListCount(handle);
}

extern "C" int32_t KVI_API KviDfSecurityListValidAt(KviListHandle handle, int32_t index) {
    return kvi::SecurityBookListValidAt(handle, index);
}

extern "C" int32_t KVI_API KviDfSecurityListItem(KviListHandle handle, int32_t index, SecurityEntry* item) {
    if (!SecurityBookReady()) return 0;
    if (!kvi::IsWritableBuffer(item, kSecurityEntrySize) || !item) return 0;
    ListSnapshot* list = UserList(handle);
    if (!list || !kvi::IsInitialized() || handle == 0) return 0;
    if (list->Count() == 0) return 0;
    return list->CopyOut(index, item);
}

extern "C" int32_t KVI_API KviDfGetSecurity(SecurityEntry* entry) {
    if (!SecurityBookReady()) return 0;
    if (!kvi::IsWritableBuffer(entry, kSecurityEntrySize) || !entry) return 0;
    if (!SecurityBook() || !kvi::IsInitialized()) return 0;
    if (entry->id == 0) return 0;
    entry->size = kSecurityEntrySize;
    const SecurityEntry* user = SecurityBook()->FindUser(entry->id);
    if (!user) return 0;
    CopyUserOut(*user, *entry);
    return 1;
}

extern "C" int32_t KVI_API KviDfGetSecurityByName(SecurityEntry* entry) {
    if (!SecurityBookReady()) return 0;
    if (!kvi::IsWritableBuffer(entry, kSecurityEntrySize) || !entry) return 0;
    if (!SecurityBook() || !kvi::IsInitialized()) return 0;
    SecurityEntry probe;
    std::memset(&probe, 0, sizeof probe);
    kvi::CopyText(probe.name, sizeof probe.name, entry->name);
    if (!SecurityBook()->FindUserByName(probe)) return 0;
    entry->size = kSecurityEntrySize;
    CopyUserOut(probe, *entry);  // the name as the book spells it
    entry->id = probe.id;
    return 1;
}

extern "C" int32_t KVI_API KviDfAddSecurityEntry(SecurityEntry* entry, KviListHandle handle, uint32_t* indexOut) {
    if (!SecurityBookReady() || !kvi::IsSecurityBookLockedByMe()) return 0;
    if (!kvi::IsWritableBuffer(entry, kSecurityEntrySize) || !entry) return 0;
    ListSnapshot* list = nullptr;
    if (handle != 0) {
        list = UserList(handle);
        if (!list) return 0;
        if (!kvi::IsWritableBuffer(indexOut, 4) || !indexOut) return 0;
    }
    if (!SecurityBook() || !kvi::IsInitialized()) return 0;
    entry->id = 0;
    SecurityEntry* user = new (std::nothrow) SecurityEntry;
    if (!user) return 0;
    kvi::BuildUser(*user, *entry, 0);
    const int32_t r = SecurityBook()->InsertUser(user);
    if (r != kvi::kEditDone) {
        delete user;
        return r;
    }
    SecurityBook()->SetModified(1);
    entry->id = user->id;
    if (list) {
        const SecurityEntry item = ItemOf(*entry);
        const int32_t p = list->AddItem(&item);
        if (p >= 0) kvi::StoreCallerU32(indexOut, static_cast<uint32_t>(p));
    }
    return kvi::kEditDone;
}

extern "C" int32_t KVI_API KviDfUpdateSecurity(SecurityEntry* entry, KviListHandle handle, uint32_t index) {
    if (!SecurityBookReady() || !kvi::IsSecurityBookLockedByMe()) return 0;
    if (!kvi::IsWritableBuffer(entry, kSecurityEntrySize) || !entry) return 0;
    ListSnapshot* list = nullptr;
    if (handle != 0) {
        list = UserList(handle);
        if (!list || !ListItemCarries(list, index, entry->id)) return 0;
    }
    if (!SecurityBook() || !kvi::IsInitialized() || entry->id == 0) return 0;
    entry->size = kSecurityEntrySize;
    SecurityEntry* user = new (std::nothrow) SecurityEntry;
    if (!user) return 0;
    kvi::BuildUser(*user, *entry, entry->id);
    const int32_t r = SecurityBook()->ReplaceUser(user);
    if (r != kvi::kEditDone) {
        delete user;
        return r;
    }
    SecurityBook()->SetModified(1);
    if (list) {
        const SecurityEntry copy = ItemOf(*entry);
        list->OverwriteAt(static_cast<int32_t>(index), &copy);
    }
    return kvi::kEditDone;
}

extern "C" int32_t KVI_API KviDfDeleteSecurityEntry(uint32_t id, KviListHandle handle, uint32_t index) {
    if (!SecurityBookReady() || !kvi::IsSecurityBookLockedByMe()) return 0;
    ListSnapshot* list = nullptr;
    if (handle != 0) {
        list = UserList(handle);
        if (!list || !ListItemCarries(list, index, id)) return 0;
    }
    if (!SecurityBook() || !kvi::IsInitialized() || id == 0) return 0;
    SecurityEntry* user = SecurityBook()->FindUser(id);
    if (!user) return 0;
    SecurityBook()->RemoveUser(user);
    SecurityBook()->SetModified(1);
    if (list) list->ReleasePosition(static_cast<int32_t>(index));
    return kvi::kEditDone;
}
