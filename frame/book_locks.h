// The cross-process book locks and their locker names. The address book
// lock never waits and belongs to the process; the security book lock
// waits up to a timeout, belongs to one thread and counts nesting.
#ifndef KVI_FRAME_BOOK_LOCKS_H
#define KVI_FRAME_BOOK_LOCKS_H

#include <cstdint>

namespace kvi {

enum class LockerSlot { kAddress, kSecurity };

int LockAddressBook(const char* lockerName);  // the lock flag afterwards
void UnlockAddressBook();
int IsAddressBookLocked();

int LockSecurityBook(const char* lockerName, uint32_t timeoutMs);  // 1 or 0
void UnlockSecurityBook();
int IsSecurityBookLockedByMe();

// Copies the slot's name into buffer as strncpy does, terminated in its
// last byte. 0 when the slot is empty or length is 0 (nothing written).
int GetLocker(LockerSlot slot, char* buffer, uint32_t length);

// Commits the process's security book, if any, before an unlock; the
// result is ignored by the unlock. Lives with the security book.
int CommitSecurityBookForUnlock();

}  // namespace kvi

#endif
