// List handles: the complement of the address of a one-pointer holder.
// Holders live only in the registry's own blocks, each marked live or not,
// so a handle that no create function returned, or one already destroyed,
// is refused and never dereferenced; decoding takes no lock. A destroyed
// holder is not reused until many later destroys, so a stale handle does
// not come back as a new list's.
#ifndef KVI_FRAME_LIST_HANDLES_H
#define KVI_FRAME_LIST_HANDLES_H

#include <cstdint>

namespace kvi {

class ListSnapshot;

struct ListHolder {
    ListSnapshot* list;
};

constexpr uintptr_t kNoListHandle = 0;
// What a create function returns when the holder cannot be allocated:
// the complement of a null holder (0xFFFFFFFF on the 32-bit target).
constexpr uintptr_t kFailedListHandle = ~static_cast<uintptr_t>(0);

// Wraps a snapshot in a new registered holder. Returns the handle, or
// kFailedListHandle when the holder cannot be allocated (the snapshot is
// then still the caller's).
uintptr_t MakeListHandle(ListSnapshot* list);

// The holder of a live handle, or null for 0, 0xFFFFFFFF and any handle
// that is not a live holder's.
ListHolder* DecodeListHandle(uintptr_t handle);

// Unregisters the holder and keeps it out of reuse; the snapshot is the
// caller's to free.
void ReleaseListHandle(uintptr_t handle);

}  // namespace kvi

#endif
