// The caller-buffer check over VirtualQuery.
#include "platform/win32/windows_api.h"

namespace kvi::platform {

#if !defined(_WIN64)
static_assert(sizeof(MEMORY_BASIC_INFORMATION) == 28, "MEMORY_BASIC_INFORMATION is 28 bytes");
#endif

namespace {

// The region of committed memory that holds p. A range that wraps past the
// top of the address space is no buffer: without this test its end would
// compare as lying inside the region.
bool CommittedRegion(const void* p, uint32_t size, MEMORY_BASIC_INFORMATION* info) {
    if (!p) return false;
    if (size > UINTPTR_MAX - reinterpret_cast<uintptr_t>(p)) return false;
    if (::VirtualQuery(p, info, sizeof *info) < sizeof *info) return false;
    return info->State == MEM_COMMIT;
}

// 1 when the whole range lies in the region (which begins at or before p).
int InRegion(const MEMORY_BASIC_INFORMATION& info, const void* p, uint32_t size) {
    const uintptr_t regionEnd = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    return regionEnd >= reinterpret_cast<uintptr_t>(p) + size ? 1 : 0;
}

}  // namespace

int IsReadWriteRange(const void* p, uint32_t size) {
    MEMORY_BASIC_INFORMATION info;
    if (!CommittedRegion(p, size, &info)) return 0;
    // Exactly read-write: PAGE_GUARD or PAGE_NOCACHE on top, write-copy and
    // read-only all fail.
    if (info.Protect != PAGE_READWRITE && info.Protect != PAGE_EXECUTE_READWRITE) return 0;
    // The region is the run of pages with this state and protection that
    // begins at the page holding p; the whole range must lie in it.
    return InRegion(info, p, size);
}

int IsReadableRange(const void* p, uint32_t size) {
    MEMORY_BASIC_INFORMATION info;
    if (!CommittedRegion(p, size, &info)) return 0;
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
    return InRegion(info, p, size);
}

}  // namespace kvi::platform
