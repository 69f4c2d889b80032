// Exports of the security book file: KviDfOpenSecurityBook (301),
// KviDfCloseSecurityBook (302), KviDfCommitSecurityBook (316), and the
// commit that every KviDfUnlockSecurityBook makes.
#include <new>

#include "frame/book_locks.h"
#include "frame/buffer_check.h"
#include "frame/process_state.h"
#include "kviabdb.h"
#include "security/security_book_file.h"
#include "security/security_lists.h"

using kvi::SecurityBook;
using kvi::SecurityBookReady;

extern "C" int32_t KVI_API KviDfOpenSecurityBook(void* unused) {
    if (!kvi::IsWritableBuffer(unused, 0)) return 0;
    if (!kvi::IsInitialized()) return 0;
    if (!SecurityBook()) {
        kvi::Process().securityBook = new (std::nothrow) kvi::SecurityBookFile();
        if (!SecurityBook()) return 0;
    }
    if (SecurityBook()->IsOpen()) return 1;
    return SecurityBook()->Load();  // a failed load keeps the object for the next try
}

extern "C" void KVI_API KviDfCloseSecurityBook() {
    if (!kvi::IsInitialized() || !SecurityBook()) return;
    delete SecurityBook();  // never commits
    kvi::Process().securityBook = nullptr;
}

extern "C" int32_t KVI_API KviDfCommitSecurityBook(uint32_t force) {
    if (!SecurityBookReady()) return 0;
    if (!kvi::IsSecurityBookLockedByMe()) return 0;
    if (!SecurityBook() || !kvi::IsInitialized()) return 0;
    return SecurityBook()->Commit(force != 0 ? 1 : 0);
}

// A book whose load failed has no header, directory or tables: its Commit
// answers 0 without touching the file.
int kvi::CommitSecurityBookForUnlock() {
    if (!SecurityBook()) return 0;
    return SecurityBook()->Commit(0);
}
