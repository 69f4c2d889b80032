// The caller-buffer check that every export makes, beside one plain read of
// /proc/self/maps, in a process with several hundred mappings.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <memory>

#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "frame/buffer_check.h"
#include "paired.h"
#include "platform/platform.h"
#include "platform/posix/memory_query.h"

namespace {

int CountMappings() {
    const int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char buffer[4096];
    int lines = 0;
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        for (ssize_t i = 0; i < n; ++i) lines += buffer[i] == '\n';
    }
    close(fd);
    return lines;
}

// 400 pages of alternating protection: 400 mappings the kernel cannot
// merge, kept for the whole run.
int EnsureMappings() {
    static const int count = [] {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        char* base = static_cast<char*>(mmap(nullptr, 400 * page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (base != MAP_FAILED) {
            for (size_t i = 0; i < 400; i += 2) mprotect(base + i * page, page, PROT_READ | PROT_WRITE);
        }
        return CountMappings();
    }();
    return count;
}

struct Target {
    const void* p;
    uint32_t size;
};

Target HeapPointer() {
    static auto heap = std::make_unique<char[]>(164);
    return {heap.get(), 0};
}
Target Literal() { return {"a constant text", 0}; }
Target Range164() {
    static auto record = std::make_unique<char[]>(164);
    return {record.get(), 164};
}

template <Target (*Make)(), bool kText>
void BM_IsReadWriteRange(benchmark::State& state) {
    state.counters["mappings"] = EnsureMappings();
    kvi::platform::posix::SetMapSource(kText ? kvi::platform::posix::MapSource::kText
                                             : kvi::platform::posix::MapSource::kAuto);
    const Target t = Make();
    for (auto _ : state) benchmark::DoNotOptimize(kvi::platform::IsReadWriteRange(t.p, t.size));
    kvi::platform::posix::SetMapSource(kvi::platform::posix::MapSource::kAuto);
}

// What any answer from the text costs at least: one read of the whole map.
void BM_ReadProcSelfMaps(benchmark::State& state) {
    state.counters["mappings"] = EnsureMappings();
    for (auto _ : state) benchmark::DoNotOptimize(CountMappings());
}

// The floor of any answer from the kernel: one PROCMAP_QUERY ioctl.
void BM_ProcmapQueryIoctl(benchmark::State& state) {
    kvi::bench::ProcmapQuery query;
    if (!query.Available()) {
        state.SkipWithError("PROCMAP_QUERY is not available");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(query.Ask());
}

// The targets: the buffer check beside one read of the map, in alternation.
template <Target (*Make)()>
void BM_PairedBufferCheck(benchmark::State& state) {
    state.counters["mappings"] = EnsureMappings();
    const Target t = Make();
    kvi::bench::MeasurePair(state,
                            kvi::bench::MakeSide(100, [t] { benchmark::DoNotOptimize(kvi::IsWritableBuffer(t.p, t.size)); }),
                            kvi::bench::MakeSide(1, [] { benchmark::DoNotOptimize(CountMappings()); }));
}

}  // namespace

BENCHMARK(BM_ReadProcSelfMaps);
BENCHMARK(BM_ProcmapQueryIoctl);
BENCHMARK_TEMPLATE(BM_IsReadWriteRange, HeapPointer, false)->Name("BM_IsReadWriteRange/heap");
BENCHMARK_TEMPLATE(BM_IsReadWriteRange, Literal, false)->Name("BM_IsReadWriteRange/literal");
BENCHMARK_TEMPLATE(BM_IsReadWriteRange, Range164, false)->Name("BM_IsReadWriteRange/range164");
BENCHMARK_TEMPLATE(BM_IsReadWriteRange, Range164, true)->Name("BM_IsReadWriteRange/range164/maps_text");
BENCHMARK_TEMPLATE(BM_PairedBufferCheck, HeapPointer)->Name("BM_PairedBufferCheck/heap")->UseManualTime();
BENCHMARK_TEMPLATE(BM_PairedBufferCheck, Literal)->Name("BM_PairedBufferCheck/literal")->UseManualTime();
BENCHMARK_TEMPLATE(BM_PairedBufferCheck, Range164)->Name("BM_PairedBufferCheck/range164")->UseManualTime();
