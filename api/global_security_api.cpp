// Not built yet: every export here refuses with its failure value.
#include "kviabdb.h"

extern "C" int32_t KVI_API KviDfGetGlobalSecurity(GlobalSecurity* /*record*/) { return 0; }
extern "C" int32_t KVI_API KviDfSetGlobalSecurity(GlobalSecurity* /*record*/) { return 0; }
