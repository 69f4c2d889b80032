// Exports of the dialing prefixes and suffixes (401 to 417). Each prefix
// export has a suffix twin that differs only in its table, section and
// list kind. Checks run in the library's fixed order; the first that fails
// answers the failure value (0, or -1 for KviDfAffixListIndexOf) and
// changes nothing.
//
// Lists: the item and index-of exports take a prefix or a suffix list;
// add, update and delete take a list of their own kind only, so a copy
// never runs past an item of another size. Destroy, which copies nothing,
// frees any list of the security book. A list index below 0 is
// refused; an update may grow a list by at most kMaxAffixEntries slots
// past its end; a delete must name a slot of the list.
#include <cstring>
#include <new>

#include "address/address_book_file.h"  // EditResult
#include "affixes/affix_table.h"
#include "frame/book_locks.h"
#include "frame/buffer_check.h"
#include "frame/process_state.h"
#include "kviabdb.h"
#include "security/security_book_file.h"
#include "security/security_lists.h"

namespace {

using kvi::AffixTable;
using kvi::ListKind;
using kvi::ListSnapshot;
using kvi::SecurityBook;
using kvi::SecurityBookReady;

constexpr uint32_t kAffixSize = sizeof(AffixEntry);  // 104

enum class Side { kPrefix, kSuffix };

ListKind KindOf(Side side) { return side == Side::kPrefix ? ListKind::kPrefix : ListKind::kSuffix; }
AffixTable* TableOf(Side side) {
    return side == Side::kPrefix ? SecurityBook()->Prefixes() : SecurityBook()->Suffixes();
}
kvi::DfDirectoryEntry* SectionOf(Side side) {
    return side == Side::kPrefix ? SecurityBook()->PrefixSection() : SecurityBook()->SuffixSection();
}

ListSnapshot* AnyAffixList(KviListHandle handle) {
    return kvi::ListOfKind(handle, ListKind::kPrefix, ListKind::kSuffix);
}

// The caller's 104 bytes with both texts terminated inside their fields.
void CopyIn(AffixEntry& copy, const AffixEntry& entry) {
    std::memcpy(&copy, &entry, sizeof copy);
    kvi::TerminateAffix(copy);
}

KviListHandle CreateAffixList(Side side) {
    if (!SecurityBookReady()) return 0;
    if (!kvi::IsInitialized()) return 0;
    const AffixTable& table = *TableOf(side);
    const uint32_t n = table.Count();
    ListSnapshot* list = ListSnapshot::Create(n, kAffixSize, KindOf(side));
    if (!list) return 0;
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t* item = list->ItemAt(static_cast<int32_t>(i));
        if (!item) {
            delete list;
            return 0;
        }
        std::memcpy(item, table.At(static_cast<int32_t>(i)), kAffixSize);
    }
    return kvi::PublishList(list);
}

int32_t GetAffix(Side side, AffixEntry* entry, bool byName) {
    if (!SecurityBookReady()) return 0;
    if (!kvi::IsWritableBuffer(entry, kAffixSize) || !entry) return 0;
    if (!kvi::IsInitialized()) return 0;
    if (entry->id == 0) return 0;
    if (!byName) return kvi::FindAffix(*TableOf(side), *entry);
    // The caller's name need not be terminated; look it up through a copy.
    AffixEntry probe;
    CopyIn(probe, *entry);
    if (!kvi::FindAffixByName(*TableOf(side), probe)) return 0;
    std::memcpy(entry, &probe, sizeof probe);
    return 1;
}

int32_t AddAffix(Side side, AffixEntry* entry, KviListHandle handle, uint32_t* indexOut) {
    if (!SecurityBookReady() || !kvi::IsSecurityBookLockedByMe()) return 0;
    if (!kvi::IsWritableBuffer(entry, kAffixSize) || !entry) return 0;
    ListSnapshot* list = nullptr;
    if (handle != 0) {
        list = kvi::ListOfKind(handle, KindOf(side));
        if (!list) return 0;
        if (!kvi::IsWritableBuffer(indexOut, 4) || !indexOut) return 0;
    }
    if (!SecurityBook() || !kvi::IsInitialized()) return 0;
    entry->id = 0;
    AffixEntry* copy = new (std::nothrow) AffixEntry;
    if (!copy) return 0;
    CopyIn(*copy, *entry);
    const int32_t r = kvi::InsertAffix(*TableOf(side), *SectionOf(side), copy);
    if (r != kvi::kEditDone) {
        delete copy;
        return r;
    }
    SecurityBook()->SetModified(1);
    entry->id = copy->id;
    if (list) {
        const int32_t p = list->AddItem(copy);
        if (p >= 0) kvi::StoreCallerU32(indexOut, static_cast<uint32_t>(p));
    }
    return kvi::kEditDone;
}

int32_t UpdateAffix(Side side, AffixEntry* entry, KviListHandle handle, int32_t index) {
    if (!SecurityBookReady() || !kvi::IsSecurityBookLockedByMe()) return 0;
    if (!kvi::IsWritableBuffer(entry, kAffixSize) || !entry) return 0;
    ListSnapshot* list = nullptr;
    if (handle != 0) {
        list = kvi::ListOfKind(handle, KindOf(side));
        if (!list || index < 0) return 0;
        if (static_cast<int64_t>(index) > static_cast<int64_t>(list->LastIndex()) + kvi::kMaxAffixEntries) return 0;
    }
    if (!SecurityBook() || !kvi::IsInitialized() || entry->id == 0) return 0;
    AffixEntry* copy = new (std::nothrow) AffixEntry;
    if (!copy) return 0;
    CopyIn(*copy, *entry);
    AffixEntry updated;
    std::memcpy(&updated, copy, sizeof updated);
    const int32_t r = kvi::ReplaceAffix(*TableOf(side), copy);
    if (r != kvi::kEditDone) {
        delete copy;
        return r;
    }
    SecurityBook()->SetModified(1);
    if (list) {
        // Grows the list to index; whatever the slot held, it now holds
        // the updated entry, and an emptied slot is no longer free.
        list->OverwriteAt(index, &updated);
    }
    return kvi::kEditDone;
}

