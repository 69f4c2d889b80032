// Thread identity and the interlocked counters of the shared block.
#include "platform/win32/windows_api.h"

namespace kvi::platform {

static_assert(sizeof(LONG) == sizeof(int32_t), "LONG is 32 bits on Windows");

uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }

void AtForkChild(void (*)()) {}  // no fork on Windows

int32_t InterlockedIncrement(volatile int32_t* value) {
    return ::_InterlockedIncrement(reinterpret_cast<volatile LONG*>(value));
}

int32_t InterlockedDecrement(volatile int32_t* value) {
    return ::_InterlockedDecrement(reinterpret_cast<volatile LONG*>(value));
}

}  // namespace kvi::platform
