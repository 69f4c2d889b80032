// Exports of the global security record: KviDfGetGlobalSecurity (305),
// KviDfSetGlobalSecurity (306).
#include <cstring>

#include "frame/book_locks.h"
#include "frame/buffer_check.h"
#include "frame/process_state.h"
#include "kviabdb.h"
#include "security/global_security.h"
#include "security/security_book_file.h"
#include "security/security_lists.h"

using kvi::SecurityBook;
using kvi::SecurityBookReady;

extern "C" int32_t KVI_API KviDfGetGlobalSecurity(GlobalSecurity* record) {
    if (!SecurityBookReady()) return 0;
    if (!kvi::IsWritableBuffer(record, sizeof(GlobalSecurity))) return 0;
    if (!kvi::IsInitialized() || !record) return 0;
    const GlobalSecurity* global = SecurityBook()->Global();
    if (!global) return 0;
    std::memcpy(record, global, sizeof *record);
    return 1;
}

extern "C" int32_t KVI_API KviDfSetGlobalSecurity(GlobalSecurity* record) {
    if (!SecurityBookReady() || !kvi::IsInitialized() || !kvi::IsSecurityBookLockedByMe()) return 0;
    if (!kvi::IsWritableBuffer(record, sizeof(GlobalSecurity)) || !record) return 0;
    // A book that refuses the new password keeps its own; still 1.
    return kvi::ReplaceGlobalSecurity(*SecurityBook(), *record);
}
