// Not built yet: every export here refuses with its failure value.
#include "kviabdb.h"

extern "C" KviListHandle KVI_API KviDfCreatePrefixList() { return 0; }
extern "C" KviListHandle KVI_API KviDfCreateSuffixList() { return 0; }
extern "C" void KVI_API KviDfDestroyAffixList(KviListHandle /*list*/) {}
extern "C" int32_t KVI_API KviDfAffixListCount(KviListHandle /*list*/) { return 0; }
extern "C" int32_t KVI_API KviDfAffixListValidAt(KviListHandle /*list*/, int32_t /*index*/) { return 0; }
extern "C" int32_t KVI_API KviDfAffixListItem(KviListHandle /*list*/, int32_t /*index*/, AffixEntry* /*item*/) { return 0; }
extern "C" int32_t KVI_API KviDfGetPrefix(AffixEntry* /*entry*/) { return 0; }
extern "C" int32_t KVI_API KviDfGetSuffix(AffixEntry* /*entry*/) { return 0; }
extern "C" int32_t KVI_API KviDfGetPrefixByName(AffixEntry* /*entry*/) { return 0; }
extern "C" int32_t KVI_API KviDfGetSuffixByName(AffixEntry* /*entry*/) { return 0; }
extern "C" int32_t KVI_API KviDfUpdatePrefix(AffixEntry* /*entry*/, KviListHandle /*list*/, int32_t /*index*/) { return 0; }
extern "C" int32_t KVI_API KviDfUpdateSuffix(AffixEntry* /*entry*/, KviListHandle /*list*/, int32_t /*index*/) { return 0; }
extern "C" int32_t KVI_API KviDfAddPrefixEntry(AffixEntry* /*entry*/, KviListHandle /*list*/, uint32_t* /*indexOut*/) { return 0; }
extern "C" int32_t KVI_API KviDfAddSuffixEntry(AffixEntry* /*entry*/, KviListHandle /*list*/, uint32_t* /*indexOut*/) { return 0; }
extern "C" int32_t KVI_API KviDfDeletePrefixEntry(uint32_t /*id*/, KviListHandle /*list*/, int32_t /*index*/, uint32_t /*compact*/) { return 0; }
extern "C" int32_t KVI_API KviDfDeleteSuffixEntry(uint32_t /*id*/, KviListHandle /*list*/, int32_t /*index*/, uint32_t /*compact*/) { return 0; }
extern "C" int32_t KVI_API KviDfAffixListIndexOf(KviListHandle /*list*/, uint32_t /*id*/) { return -1; }
