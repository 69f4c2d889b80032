// Open and full commit of address books of 50 to 800 entries, each beside
// the plain read and the plain write + fsync + rename of the same bytes, to
// show how the cost grows with the book (docs/performance-scaling.png).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"
#include "kviabdb.h"
#include "paired.h"

namespace {

// One Windows directory per size, holding a committed book of that many
// entries; made once and kept for the run.
const std::string& DirectoryFor(int entries) {
    static std::map<int, std::string> dirs;
    auto it = dirs.find(entries);
    if (it != dirs.end()) return it->second;
    const std::string dir = kvi::bench::MakeBenchDirectory("kvibench-scale");
    return dirs.emplace(entries, dir).first->second;
}

// The book of `entries` entries, opened and locked by this process. The
// library is initialized here and left to the caller's Release.
class ScaledBook {
public:
    explicit ScaledBook(int entries) : dir_(DirectoryFor(entries)) {
        setenv("KVI_WINDOWS_DIR", dir_.c_str(), 1);
        char locker[] = "bench";
        KviDfInitialize();
        KviDfCloseAddressBook();  // a book of another directory, left open by an earlier benchmark
        if (KviDfOpenAddressBook(0) != 1 || KviDfLockAddressBook(locker) != 1) abort();
        const KviListHandle list = KviDfCreateAddressList();
        const int held = KviDfAddressListCount(list);
        KviDfDestroyAddressList(list);
        if (held == 0) {
            for (int i = 0; i < entries; ++i) {
                AddressRecord e = kvi::bench::TypicalAddress(i);
                if (KviDfAddAddress(&e, 0, nullptr) != 1) abort();
            }
            if (KviDfCommitAddressBook(0) != 1) abort();
        } else if (held != entries) {
            abort();
        }
    }
    ~ScaledBook() {
        KviDfCloseAddressBook();
        KviDfUnlockAddressBook();
        KviDfTerminate();
    }
    std::string Book() const { return dir_ + "/KVI32/MERIDOX.PBK"; }
    std::string Folder() const { return dir_ + "/KVI32"; }

private:
    std::string dir_;
};

// Open and commit of a book of this size, each in alternation with its
// baseline (see paired.h), as the targets are measured.
void BM_ScalingOpenPair(benchmark::State& state) {
    ScaledBook book(static_cast<int>(state.range(0)));
    kvi::bench::MeasureOpenPair(state, kvi::bench::BookKind::kAddress, book.Book());
}

void BM_ScalingCommitPair(benchmark::State& state) {
    ScaledBook book(static_cast<int>(state.range(0)));
    kvi::bench::MeasureCommitPair(state, kvi::bench::BookKind::kAddress, book.Book(), book.Folder());
}

// n adds to an empty book (no commit): the book is opened empty again,
// not timed, before each round.
void BM_ScalingAdds(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::string dir = kvi::bench::MakeBenchDirectory("kvibench-adds");
    setenv("KVI_WINDOWS_DIR", dir.c_str(), 1);
    char locker[] = "bench";
    KviDfInitialize();
    KviDfCloseAddressBook();
    if (KviDfLockAddressBook(locker) != 1) abort();
    std::vector<AddressRecord> entries;
    for (int i = 0; i < n; ++i) entries.push_back(kvi::bench::TypicalAddress(i));
    for (auto _ : state) {
        state.PauseTiming();
        KviDfCloseAddressBook();
        if (KviDfOpenAddressBook(0) != 1) abort();
        state.ResumeTiming();
        for (auto& e : entries)
            if (KviDfAddAddress(&e, 0, nullptr) != 1) abort();
    }
    KviDfCloseAddressBook();
    KviDfUnlockAddressBook();
    KviDfTerminate();
}

void BM_ScalingGetById(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    ScaledBook book(n);
    AddressRecord e;
    uint32_t id = 0;
    for (auto _ : state) {
        e.id = id % static_cast<uint32_t>(n) + 1;
        ++id;
        if (KviDfGetAddress(&e) != 1) abort();
    }
}

const bool kRegistered = [] {
    for (int entries : {50, 100, 200, 400, 800}) {
        benchmark::RegisterBenchmark("BM_ScalingOpenPair", BM_ScalingOpenPair)->Arg(entries)->UseManualTime();
        benchmark::RegisterBenchmark("BM_ScalingCommitPair", BM_ScalingCommitPair)->Arg(entries)->UseManualTime();
        benchmark::RegisterBenchmark("BM_ScalingAdds", BM_ScalingAdds)->Arg(entries);
        benchmark::RegisterBenchmark("BM_ScalingGetById", BM_ScalingGetById)->Arg(entries);
    }
    return true;
}();

}  // namespace
