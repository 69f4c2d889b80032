// Not built yet: every export here refuses with its failure value.
#include "kviabdb.h"

extern "C" KviListHandle KVI_API KviDfCreateAddressList() { return 0; }
extern "C" void KVI_API KviDfDestroyAddressList(KviListHandle /*list*/) {}
extern "C" int32_t KVI_API KviDfAddressListCount(KviListHandle /*list*/) { return 0; }
extern "C" int32_t KVI_API KviDfAddressListItem(KviListHandle /*list*/, int32_t /*index*/, AddressRecord* /*item*/) { return 0; }
extern "C" int32_t KVI_API KviDfAddressListValidAt(KviListHandle /*list*/, int32_t /*index*/) { return 0; }
extern "C" int32_t KVI_API KviDfGetAddress(AddressRecord* /*entry*/) { return 0; }
extern "C" int32_t KVI_API KviDfUpdateAddress(AddressRecord* /*entry*/, KviListHandle /*list*/, uint32_t /*index*/) { return 0; }
extern "C" int32_t KVI_API KviDfAddAddress(AddressRecord* /*entry*/, KviListHandle /*list*/, uint32_t* /*newIndex*/) { return 0; }
extern "C" int32_t KVI_API KviDfDeleteAddress(uint32_t /*id*/, KviListHandle /*list*/, uint32_t /*index*/) { return 0; }
