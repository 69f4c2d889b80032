#include "frame/book_locks.h"

#include <cstddef>
#include <cstring>

#include "frame/buffer_check.h"
#include "frame/process_state.h"
#include "platform/platform.h"

namespace kvi {

namespace {

bool Acquired(uint32_t wait) {
    // An abandoned mutex belongs to the waiter now: the holder died.
    return wait == platform::kWaitObject0 || wait == platform::kWaitAbandoned;
}

// The slot's place in the shared block and its size.
size_t SlotOffset(LockerSlot slot) {
    return slot == LockerSlot::kAddress ? offsetof(platform::SharedBlock, addressLocker)
                                        : offsetof(platform::SharedBlock, securityLocker);
}
size_t SlotSize(LockerSlot slot) {
    return slot == LockerSlot::kAddress ? sizeof platform::SharedBlock::addressLocker
                                        : sizeof platform::SharedBlock::securityLocker;
}

// A null name keeps the slot's text (normally empty). A longer name is cut
// to the slot, terminated, and the rest of the slot zeroed. Without write
// access to the shared block the lock still holds, without a name.
void SetLockerName(LockerSlot slot, const char* name) {
    if (!name) return;
    char text[sizeof platform::SharedBlock::securityLocker] = {};
    CopyText(text, static_cast<uint32_t>(SlotSize(slot)), name);
    platform::WriteSharedBlock(SlotOffset(slot), text, SlotSize(slot));
}

void ClearLockerName(LockerSlot slot) {
    const char zeroes[sizeof platform::SharedBlock::securityLocker] = {};
    platform::WriteSharedBlock(SlotOffset(slot), zeroes, SlotSize(slot));
}

// The security owner is read by every thread of the process while the
// owner thread writes it.
uint32_t SecurityOwner() { return __atomic_load_n(&Process().securityOwner, __ATOMIC_ACQUIRE); }
void SetSecurityOwner(uint32_t tid) { __atomic_store_n(&Process().securityOwner, tid, __ATOMIC_RELEASE); }

}  // namespace

int LockAddressBook(const char* lockerName) {
    ProcessState& ps = Process();
    if (ps.addressLocked) return 1;
    if (Acquired(platform::WaitMutex(ps.addressMutex, 0))) {
        ps.addressLocked = 1;
        SetLockerName(LockerSlot::kAddress, lockerName);
    }
    return ps.addressLocked;
}

void UnlockAddressBook() {
    ProcessState& ps = Process();
    if (!ps.addressLocked) return;
    ps.addressLocked = 0;
    ClearLockerName(LockerSlot::kAddress);
    platform::ReleaseMutex(ps.addressMutex);
}

int IsAddressBookLocked() { return Process().addressLocked; }

int LockSecurityBook(const char* lockerName, uint32_t timeoutMs) {
    ProcessState& ps = Process();
    const uint32_t me = platform::CurrentThreadId();
    if (SecurityOwner() == 0 && Acquired(platform::WaitMutex(ps.securityMutex, timeoutMs))) {
        SetSecurityOwner(me);
        SetLockerName(LockerSlot::kSecurity, lockerName);
    }
    // Another thread of this process holds it: refused at once, whatever
    // the timeout.
    if (SecurityOwner() != me) return 0;
    ++ps.securityDepth;
    return 1;
}

void UnlockSecurityBook() {
    ProcessState& ps = Process();
    if (SecurityOwner() != platform::CurrentThreadId()) return;
    if (--ps.securityDepth > 0) return;
    ps.securityDepth = 0;
    SetSecurityOwner(0);
    ClearLockerName(LockerSlot::kSecurity);
    platform::ReleaseMutex(ps.securityMutex);
}

int IsSecurityBookLockedByMe() { return SecurityOwner() == platform::CurrentThreadId() ? 1 : 0; }

int GetLocker(LockerSlot slot, char* buffer, uint32_t length) {
    if (!buffer || length == 0) return 0;
    // A copy, terminated: any writer of the folder may have put anything
    // in the slot.
    const platform::SharedBlock shared = Shared();
    char name[sizeof shared.securityLocker];
    const size_t size = SlotSize(slot);
    std::memcpy(name, reinterpret_cast<const char*>(&shared) + SlotOffset(slot), size);
    name[size - 1] = '\0';
    if (name[0] == '\0') return 0;
    const size_t n = std::strlen(name);
    const size_t copied = n < length ? n : length;
    std::memcpy(buffer, name, copied);
    if (copied < length) std::memset(buffer + copied, 0, length - copied);
    buffer[length - 1] = '\0';
    return 1;
}

}  // namespace kvi
