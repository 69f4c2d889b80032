// IsReadWriteRange: the POSIX stand-in for VirtualQuery. A range passes
// when it lies in one run of mappings that are readable and writable
// (private or shared) starting at the mapping that holds the pointer;
// contiguous mappings count as one run, as VirtualQuery's region does.
// PROT_NONE guard pages, read-only mappings and holes end a run.
// IsReadableRange asks the same of readability alone (a read-only mapping
// continues the run).
//
// Nothing cheaper tells writability: mincore, msync, process_vm_readv and
// a write(2) from the range all accept a read-only page, and probing by
// writing the caller's bytes is not ours to do. So the map is asked: by
// the PROCMAP_QUERY ioctl (Linux 6.11, one system call per mapping
// crossed), or, on older kernels, by reading /proc/self/maps as text.
#include "platform/posix/memory_query.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace kvi::platform {

namespace {

// struct procmap_query and PROCMAP_QUERY of the kernel's UAPI
// <linux/fs.h>, which the system headers here predate. The layout is
// fixed-width, the same for 32- and 64-bit callers.
struct ProcmapQuery {
    uint64_t size;           // in: sizeof(ProcmapQuery)
    uint64_t queryFlags;     // in
    uint64_t queryAddr;      // in
    uint64_t vmaStart;       // out
    uint64_t vmaEnd;         // out, exclusive
    uint64_t vmaFlags;       // out: kVmaReadable | kVmaWritable | ...
    uint64_t vmaPageSize;    // out
    uint64_t vmaOffset;      // out
    uint64_t inode;          // out
    uint32_t devMajor;       // out
    uint32_t devMinor;       // out
    uint32_t vmaNameSize;    // in/out: 0, no name wanted
    uint32_t buildIdSize;    // in/out: 0, no build id wanted
    uint64_t vmaNameAddr;    // in
    uint64_t buildIdAddr;    // in
};
static_assert(sizeof(ProcmapQuery) == 104, "procmap_query is 104 bytes");
static_assert(offsetof(ProcmapQuery, vmaEnd) == 32, "procmap_query layout");
static_assert(offsetof(ProcmapQuery, devMajor) == 72, "procmap_query layout");
static_assert(offsetof(ProcmapQuery, vmaNameAddr) == 88, "procmap_query layout");

constexpr unsigned long kProcmapQuery = _IOWR('f', 17, ProcmapQuery);
constexpr uint64_t kVmaReadable = 0x01;
constexpr uint64_t kVmaWritable = 0x02;

std::atomic<bool> g_forceText{false};
std::atomic<bool> g_noIoctl{false};

// The cached descriptor of /proc/self/maps, -1 when none. Such a
// descriptor keeps answering about the process that opened it, so a forked
// child must not use its parent's: the fork handler drops it, which spares
// every check a getpid.
std::atomic<int> g_maps{-1};

void DropMapsAfterFork() {
    const int fd = g_maps.exchange(-1);
    // Still ours: nothing ran in the child since fork.
    if (fd >= 0) close(fd);
}

// Registered when the library is loaded, so that no check pays for a
// once-only guard.
const bool g_forkHandlerRegistered = (pthread_atfork(nullptr, nullptr, DropMapsAfterFork), true);

// The first check of the process opens the descriptor; kept apart so that
// the common path stays small.
[[gnu::noinline, gnu::cold]] int OpenMapsFd() {
    int fd = -1;
    const int opened = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (opened < 0) return -1;
    if (g_maps.compare_exchange_strong(fd, opened, std::memory_order_acq_rel)) return opened;
    close(opened);  // another thread was first; fd now holds its descriptor
    return fd;
}

int MapsFd() {
    const int fd = g_maps.load(std::memory_order_acquire);
    return fd >= 0 ? fd : OpenMapsFd();
}

enum class Verdict { kPass, kFail, kUnknown };

// Walks the run of mappings that carry every flag of `need` from start
// until it covers end.
Verdict CheckByIoctl(uintptr_t start, uintptr_t end, uint64_t need) {
    const int fd = MapsFd();
    if (fd < 0) return Verdict::kUnknown;
    uint64_t cursor = start;
    ProcmapQuery q;  // the kernel writes every output field
    for (;;) {
        // Only the input fields are set: clearing all 104 bytes first
        // costs a tenth of the ioctl itself.
        q.size = sizeof q;
        q.queryFlags = 0;  // only the mapping covering queryAddr
        q.queryAddr = cursor;
        q.vmaNameSize = 0;  // no name wanted
        q.buildIdSize = 0;  // no build id wanted
        q.vmaNameAddr = 0;
        q.buildIdAddr = 0;
        if (ioctl(fd, kProcmapQuery, &q) != 0) {
            if (errno == ENOENT) return Verdict::kFail;  // a hole
            if (errno == ENOTTY || errno == EINVAL || errno == EOPNOTSUPP) g_noIoctl.store(true);
            return Verdict::kUnknown;
        }
        if ((q.vmaFlags & need) != need) return Verdict::kFail;
        // The covering mapping of the previous end starts at that end, so
        // the run is unbroken; each step moves the cursor forward.
        if (q.vmaEnd >= end) return Verdict::kPass;
        if (q.vmaEnd <= cursor) return Verdict::kFail;
        cursor = q.vmaEnd;
    }
}

// The text form, line by line in address order: "lo-hi rwxp offset ...".
class TextWalk {
public:
    TextWalk(uintptr_t start, uintptr_t end) : cursor_(start), end_(end) {}

