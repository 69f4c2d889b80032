// KviDfInitialize (101) and KviDfTerminate (102).
#include "frame/lifecycle.h"
#include "kviabdb.h"

extern "C" int32_t KVI_API KviDfInitialize(void) { return kvi::Initialize(); }

extern "C" void KVI_API KviDfTerminate(void) { kvi::Terminate(); }
