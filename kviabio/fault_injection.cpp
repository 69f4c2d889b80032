// The test hook: per operation, a call counter and an optional window of
// call numbers that fail. State is plain atomics in the process image, so a
// child made by fork starts with the parent's counts and armed faults.
#include "fault_injection.h"

// Compiled into a build only with the hook (KVIO_FAULT_HOOK); without it,
// the header's inline answer stands and nothing here exists.
#ifdef KVIO_FAULT_HOOK
#include <atomic>
#include <cstdlib>

#include "kviabio.h"

namespace kvio {
namespace {

constexpr uint32_t kFirstOp = KVIO_OP_CREATE;
constexpr uint32_t kLastOp = KVIO_OP_LAST;
constexpr uint32_t kOpCount = kLastOp - kFirstOp + 1;

struct OpState {
    std::atomic<uint32_t> calls{0};
    // Failing call numbers, inclusive: first in the high word, last in the
    // low word, so a window is armed and read in one piece. 0 = none.
    std::atomic<uint64_t> window{0};
};

OpState g_ops[kOpCount];
// Bit i set while operation kFirstOp + i has a window: the fast path when
// no test has armed anything is this one relaxed load.
std::atomic<uint32_t> g_armed{0};
// KvioInjectCrash: the process ends at this call number (of every
// operation together), counted from the arming; 0 = never.
std::atomic<uint32_t> g_crashAt{0};
std::atomic<uint32_t> g_allCalls{0};
constexpr int kCrashExitCode = 86;

bool KnownOp(uint32_t op) { return op >= kFirstOp && op <= kLastOp; }

}  // namespace

bool CountCallAndCheckFault(uint32_t op) {
    if (!KnownOp(op)) return false;
    if (const uint32_t crashAt = g_crashAt.load(std::memory_order_relaxed)) {
        if (g_allCalls.fetch_add(1, std::memory_order_relaxed) + 1 == crashAt) std::_Exit(kCrashExitCode);
    }
    const uint32_t index = op - kFirstOp;
    OpState& state = g_ops[index];
    // Numbered from 1, as the nth argument of KvioInjectFault counts.
    const uint32_t call = state.calls.fetch_add(1, std::memory_order_relaxed) + 1;
    if ((g_armed.load(std::memory_order_relaxed) & (1u << index)) == 0) return false;
    const uint64_t window = state.window.load(std::memory_order_acquire);
    if (window == 0) return false;
    const uint32_t first = static_cast<uint32_t>(window >> 32);
    const uint32_t last = static_cast<uint32_t>(window);
    return call >= first && call <= last;
}

}  // namespace kvio

extern "C" {

KVIO_DECL void KVIO_API KvioInjectFault(uint32_t op, uint32_t nth, uint32_t count) {
    using namespace kvio;
    if (op == KVIO_OP_NONE) {
        g_armed.store(0, std::memory_order_relaxed);
        for (OpState& state : g_ops) state.window.store(0, std::memory_order_release);
        return;
    }
    if (!KnownOp(op)) return;
    const uint32_t index = op - kFirstOp;
    OpState& state = g_ops[index];
    if (nth == 0 || count == 0) {  // nothing to fail: disarm this operation
        g_armed.fetch_and(~(1u << index), std::memory_order_relaxed);
        state.window.store(0, std::memory_order_release);
        return;
    }
    // Call numbers are 32-bit; a window past the end is cut at the end
    // (count 0xFFFFFFFF: every later call fails).
    const uint64_t done = state.calls.load(std::memory_order_relaxed);
    uint64_t first = done + nth;
    uint64_t last = first + count - 1;
    if (first > 0xFFFFFFFFu) first = 0xFFFFFFFFu;
    if (last > 0xFFFFFFFFu) last = 0xFFFFFFFFu;
    state.window.store((first << 32) | last, std::memory_order_release);
    g_armed.fetch_or(1u << index, std::memory_order_relaxed);
}

KVIO_DECL void KVIO_API KvioInjectCrash(uint32_t nth) {
    using namespace kvio;
    g_allCalls.store(0, std::memory_order_relaxed);
    g_crashAt.store(nth, std::memory_order_relaxed);
}

KVIO_DECL uint32_t KVIO_API KvioCallCount(uint32_t op) {
    using namespace kvio;
    if (!KnownOp(op)) return 0;
    return g_ops[op - kFirstOp].calls.load(std::memory_order_relaxed);
}

}  // extern "C"

#endif  // KVIO_FAULT_HOOK
