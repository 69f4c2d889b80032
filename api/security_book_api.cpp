// Not built yet: every export here refuses with its failure value.
#include "kviabdb.h"

extern "C" int32_t KVI_API KviDfOpenSecurityBook(void* /*unused*/) { return 0; }
extern "C" void KVI_API KviDfCloseSecurityBook() {}
extern "C" int32_t KVI_API KviDfCommitSecurityBook(uint32_t /*force*/) { return 0; }

#include "frame/book_locks.h"

// Until the security book exists there is nothing to commit.
int kvi::CommitSecurityBookForUnlock() { return 0; }

#include "frame/process_state.h"
int kvi::IsSecurityBookOpen() { return 0; }
