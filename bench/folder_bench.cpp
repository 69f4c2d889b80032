// The folder security table at scale: opening security books of 2,000 to
// 20,000 folder entries beside the plain read of the same bytes, and
// pruning 20,000 entries whose folders are gone beside their 20,000 plain
// stat calls.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"
#include "kviabdb.h"
#include "paired.h"

namespace {

constexpr int kMostFolders = 20000;

std::string MissingPath(const std::string& dir, int i) { return dir + "/gone/folder" + std::to_string(i); }

const std::string& DirectoryFor(int folders) {
    static std::map<int, std::string> dirs;
    auto it = dirs.find(folders);
    if (it != dirs.end()) return it->second;
    return dirs.emplace(folders, kvi::bench::MakeBenchDirectory("kvibench-folders")).first->second;
}

// A security book of `folders` entries naming folders that do not exist,
// opened and locked by this process; made on first use and committed.
class FolderBook {
public:
    explicit FolderBook(int folders) : dir_(DirectoryFor(folders)) {
        setenv("KVI_WINDOWS_DIR", dir_.c_str(), 1);
        KviDfInitialize();
        KviDfCloseSecurityBook();  // a book of another directory
        if (KviDfOpenSecurityBook(nullptr) != 1 || KviDfLockSecurityBook(locker_, 1000) != 1) abort();
        const KviListHandle list = KviDfCreateSecurityList();  // (users: none; only to see the book is there)
        KviDfDestroySecurityList(list);
        FolderSecurityEntry probe;
        std::memset(&probe, 0, sizeof probe);
        probe.id = static_cast<uint32_t>(folders);
        if (GetFolderSecurity(&probe) != 1) {
            for (int i = 0; i < folders; ++i) {
                FolderSecurityEntry f;
                std::memset(&f, 0, sizeof f);
                std::snprintf(f.path, sizeof f.path, "%s", MissingPath(dir_, i).c_str());
                if (AddFolderSecurityEntry(&f, 0, nullptr) != 1) abort();
            }
            if (KviDfCommitSecurityBook(0) != 1) abort();
        }
    }
    ~FolderBook() {
        KviDfCloseSecurityBook();  // before the unlock, which would commit
        KviDfUnlockSecurityBook();
        KviDfTerminate();
    }
    std::string Book() const { return dir_ + "/KVI32/MERIDOX.PWD"; }
    const std::string& Dir() const { return dir_; }

private:
    std::string dir_;
    char locker_[8] = "bench";
};

// The open of books of 2,000 to 20,000 folder entries, each in alternation
// with its plain read (see paired.h); the largest is a target.
void BM_ScalingSecurityOpenPair(benchmark::State& state) {
    FolderBook book(static_cast<int>(state.range(0)));
    kvi::bench::MeasureOpenPair(state, kvi::bench::BookKind::kSecurity, book.Book());
}

// The lock holder's folder list over 20,000 entries whose folders are
// gone, every one tested and removed, beside their 20,000 plain stat
// calls. The book is opened again from its file (not timed) before each
// round, and the list is checked empty and destroyed after it.
void BM_PairedPrune(benchmark::State& state) {
    FolderBook book(kMostFolders);
    std::vector<std::string> paths;
    for (int i = 0; i < kMostFolders; ++i) paths.push_back(MissingPath(book.Dir(), i));
    KviListHandle list = 0;
    const auto destroy = [&list] {
        if (list == 0) return;
        if (FolderSecurityListCount(list) != 0) abort();
        DestroyFolderSecurityList(list);
        list = 0;
    };
    kvi::bench::MeasurePair(state,
                            kvi::bench::MakeSide(
                                1,
                                [&] {
                                    destroy();
                                    KviDfCloseSecurityBook();  // drops the last round's removals
                                    if (KviDfOpenSecurityBook(nullptr) != 1) abort();
                                },
                                [&list] {
                                    list = CreateFolderSecurityList();
                                    if (list == 0) abort();
                                }),
                            kvi::bench::MakeSide(1, [&paths] {
                                for (const std::string& path : paths) {
                                    struct stat st;
                                    if (stat(path.c_str(), &st) == 0) abort();
                                }
                            }));
    destroy();
}
BENCHMARK(BM_PairedPrune)->UseManualTime();

const bool kRegistered = [] {
    for (int folders : {2000, 5000, 10000, 20000}) {
        benchmark::RegisterBenchmark("BM_ScalingSecurityOpenPair", BM_ScalingSecurityOpenPair)
            ->Arg(folders)
            ->UseManualTime();
    }
    return true;
}();

}  // namespace
