// The security book with 800 users, 800 prefixes, 800 suffixes and 2,000
// folder entries: open and full commit beside the plain read and the plain
// write + fsync + rename of the same bytes; and a folder security list
// over 2,000 existing directories beside 2,000 plain stat calls.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench_support.h"
#include "kviabdb.h"
#include "paired.h"

namespace {

constexpr int kUsers = 800;
constexpr int kAffixes = 800;
constexpr int kFolders = 2000;

struct SecurityMachine {
    std::string dir;
    std::string book;
    char locker[8] = "bench";
};

std::string FolderPath(const std::string& dir, int i) { return dir + "/folders/f" + std::to_string(i); }

// One Windows directory with the full book, opened and locked; its folder
// entries name 2,000 directories that exist.
SecurityMachine& Setup() {
    static SecurityMachine* m = [] {
        auto* s = new SecurityMachine;
        s->dir = kvi::bench::MakeBenchDirectory();
        mkdir((s->dir + "/folders").c_str(), 0755);
        s->book = s->dir + "/KVI32/MERIDOX.PWD";
        setenv("KVI_WINDOWS_DIR", s->dir.c_str(), 1);
        if (KviDfInitialize() != 1 || KviDfOpenSecurityBook(nullptr) != 1 ||
            KviDfLockSecurityBook(s->locker, 1000) != 1)
            abort();
        for (int i = 0; i < kUsers; ++i) {
            SecurityEntry u;
            std::memset(&u, 0, sizeof u);
            std::snprintf(u.name, sizeof u.name, "user%04d", i);
            std::snprintf(u.password, sizeof u.password, "pw%d", i);
            std::snprintf(u.extraText, sizeof u.extraText, "department %d", i % 13);
            if (KviDfAddSecurityEntry(&u, 0, nullptr) != 1) abort();
        }
        for (int i = 0; i < kAffixes; ++i) {
            AffixEntry a;
            std::memset(&a, 0, sizeof a);
            std::snprintf(a.name, sizeof a.name, "Outside line %d", i);
            std::snprintf(a.affixText, sizeof a.affixText, "%d,,", i % 10);
            if (KviDfAddPrefixEntry(&a, 0, nullptr) != 1 || KviDfAddSuffixEntry(&a, 0, nullptr) != 1) abort();
        }
        for (int i = 0; i < kFolders; ++i) {
            const std::string path = FolderPath(s->dir, i);
            mkdir(path.c_str(), 0755);
            FolderSecurityEntry f;
            std::memset(&f, 0, sizeof f);
            std::snprintf(f.path, sizeof f.path, "%s", path.c_str());
            if (AddFolderSecurityEntry(&f, 0, nullptr) != 1) abort();
        }
        if (KviDfCommitSecurityBook(0) != 1) abort();
        return s;
    }();
    setenv("KVI_WINDOWS_DIR", m->dir.c_str(), 1);
    return *m;
}

// The targets: open and full commit, each in alternation with its baseline.
void BM_PairedSecurityOpen(benchmark::State& state) {
    SecurityMachine& m = Setup();
    kvi::bench::MeasureOpenPair(state, kvi::bench::BookKind::kSecurity, m.book);
}
BENCHMARK(BM_PairedSecurityOpen)->UseManualTime();

void BM_PairedSecurityCommit(benchmark::State& state) {
    SecurityMachine& m = Setup();
    kvi::bench::MeasureCommitPair(state, kvi::bench::BookKind::kSecurity, m.book, m.dir + "/KVI32");
}
BENCHMARK(BM_PairedSecurityCommit)->UseManualTime();

void BM_FolderListOver2000Directories(benchmark::State& state) {
    Setup();
    for (auto _ : state) {
        const KviListHandle list = CreateFolderSecurityList();
        if (FolderSecurityListCount(list) != kFolders) abort();
        DestroyFolderSecurityList(list);
    }
}
BENCHMARK(BM_FolderListOver2000Directories);

void BM_Plain2000DirectoryStats(benchmark::State& state) {
    SecurityMachine& m = Setup();
    for (auto _ : state) {
        for (int i = 0; i < kFolders; ++i) {
            struct stat st;
            if (stat(FolderPath(m.dir, i).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) abort();
        }
    }
}
BENCHMARK(BM_Plain2000DirectoryStats);

}  // namespace
