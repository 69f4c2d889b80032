#include "frame/lifecycle.h"

#include <cstdio>

#include "frame/process_state.h"
#include "kviabio.h"
#include "platform/platform.h"
#include "storage/book_file.h"

namespace kvi {

namespace {

// The machine-wide count. An account that may only read the books' folder
// cannot change the shared count: it counts its own calls, so its
// termination answers as if it were alone, and it never moves the count
// that the writers' processes share.
int32_t ChangeInitCount(int32_t delta) {
    int32_t count;
    if (platform::AddSharedInitCount(delta, &count)) return count;
    int32_t& own = Process().ownInitCount;
    own = static_cast<int32_t>(static_cast<uint32_t>(own) + static_cast<uint32_t>(delta));
    return own;
}

platform::MutexHandle CreateBookMutex(const char* book, void* security) {
    char name[260];
    std::snprintf(name, sizeof name, kMutexNameFormat, book);
    return platform::CreateNamedMutex(name, security);
}

}  // namespace

int32_t Initialize() {
    ProcessState& ps = Process();
    if (ps.initialized) {
        ChangeInitCount(1);
        return 1;
    }
    void* security = platform::CreateMutexSecurity();
    ps.initialized = 1;
    KvioStartup();
    // Books that a previous life of the library in this process left open
    // are forgotten: never committed, their locks not released. They are
    // destroyed rather than leaked, so that they leave the registration
    // slots and a later password change cannot write through a stale book.
    for (BookFile* book : ps.registered)
        if (book) delete book;  // unregisters itself
    ps.addressBook = nullptr;
    ps.addressMutex = CreateBookMutex("Address_Book", security);
    ps.securityBook = nullptr;
    ps.securityMutex = CreateBookMutex("Security_Book", security);
    platform::FreeMutexSecurity(security);
    ChangeInitCount(1);
    return 1;
}

void Terminate() {
    // The count is machine-wide; only the call that brings it to 0 shuts
    // down, and only the calling process.
    if (ChangeInitCount(-1) != 0) return;
    ProcessState& ps = Process();
    ps.initialized = 0;
    platform::CloseMutex(ps.addressMutex);
    platform::CloseMutex(ps.securityMutex);
    ps.addressMutex = 0;
    ps.securityMutex = 0;
    KvioShutdown();
}

}  // namespace kvi
