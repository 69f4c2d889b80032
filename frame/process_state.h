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
};

ProcessState& Process();

int IsInitialized();

// The book is open: its object exists and its tables are loaded. Each is
// answered by the book's own module.
int IsAddressBookOpen();
int IsSecurityBookOpen();

// The process-shared block (count and locker names), scoped by the
// Windows directory.
platform::SharedBlock& Shared();

}  // namespace kvi

#endif
