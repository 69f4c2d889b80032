// Internal to KVIABIO: every operation counts its call here first and asks
// whether this call is one a test made fail.
#ifndef KVIABIO_FAULT_INJECTION_H
#define KVIABIO_FAULT_INJECTION_H

#include <stdint.h>

namespace kvio {

#ifdef KVIO_FAULT_HOOK
// Counts one call of op (201..211) and answers true when it must fail
// without touching any file.
bool CountCallAndCheckFault(uint32_t op);
#else
// A release build has no hook: nothing is counted and nothing fails.
inline bool CountCallAndCheckFault(uint32_t) { return false; }
#endif

}  // namespace kvio

#endif
