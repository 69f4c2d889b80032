// Not built yet: every export here refuses with its failure value.
#include "kviabdb.h"

extern "C" KviListHandle KVI_API CreateFolderSecurityList() { return 0; }
extern "C" void KVI_API DestroyFolderSecurityList(KviListHandle /*list*/) {}
extern "C" int32_t KVI_API GetFolderSecurity(FolderSecurityEntry* /*entry*/) { return 0; }
extern "C" int32_t KVI_API ResetFolderSecurityId() { return 0; }
extern "C" int32_t KVI_API FolderSecurityListCount(KviListHandle /*list*/) { return 0; }
extern "C" int32_t KVI_API FolderSecurityListItem(KviListHandle /*list*/, int32_t /*index*/, FolderSecurityEntry* /*item*/) { return 0; }
extern "C" int32_t KVI_API FolderSecurityListValidAt(KviListHandle /*list*/, int32_t /*index*/) { return 0; }
extern "C" int32_t KVI_API AddFolderSecurityEntry(FolderSecurityEntry* /*entry*/, KviListHandle /*list*/, uint32_t* /*indexOut*/) { return 0; }
extern "C" int32_t KVI_API DeleteFolderSecurityEntry(uint32_t /*id*/, KviListHandle /*list*/, uint32_t /*index*/) { return 0; }
