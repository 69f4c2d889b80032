// The process-shared block as a data section of the library image marked
// shared: every process that maps this image (the DLL, or a program that
// links the library statically) sees the same bytes, zero-filled when the
// first process maps it. The section holds plain data only: no pointer is
// valid in two processes, and no constructor may run over bytes that other
// processes are using.
#include <cstring>
#include <type_traits>

#include "platform/win32/windows_api.h"

namespace kvi::platform {

static_assert(std::is_trivial<SharedBlock>::value && std::is_standard_layout<SharedBlock>::value,
              "the shared block is plain data");

namespace {
// "shared" gives the section IMAGE_SCN_MEM_SHARED; an initializer keeps the
// block out of .bss, which cannot be shared.
SharedBlock g_sharedBlock __attribute__((section(".kvishr"), shared)) = {};
}  // namespace

SharedBlock* ProcessSharedBlock() { return &g_sharedBlock; }

void ReadSharedBlock(SharedBlock* copy) { std::memcpy(copy, &g_sharedBlock, sizeof *copy); }

// Every process that maps the image may write the section.
int SharedBlockWritable() { return 1; }

int WriteSharedBlock(size_t offset, const void* bytes, size_t size) {
    if (offset > sizeof g_sharedBlock || size > sizeof g_sharedBlock - offset) return 1;
    std::memcpy(reinterpret_cast<unsigned char*>(&g_sharedBlock) + offset, bytes, size);
    return 1;
}

int AddSharedInitCount(int32_t delta, int32_t* count) {
    *count = delta > 0 ? InterlockedIncrement(&g_sharedBlock.initCount) : InterlockedDecrement(&g_sharedBlock.initCount);
    return 1;
}

// The section lives as long as a process maps the image; there is nothing
// to remove.
void RemoveMachineState() {}

}  // namespace kvi::platform
