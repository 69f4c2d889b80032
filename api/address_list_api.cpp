// Exports of address lists and entries. Each makes its checks in the
// library's fixed order and answers its failure value at the first that
// fails, changing nothing. A handle names an address list only when it is
// live and its snapshot is of the address kind.
#include <cstring>
#include <new>

#include "address/address_book_file.h"
#include "address/address_record.h"
#include "api/copy_out.h"
#include "frame/book_locks.h"
#include "frame/buffer_check.h"
#include "frame/list_handles.h"
#include "frame/process_state.h"
#include "kviabdb.h"
#include "storage/list_snapshot.h"

namespace {

using kvi::AddressBookFile;
using kvi::ListSnapshot;

AddressBookFile* Book() { return kvi::Process().addressBook; }
bool BookOpen() { return Book() && Book()->IsOpen(); }

// The address list behind a handle, or null.
ListSnapshot* AddressList(KviListHandle handle) {
    kvi::ListHolder* holder = kvi::DecodeListHandle(handle);
    if (!holder || !holder->list || holder->list->Kind() != kvi::ListKind::kAddress) return nullptr;
    return holder->list;
}

uint32_t ItemId(const uint8_t* item) {
    uint32_t id;
    std::memcpy(&id, item + 4, 4);
    return id;
}

// For an update or delete through a list: index within the count and
// the item there carries id (an empty position gets a blank item first).
bool ListItemCarries(ListSnapshot* list, uint32_t index, uint32_t id) {
    if (index >= static_cast<uint32_t>(list->Count())) return false;
    const uint8_t* item = list->ItemAt(static_cast<int32_t>(index));
    return item && ItemId(item) == id;
}

}  // namespace

extern "C" KviListHandle KVI_API KviDfCreateAddressList() {
    if (!BookOpen() || !kvi::IsInitialized() || !Book()) return 0;
    const AddressBookFile::Table& records = *Book()->Records();
    const uint32_t n = records.Count();
    ListSnapshot* list = ListSnapshot::Create(n, kvi::kAddressRecordSize, kvi::ListKind::kAddress);
    if (!list) return 0;
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t* bytes = list->ItemAt(static_cast<int32_t>(i));
        if (!bytes) {
            delete list;
            return 0;
        }
        const AddressRecord& record = *records.At(static_cast<int32_t>(i));
        AddressRecord item;
        std::memset(&item, 0, sizeof item);
        item.size = kvi::kAddressRecordSize;
        item.id = record.id;
        kvi::CopyFieldsOut(record, item);
        std::memcpy(bytes, &item, sizeof item);
    }
    const uintptr_t handle = kvi::MakeListHandle(list);
    if (handle == kvi::kFailedListHandle) delete list;
    return handle;
}

extern "C" void KVI_API KviDfDestroyAddressList(KviListHandle handle) {
    if (!BookOpen() || !kvi::IsInitialized() || handle == 0) return;
    ListSnapshot* list = AddressList(handle);
    if (!list) return;
    delete list;
    kvi::ReleaseListHandle(handle);
}

extern "C" int32_t KVI_API KviDfAddressListCount(KviListHandle handle) {
    if (!BookOpen() || !kvi::IsInitialized() || handle == 0) return 0;
    ListSnapshot* list = AddressList(handle);
    return list ? list->Count() : 0;
}

extern "C" int32_t KVI_API KviDfAddressListItem(KviListHandle handle, int32_t index, AddressRecord* item) {
    if (!BookOpen()) return 0;
    if (!kvi::IsWritableBuffer(item, kvi::kAddressRecordSize) || !item) return 0;
    ListSnapshot* list = AddressList(handle);
    if (!list || !kvi::IsInitialized() || handle == 0) return 0;
    if (list->Count() == 0) return 0;
    return list->CopyOut(index, item);
}

extern "C" int32_t KVI_API KviDfAddressListValidAt(KviListHandle handle, int32_t index) {
    if (!BookOpen()) return 0;
    ListSnapshot* list = AddressList(handle);
    if (!list || !kvi::IsInitialized() || handle == 0) return 0;
    if (list->Count() == 0) return 0;
    return list->ValidAt(index);
}