    // Feeds the next mapping; false once the verdict is known.
    bool Next(uint64_t lo, uint64_t hi, bool usable) {
        if (hi <= cursor_) return true;  // below the range
        if (lo > cursor_ || !usable) return Finish(false);
        if (hi >= end_) return Finish(true);
        cursor_ = hi;
        return true;
    }
    bool Passed() const { return passed_; }

private:
    bool Finish(bool passed) {
        passed_ = passed;
        return false;
    }
    uint64_t cursor_;
    uint64_t end_;
    bool passed_ = false;
};

bool ParseHex(const char*& p, const char* end, uint64_t* value) {
    uint64_t v = 0;
    const char* first = p;
    for (; p < end; ++p) {
        int digit;
        if (*p >= '0' && *p <= '9') digit = *p - '0';
        else if (*p >= 'a' && *p <= 'f') digit = *p - 'a' + 10;
        else break;
        v = v << 4 | static_cast<uint64_t>(digit);
    }
    *value = v;
    return p > first && p - first <= 16;
}

// Parses the head of one line; the path after it is never needed.
bool ParseLineHead(const char* p, const char* end, uint64_t* lo, uint64_t* hi, uint64_t* flags) {
    if (!ParseHex(p, end, lo) || p >= end || *p++ != '-') return false;
    if (!ParseHex(p, end, hi) || p >= end || *p++ != ' ') return false;
    if (end - p < 2) return false;
    *flags = (p[0] == 'r' ? kVmaReadable : 0) | (p[1] == 'w' ? kVmaWritable : 0);
    return true;
}

// Only on kernels before 6.11 (or when forced): out of line, so that its
// buffers do not weigh on every ioctl check's frame.
[[gnu::noinline]] Verdict CheckByText(uintptr_t start, uintptr_t end, uint64_t need) {
    const int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Verdict::kUnknown;
    TextWalk walk(start, end);
    char buffer[4096];
    char head[64];  // "lo-hi perms" fits with room to spare
    size_t headLength = 0;
    bool going = true;
    while (going) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t i = 0; i < n && going; ++i) {
            if (buffer[i] != '\n') {
                if (headLength < sizeof head) head[headLength++] = buffer[i];
                continue;
            }
            uint64_t lo, hi, flags;
            if (ParseLineHead(head, head + headLength, &lo, &hi, &flags)) going = walk.Next(lo, hi, (flags & need) == need);
            headLength = 0;
        }
    }
    close(fd);
    return walk.Passed() ? Verdict::kPass : Verdict::kFail;
}

int CheckRange(const void* p, uint32_t size, uint64_t need) {
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    if (!p || size > UINTPTR_MAX - start) return 0;  // a range that wraps
    const uintptr_t end = start + size;
    if (!g_forceText.load(std::memory_order_relaxed) && !g_noIoctl.load(std::memory_order_relaxed)) {
        const Verdict v = CheckByIoctl(start, end, need);
        if (v != Verdict::kUnknown) return v == Verdict::kPass ? 1 : 0;
    }
    return CheckByText(start, end, need) == Verdict::kPass ? 1 : 0;
}

}  // namespace

int IsReadWriteRange(const void* p, uint32_t size) { return CheckRange(p, size, kVmaReadable | kVmaWritable); }

int IsReadableRange(const void* p, uint32_t size) { return CheckRange(p, size, kVmaReadable); }

namespace posix {

void SetMapSource(MapSource source) { g_forceText.store(source == MapSource::kText); }

bool ProcmapQueryAvailable() { return !g_noIoctl.load(); }

}  // namespace posix

}  // namespace kvi::platform
