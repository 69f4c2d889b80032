// The address book with 800 entries of typical texts: open, full commit,
// listing, adding, lookup by id; beside them the plain read of the book's
// bytes and a plain write + fsync + rename of the same bytes, the floor
// that open and commit are measured against.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "kviabdb.h"
#include "paired.h"

namespace {

constexpr int kEntries = 800;

struct Machine {
    std::string dir;
    std::string book;
    char locker[8] = "bench";
};

// One Windows directory with an 800-entry book, opened and locked.
Machine& Setup() {
    static Machine* m = [] {
        auto* s = new Machine;
        s->dir = kvi::bench::MakeBenchDirectory();
        s->book = s->dir + "/KVI32/MERIDOX.PBK";
        setenv("KVI_WINDOWS_DIR", s->dir.c_str(), 1);
        if (KviDfInitialize() != 1 || KviDfOpenAddressBook(0) != 1 || KviDfLockAddressBook(s->locker) != 1) abort();
        for (int i = 0; i < kEntries; ++i) {
            AddressRecord e = kvi::bench::TypicalAddress(i);
            if (KviDfAddAddress(&e, 0, nullptr) != 1) abort();
        }
        if (KviDfCommitAddressBook(0) != 1) abort();
        return s;
    }();
    return *m;
}

void BM_ListAll(benchmark::State& state) {
    Setup();
    AddressRecord item;
    for (auto _ : state) {
        const KviListHandle list = KviDfCreateAddressList();
        for (int32_t i = 0; i < kEntries; ++i)
            if (KviDfAddressListItem(list, i, &item) != 1) abort();
        KviDfDestroyAddressList(list);
    }
}
BENCHMARK(BM_ListAll);

// The targets, each figure in alternation with its baseline.

void BM_PairedOpen(benchmark::State& state) {
    Machine& m = Setup();
    kvi::bench::MeasureOpenPair(state, kvi::bench::BookKind::kAddress, m.book);
}
BENCHMARK(BM_PairedOpen)->UseManualTime();

void BM_PairedCommit(benchmark::State& state) {
    Machine& m = Setup();
    kvi::bench::MeasureCommitPair(state, kvi::bench::BookKind::kAddress, m.book, m.dir + "/KVI32");
}
BENCHMARK(BM_PairedCommit)->UseManualTime();

// 800 adds to an empty book (the baseline), then 800 updates of the entries
// they made, each keeping its address (so the duplicate rule looks at every
// entry of that type and address) and changing its name. The adds work in
// a second Windows directory whose book is never committed, so every round
// opens it empty.
void BM_PairedUpdatesVsAdds(benchmark::State& state) {
    Machine& m = Setup();
    static const std::string empty = kvi::bench::MakeBenchDirectory();
    std::vector<AddressRecord> adds, updates;
    for (int i = 0; i < kEntries; ++i) {
        adds.push_back(kvi::bench::TypicalAddress(i));
        updates.push_back(kvi::bench::TypicalAddress(i));
        updates.back().id = static_cast<uint32_t>(i + 1);
    }
    setenv("KVI_WINDOWS_DIR", empty.c_str(), 1);
    unsigned round = 0;
    kvi::bench::MeasurePair(
        state,
        kvi::bench::MakeSide(
            1,
            [&] {
                ++round;
                for (auto& e : updates) std::snprintf(e.name, sizeof e.name, "Renamed %u %u", round % 7, e.id);
            },
            [&] {
                for (auto& e : updates)
                    if (KviDfUpdateAddress(&e, 0, 0) != 1) abort();
            }),
        kvi::bench::MakeSide(
            1,
            [] {
                KviDfCloseAddressBook();
                if (KviDfOpenAddressBook(0) != 1) abort();
            },
            [&] {
                for (auto& e : adds)
                    if (KviDfAddAddress(&e, 0, nullptr) != 1) abort();
            }),
        kvi::bench::Order::kBaselineFirst);
    KviDfCloseAddressBook();
    setenv("KVI_WINDOWS_DIR", m.dir.c_str(), 1);
    if (KviDfOpenAddressBook(0) != 1) abort();
}
BENCHMARK(BM_PairedUpdatesVsAdds)->UseManualTime();

// Lookups by id over the whole book, and items of an 800-item list, beside
// the one system call each must make.
void BM_PairedGetById(benchmark::State& state) {
    Setup();
    kvi::bench::ProcmapQuery query;
    if (!query.Available()) {
        state.SkipWithError("PROCMAP_QUERY is not available");
        return;
    }
    AddressRecord e;
    uint32_t id = 0;
    kvi::bench::MeasurePair(state, kvi::bench::MakeSide(100, [&] {
                                e.id = id % kEntries + 1;
                                ++id;
                                if (KviDfGetAddress(&e) != 1) abort();
                            }),
                            kvi::bench::MakeSide(100, [&] { benchmark::DoNotOptimize(query.Ask()); }));
}
BENCHMARK(BM_PairedGetById)->UseManualTime();

void BM_PairedListItem(benchmark::State& state) {
    Setup();
    kvi::bench::ProcmapQuery query;
    if (!query.Available()) {
        state.SkipWithError("PROCMAP_QUERY is not available");
        return;
    }
    const KviListHandle list = KviDfCreateAddressList();
    AddressRecord item;
    int32_t i = 0;
    kvi::bench::MeasurePair(state, kvi::bench::MakeSide(100, [&] {
                                if (KviDfAddressListItem(list, i, &item) != 1) abort();
                                i = (i + 1) % kEntries;
                            }),
                            kvi::bench::MakeSide(100, [&] { benchmark::DoNotOptimize(query.Ask()); }));
    KviDfDestroyAddressList(list);
}
BENCHMARK(BM_PairedListItem)->UseManualTime();

}  // namespace
