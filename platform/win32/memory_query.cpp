// The caller-buffer check over VirtualQuery.
#include "platform/win32/windows_api.h"

namespace kvi::platform {

#if !defined(_WIN64)
static_assert(sizeof(MEMORY_BASIC_INFORMATION) == 28, "MEMORY_BASIC_INFORMATION is 28 bytes");
#endif

int IsReadWriteRange(const void* p, uint32_t size) {
    if (!p) return 0;
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    // A range that wraps past the top of the address space is no buffer;
    // without this test its end would compare as lying inside the region.
    if (size > UINTPTR_MAX - start) return 0;
    MEMORY_BASIC_INFORMATION info;
    if (::VirtualQuery(p, &info, sizeof info) < sizeof info) return 0;
    if (info.State != MEM_COMMIT) return 0;
    // Exactly read-write: PAGE_GUARD or PAGE_NOCACHE on top, write-copy and
    // read-only all fail.
    if (info.Protect != PAGE_READWRITE && info.Protect != PAGE_EXECUTE_READWRITE) return 0;
    // The region is the run of pages with this state and protection that
    // begins at the page holding p; the whole range must lie in it.
    const uintptr_t regionEnd = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    return regionEnd >= start + size ? 1 : 0;
}

int IsReadableRange(const void* p, uint32_t size) {
    if (!p) return 0;
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    if (size > UINTPTR_MAX - start) return 0;
    MEMORY_BASIC_INFORMATION info;
    if (::VirtualQuery(p, &info, sizeof info) < sizeof info) return 0;
    if (info.State != MEM_COMMIT) return 0;
    // A guard page would raise on the first touch; the caching modifiers
    // (PAGE_NOCACHE, PAGE_WRITECOMBINE) do not affect reading.
    if (info.Protect & PAGE_GUARD) return 0;
    switch (info.Protect & 0xFF) {
        case PAGE_READONLY:
        case PAGE_READWRITE:
        case PAGE_WRITECOPY:
        case PAGE_EXECUTE_READ:
        case PAGE_EXECUTE_READWRITE:
        case PAGE_EXECUTE_WRITECOPY: break;
        default: return 0;
    }
    // VirtualQuery's region has one protection; a text that runs on into
    // a region of another readable protection is asked about again by the
    // scan at that page.
    const uintptr_t regionEnd = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    return regionEnd >= start + size ? 1 : 0;
}

}  // namespace kvi::platform
