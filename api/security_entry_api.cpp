// Not built yet: every export here refuses with its failure value.
#include "kviabdb.h"

extern "C" KviListHandle KVI_API KviDfCreateSecurityList() { return 0; }
extern "C" void KVI_API KviDfDestroySecurityList(KviListHandle /*list*/) {}
extern "C" int32_t KVI_API KviDfSecurityListCount(KviListHandle /*list*/) { return 0; }
extern "C" int32_t KVI_API KviDfSecurityListItem(KviListHandle /*list*/, int32_t /*index*/, SecurityEntry* /*item*/) { return 0; }
extern "C" int32_t KVI_API KviDfSecurityListValidAt(KviListHandle /*list*/, int32_t /*index*/) { return 0; }
extern "C" int32_t KVI_API KviDfGetSecurity(SecurityEntry* /*entry*/) { return 0; }
extern "C" int32_t KVI_API KviDfGetSecurityByName(SecurityEntry* /*entry*/) { return 0; }
extern "C" int32_t KVI_API KviDfUpdateSecurity(SecurityEntry* /*entry*/, KviListHandle /*list*/, uint32_t /*index*/) { return 0; }
extern "C" int32_t KVI_API KviDfDeleteSecurityEntry(uint32_t /*id*/, KviListHandle /*list*/, uint32_t /*index*/) { return 0; }
extern "C" int32_t KVI_API KviDfAddSecurityEntry(SecurityEntry* /*entry*/, KviListHandle /*list*/, uint32_t* /*indexOut*/) { return 0; }
