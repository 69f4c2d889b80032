// The lock exports: KviDfLockAddressBook (205), KviDfUnlockAddressBook
// (206), KviDfGetAddressLocker (215), KviDfLockSecurityBook (303),
// KviDfUnlockSecurityBook (304), KviDfGetSecurityLocker (315).
#include "frame/book_locks.h"
#include "frame/buffer_check.h"
#include "frame/process_state.h"
#include "kviabdb.h"

using namespace kvi;

extern "C" int32_t KVI_API KviDfLockAddressBook(char* lockerName) {
    if (!IsWritableBuffer(lockerName, 0)) return 0;
    if (!IsInitialized()) return 0;
    if (!IsAddressBookLocked()) LockAddressBook(lockerName);
    return IsAddressBookLocked();
}

extern "C" int32_t KVI_API KviDfUnlockAddressBook(void) {
    if (!IsInitialized()) return 0;
    UnlockAddressBook();  // does not commit
    return 1;
}

extern "C" int32_t KVI_API KviDfGetAddressLocker(char* buffer, uint32_t length) {
    if (!IsAddressBookOpen()) return 0;
    if (!IsWritableBuffer(buffer, length)) return 0;
    if (!IsInitialized()) return 0;
    return GetLocker(LockerSlot::kAddress, buffer, length);
}

extern "C" int32_t KVI_API KviDfLockSecurityBook(char* lockerName, uint32_t timeoutMs) {
    if (!IsWritableBuffer(lockerName, 0)) return 0;
    if (!IsInitialized()) return 0;
    return LockSecurityBook(lockerName, timeoutMs);
}

extern "C" int32_t KVI_API KviDfUnlockSecurityBook(void) {
    if (!IsInitialized() || !IsSecurityBookLockedByMe()) return 0;
    // Every unlock commits, the outermost one included; the result is not
    // the unlock's business.
    if (Process().securityBook) CommitSecurityBookForUnlock();
    UnlockSecurityBook();
    return 1;
}

extern "C" int32_t KVI_API KviDfGetSecurityLocker(char* buffer, uint32_t length) {
    if (!IsSecurityBookOpen()) return 0;
    if (!IsWritableBuffer(buffer, length)) return 0;
    if (!IsInitialized()) return 0;
    return GetLocker(LockerSlot::kSecurity, buffer, length);
}