int32_t DeleteAffix(Side side, uint32_t id, KviListHandle handle, int32_t index, uint32_t compact) {
    if (!SecurityBookReady() || !kvi::IsSecurityBookLockedByMe()) return 0;
    ListSnapshot* list = nullptr;
    if (handle != 0) {
        list = kvi::ListOfKind(handle, KindOf(side));
        if (!list || index < 0 || index > list->LastIndex()) return 0;
    }
    if (!SecurityBook() || !kvi::IsInitialized() || id == 0) return 0;
    const int r = kvi::RemoveAffix(*TableOf(side), *SectionOf(side), id);
    if (r == 1) SecurityBook()->SetModified(1);
    // The slot is emptied whether or not the id was found.
    if (list) {
        if (compact)
            list->RemovePosition(index);  // later items move down; the stack follows
        else
            list->ReleasePosition(index);
    }
    return r;
}

}  // namespace

extern "C" KviListHandle KVI_API KviDfCreatePrefixList() { return CreateAffixList(Side::kPrefix); }
extern "C" KviListHandle KVI_API KviDfCreateSuffixList() { return CreateAffixList(Side::kSuffix); }

extern "C" void KVI_API KviDfDestroyAffixList(KviListHandle handle) {
    if (!SecurityBookReady() || !kvi::IsInitialized() || handle == 0) return;
    // A list handle carries no kind: any list of the security book is freed.
    ListSnapshot* list = kvi::SecurityBookList(handle);
    if (list) kvi::DestroyList(handle, list);
}

extern "C" int32_t KVI_API KviDfAffixListCount(KviListHandle handle) { return kvi::SecurityBookListCount(handle); }

extern "C" int32_t KVI_API KviDfAffixListValidAt(KviListHandle handle, int32_t index) {
    return kvi::SecurityBookListValidAt(handle, index);
}

extern "C" int32_t KVI_API KviDfAffixListItem(KviListHandle handle, int32_t index, AffixEntry* item) {
    if (!SecurityBookReady()) return 0;
    if (!kvi::IsWritableBuffer(item, kAffixSize) || !item) return 0;
    ListSnapshot* list = AnyAffixList(handle);
    if (!list || !kvi::IsInitialized() || handle == 0) return 0;
    if (list->Count() == 0) return 0;
    return list->CopyOut(index, item);
}

extern "C" int32_t KVI_API KviDfAffixListIndexOf(KviListHandle handle, uint32_t id) {
    if (!SecurityBookReady()) return -1;
    ListSnapshot* list = AnyAffixList(handle);
    if (!list || !kvi::IsInitialized() || handle == 0) return -1;
    if (list->Count() == 0 || id == 0 || id == kvi::kBlankId) return -1;
    for (int32_t p = 0; p <= list->LastIndex(); ++p) {
        const uint8_t* item = list->Peek(p);
        if (item && kvi::ItemId(item) == id) return p;
    }
    return -1;
}

extern "C" int32_t KVI_API KviDfGetPrefix(AffixEntry* entry) { return GetAffix(Side::kPrefix, entry, false); }
extern "C" int32_t KVI_API KviDfGetSuffix(AffixEntry* entry) { return GetAffix(Side::kSuffix, entry, false); }
extern "C" int32_t KVI_API KviDfGetPrefixByName(AffixEntry* entry) { return GetAffix(Side::kPrefix, entry, true); }
extern "C" int32_t KVI_API KviDfGetSuffixByName(AffixEntry* entry) { return GetAffix(Side::kSuffix, entry, true); }

extern "C" int32_t KVI_API KviDfUpdatePrefix(AffixEntry* entry, KviListHandle list, int32_t index) {
    return UpdateAffix(Side::kPrefix, entry, list, index);
}
extern "C" int32_t KVI_API KviDfUpdateSuffix(AffixEntry* entry, KviListHandle list, int32_t index) {
    return UpdateAffix(Side::kSuffix, entry, list, index);
}

extern "C" int32_t KVI_API KviDfAddPrefixEntry(AffixEntry* entry, KviListHandle list, uint32_t* indexOut) {
    return AddAffix(Side::kPrefix, entry, list, indexOut);
}
extern "C" int32_t KVI_API KviDfAddSuffixEntry(AffixEntry* entry, KviListHandle list, uint32_t* indexOut) {
    return AddAffix(Side::kSuffix, entry, list, indexOut);
}

extern "C" int32_t KVI_API KviDfDeletePrefixEntry(uint32_t id, KviListHandle list, int32_t index, uint32_t compact) {
    return DeleteAffix(Side::kPrefix, id, list, index, compact);
}
extern "C" int32_t KVI_API KviDfDeleteSuffixEntry(uint32_t id, KviListHandle list, int32_t index, uint32_t compact) {
    return DeleteAffix(Side::kSuffix, id, list, index, compact);
}
