#include "security/security_lists.h"

#include <cstring>

#include "frame/list_handles.h"
#include "frame/process_state.h"
#include "security/security_book_file.h"

namespace kvi {

SecurityBookFile* SecurityBook() { return Process().securityBook; }

bool SecurityBookReady() { return SecurityBook() && SecurityBook()->IsOpen(); }

int IsSecurityBookOpen() { return SecurityBookReady() ? 1 : 0; }

ListSnapshot* ListOfKind(uintptr_t handle, ListKind a, ListKind b) {
    ListHolder* holder = DecodeListHandle(handle);
    if (!holder || !holder->list) return nullptr;
    const ListKind k = holder->list->Kind();
    return k == a || k == b ? holder->list : nullptr;
}

ListSnapshot* SecurityBookList(uintptr_t handle) {
    ListHolder* holder = DecodeListHandle(handle);
    if (!holder || !holder->list) return nullptr;
    switch (holder->list->Kind()) {
        case ListKind::kSecurity:
        case ListKind::kPrefix:
        case ListKind::kSuffix:
        case ListKind::kFolder: return holder->list;
        default: return nullptr;
    }
}

uintptr_t PublishList(ListSnapshot* list) {
    const uintptr_t handle = MakeListHandle(list);
    if (handle == kFailedListHandle) delete list;
    return handle;
}

void DestroyList(uintptr_t handle, ListSnapshot* list) {
    delete list;
    ReleaseListHandle(handle);
}

uint32_t ItemId(const uint8_t* item) {
    uint32_t id;
    std::memcpy(&id, item + 4, 4);
    return id;
}

int32_t SecurityBookListCount(uintptr_t handle) {
    if (!SecurityBookReady() || !IsInitialized() || handle == 0) return 0;
    ListSnapshot* list = SecurityBookList(handle);
    return list ? list->Count() : 0;
}

int32_t SecurityBookListValidAt(uintptr_t handle, int32_t index) {
    if (!SecurityBookReady()) return 0;
    ListSnapshot* list = SecurityBookList(handle);
    if (!list || !IsInitialized() || handle == 0) return 0;
    return list->ValidAt(index);
}

}  // namespace kvi
