// What exists once per process: the initialized flag, the two book objects,
// the two mutex handles and the lock bookkeeping. All zero when the library
// is loaded.
#ifndef KVI_FRAME_PROCESS_STATE_H
#define KVI_FRAME_PROCESS_STATE_H

#include <cstdint>

#include "platform/platform.h"

namespace kvi {

class AddressBookFile;
class SecurityBookFile;
class BookFile;

struct ProcessState {
    int32_t initialized;
    AddressBookFile* addressBook;
    SecurityBookFile* securityBook;
    platform::MutexHandle addressMutex;
    platform::MutexHandle securityMutex;
    int32_t addressLocked;     // this process holds the address book lock
    uint32_t securityOwner;    // thread that holds the security book lock, 0 none
    int32_t securityDepth;     // nested security locks of that thread
    BookFile* registered[2];   // books that a password change reaches
    int32_t ownInitCount;      // the count of a process that may not write the shared block
};

namespace detail {
// Zero when the library is loaded. A child of fork starts from it zeroed
// again (a fork handler registered at load), as a process that has not
// initialized the library: it holds no lock, and its parent's books,
// handles and locks are not its own.
extern ProcessState g_processState;
}  // namespace detail

// Read by every export, several times: inline, with no once-only guard.
inline ProcessState& Process() { return detail::g_processState; }

inline int IsInitialized() { return Process().initialized; }

// The book is open: its object exists and its tables are loaded. Each is
// answered by the book's own module.
int IsAddressBookOpen();
int IsSecurityBookOpen();

// A copy of the process-shared block (count and locker names), scoped by
// the Windows directory. Changed one field at a time through the platform;
// an account that may only read the books' folder never changes it.
platform::SharedBlock Shared();
int SharedWritable();

}  // namespace kvi

#endif