extern "C" int32_t KVI_API KviDfGetAddress(AddressRecord* entry) {
    if (!BookOpen()) return 0;
    if (!kvi::IsWritableBuffer(entry, kvi::kAddressRecordSize) || !entry) return 0;
    if (!Book() || !kvi::IsInitialized()) return 0;
    if (entry->id == 0) return 0;
    entry->size = kvi::kAddressRecordSize;
    const AddressRecord* record = Book()->FindById(entry->id);
    if (!record) return 0;
    kvi::CopyTextOut(entry->name, record->name);
    kvi::CopyTextOut(entry->address, record->address);
    kvi::CopyTextOut(entry->phoneNumber, record->phoneNumber);
    kvi::CopyTextOut(entry->extraText1, record->extraText1);
    kvi::CopyTextOut(entry->extraText2, record->extraText2);
    entry->connectionType = record->connectionType;
    entry->extraValue = record->extraValue;
    return 1;
}

extern "C" int32_t KVI_API KviDfUpdateAddress(AddressRecord* entry, KviListHandle handle, uint32_t index) {
    if (!BookOpen() || !kvi::IsAddressBookLocked()) return 0;
    if (!kvi::IsWritableBuffer(entry, kvi::kAddressRecordSize) || !entry) return 0;
    ListSnapshot* list = nullptr;
    if (handle != 0) {
        list = AddressList(handle);
        if (!list || !ListItemCarries(list, index, entry->id)) return 0;
    }
    if (!Book() || !kvi::IsInitialized() || entry->id == 0) return 0;
    entry->size = kvi::kAddressRecordSize;
    AddressRecord* record = new (std::nothrow) AddressRecord;
    if (!record) return 0;
    kvi::BuildFromEntry(*record, *entry, entry->id);
    const int32_t r = Book()->ReplaceRecord(record);
    if (r != kvi::kEditDone) {
        delete record;
        return r;
    }
    Book()->SetModified(1);
    if (list) list->OverwriteAt(static_cast<int32_t>(index), entry);
    return kvi::kEditDone;
}

extern "C" int32_t KVI_API KviDfAddAddress(AddressRecord* entry, KviListHandle handle, uint32_t* newIndex) {
    if (!BookOpen() || !kvi::IsAddressBookLocked()) return 0;
    if (!kvi::IsWritableBuffer(entry, kvi::kAddressRecordSize) || !entry) return 0;
    ListSnapshot* list = nullptr;
    if (handle != 0) {
        list = AddressList(handle);
        if (!list) return 0;
        if (!kvi::IsWritableBuffer(newIndex, 4) || !newIndex) return 0;
    }
    if (!Book() || !kvi::IsInitialized()) return 0;
    entry->id = 0;
    AddressRecord* record = new (std::nothrow) AddressRecord;
    if (!record) return 0;
    kvi::BuildFromEntry(*record, *entry, 0);
    const int32_t r = Book()->InsertRecord(record);
    if (r != kvi::kEditDone) {
        delete record;
        return r;
    }
    Book()->SetModified(1);
    entry->id = record->id;
    if (list) {
        const int32_t p = list->AddItem(entry);
        if (p >= 0) kvi::StoreCallerU32(newIndex, static_cast<uint32_t>(p));
    }
    return kvi::kEditDone;
}

extern "C" int32_t KVI_API KviDfDeleteAddress(uint32_t id, KviListHandle handle, uint32_t index) {
    if (!BookOpen() || !kvi::IsAddressBookLocked()) return 0;
    ListSnapshot* list = nullptr;
    if (handle != 0) {
        list = AddressList(handle);
        if (!list || !ListItemCarries(list, index, id)) return 0;
    }
    if (!Book() || !kvi::IsInitialized() || id == 0) return 0;
    if (Book()->Records()->Count() == 0) return 0;
    AddressRecord* record = Book()->FindById(id);
    if (!record) return 0;
    Book()->RemoveRecord(record);
    Book()->SetModified(1);
    if (list) list->ReleasePosition(static_cast<int32_t>(index));
    return kvi::kEditDone;
}
