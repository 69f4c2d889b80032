// What the list exports of the security book share: the book behind them,
// the kind check of a handle, publishing a new list, and the two list
// functions exported under three names each (security, affix, folder).
#ifndef KVI_SECURITY_SECURITY_LISTS_H
#define KVI_SECURITY_SECURITY_LISTS_H

#include <cstdint>

#include "storage/list_snapshot.h"

namespace kvi {

class SecurityBookFile;

SecurityBookFile* SecurityBook();
// The security book is open and valid.
bool SecurityBookReady();

// The snapshot behind a live handle when it is of kind a or b, else null.
ListSnapshot* ListOfKind(uintptr_t handle, ListKind a, ListKind b);
inline ListSnapshot* ListOfKind(uintptr_t handle, ListKind kind) { return ListOfKind(handle, kind, kind); }
// A user, prefix, suffix or folder list (never an address list).
ListSnapshot* SecurityBookList(uintptr_t handle);

// Wraps a snapshot in a handle; on failure frees it and returns the
// handle that every list function refuses.
uintptr_t PublishList(ListSnapshot* list);

// Frees the snapshot and its holder.
void DestroyList(uintptr_t handle, ListSnapshot* list);

uint32_t ItemId(const uint8_t* item);

// KviDfSecurityListCount = KviDfAffixListCount = FolderSecurityListCount:
// lastIndex + 1, or 0.
int32_t SecurityBookListCount(uintptr_t handle);
// KviDfSecurityListValidAt = KviDfAffixListValidAt = FolderSecurityListValidAt.
int32_t SecurityBookListValidAt(uintptr_t handle, int32_t index);

}  // namespace kvi

#endif
