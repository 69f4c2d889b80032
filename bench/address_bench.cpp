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

void BM_Open(benchmark::State& state) {
    Setup();
    for (auto _ : state) {
        state.PauseTiming();
        KviDfCloseAddressBook();  // frees the book: not part of the open
        state.ResumeTiming();
        if (KviDfOpenAddressBook(0) != 1) abort();
    }
}
BENCHMARK(BM_Open);

void BM_PlainRead(benchmark::State& state) {
    Machine& m = Setup();
    for (auto _ : state) benchmark::DoNotOptimize(kvi::bench::ReadAll(m.book));
    state.counters["bytes"] = static_cast<double>(kvi::bench::ReadAll(m.book).size());
}
BENCHMARK(BM_PlainRead);

void BM_Commit(benchmark::State& state) {
    Setup();
    for (auto _ : state)
        if (KviDfCommitAddressBook(1) != 1) abort();
}
BENCHMARK(BM_Commit);

void BM_PlainWriteFsyncRename(benchmark::State& state) {
    Machine& m = Setup();
    const std::string bytes = kvi::bench::ReadAll(m.book);
    const std::string folder = m.dir + "/KVI32";
    for (auto _ : state) kvi::bench::PlainWriteFsyncRename(bytes, folder);
}
BENCHMARK(BM_PlainWriteFsyncRename);

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

void BM_Add800ToAnEmptyBook(benchmark::State& state) {
    Setup();
    KviDfCloseAddressBook();
    // A second machine with an empty book; every round reopens it empty
    // (nothing is committed), so the adds run against 0 .. 799 entries.
    const std::string saved = getenv("KVI_WINDOWS_DIR");
    const std::string dir = kvi::bench::MakeBenchDirectory();
    setenv("KVI_WINDOWS_DIR", dir.c_str(), 1);
    std::vector<AddressRecord> entries;
    for (int i = 0; i < kEntries; ++i) entries.push_back(kvi::bench::TypicalAddress(i));
    for (auto _ : state) {
        state.PauseTiming();
        KviDfCloseAddressBook();
        if (KviDfOpenAddressBook(0) != 1) abort();
        state.ResumeTiming();
        for (auto& e : entries)
            if (KviDfAddAddress(&e, 0, nullptr) != 1) abort();
    }
    KviDfCloseAddressBook();
    setenv("KVI_WINDOWS_DIR", saved.c_str(), 1);
    if (KviDfOpenAddressBook(0) != 1) abort();
}
BENCHMARK(BM_Add800ToAnEmptyBook);

// 800 updates of the 800 entries, each keeping its address (so the
// duplicate rule looks at every entry of that type and address) and
// changing its name; beside the 800 adds above.
void BM_Update800(benchmark::State& state) {
    Setup();
    std::vector<AddressRecord> entries;
    for (int i = 0; i < kEntries; ++i) {
        entries.push_back(kvi::bench::TypicalAddress(i));
        entries.back().id = static_cast<uint32_t>(i + 1);
    }
    unsigned round = 0;
    for (auto _ : state) {
        ++round;
        for (auto& e : entries) {
            std::snprintf(e.name, sizeof e.name, "Renamed %u %u", round % 7, e.id);
            if (KviDfUpdateAddress(&e, 0, 0) != 1) abort();
        }
    }
}
BENCHMARK(BM_Update800);

// One item of an 800-item list.
void BM_AddressListItem(benchmark::State& state) {
    Setup();
    const KviListHandle list = KviDfCreateAddressList();
    AddressRecord item;
    int32_t i = 0;
    for (auto _ : state) {
        if (KviDfAddressListItem(list, i, &item) != 1) abort();
        i = (i + 1) % kEntries;
    }
    KviDfDestroyAddressList(list);
}
BENCHMARK(BM_AddressListItem);

void BM_GetAddressById(benchmark::State& state) {
    Setup();
    AddressRecord e;
    uint32_t id = 0;
    for (auto _ : state) {
        e.id = id % kEntries + 1;
        ++id;
        if (KviDfGetAddress(&e) != 1) abort();
    }
}
BENCHMARK(BM_GetAddressById);

}  // namespace
