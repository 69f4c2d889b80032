// Thread identity, the fork hook and the interlocked counters.
#include <pthread.h>
#include <unistd.h>

#include "platform/platform.h"

namespace kvi::platform {

// The kernel thread id: never 0, unique on the machine while the thread
// lives, and the owner id a robust mutex records. Asked for anew on every
// call, since a value cached per thread would be stale in a forked child.
uint32_t CurrentThreadId() { return static_cast<uint32_t>(gettid()); }

void AtForkChild(void (*handler)()) { pthread_atfork(nullptr, nullptr, handler); }

int32_t InterlockedIncrement(volatile int32_t* value) { return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST); }

int32_t InterlockedDecrement(volatile int32_t* value) { return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST); }

}  // namespace kvi::platform
