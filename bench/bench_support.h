// What the benchmarks share: private Windows directories (made with their
// KVI32 folder, removed with their shared memory when the program ends, so
// a run leaves nothing behind) and the plain file operations every figure
// is measured against.
#ifndef KVI_BENCH_BENCH_SUPPORT_H
#define KVI_BENCH_BENCH_SUPPORT_H

#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "kviabdb.h"
#include "paired.h"
#include "platform/platform.h"

namespace kvi::bench {

inline std::vector<std::string>& MadeDirectories() {
    static std::vector<std::string>* dirs = [] {
        auto* made = new std::vector<std::string>;
        std::atexit([] {
            for (const std::string& dir : MadeDirectories()) {
                setenv("KVI_WINDOWS_DIR", dir.c_str(), 1);
                platform::RemoveMachineState();
                std::error_code ec;
                std::filesystem::remove_all(dir, ec);
            }
        });
        return made;
    }();
    return *dirs;
}

// A new directory /tmp/<prefix>.XXXXXX with its KVI32 folder.
inline std::string MakeBenchDirectory(const char* prefix = "kvibench") {
    std::string pattern = std::string("/tmp/") + prefix + ".XXXXXX";
    if (!mkdtemp(&pattern[0])) std::abort();
    mkdir((pattern + "/KVI32").c_str(), 0755);
    MadeDirectories().push_back(pattern);
    return pattern;
}

// The i-th entry of a typical book: texts of everyday length, the
// non-modem types in turn (so the duplicate rule compares every address).
inline AddressRecord TypicalAddress(int i) {
    const unsigned n = static_cast<unsigned>(i) % 10000u;
    AddressRecord e;
    std::memset(&e, 0, sizeof e);
    e.size = sizeof e;
    std::snprintf(e.name, sizeof e.name, "Branch office %u", n);
    std::snprintf(e.address, sizeof e.address, "host%u.example", n);
    std::snprintf(e.phoneNumber, sizeof e.phoneNumber, "+44 20 7946 %04u", n);
    std::snprintf(e.extraText1, sizeof e.extraText1, "dept %d", i % 17);
    std::snprintf(e.extraText2, sizeof e.extraText2, "r%d", i % 5);
    e.connectionType = static_cast<uint16_t>(2 + i % 3);
    e.extraValue = static_cast<uint32_t>(i);
    return e;
}

// The baseline of an open: the whole file read into memory, as an open
// reads it (one open, fstat, read, close, into a buffer that is not
// cleared first). Answers the bytes read.
inline size_t PlainRead(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) std::abort();
    struct stat st;
    if (fstat(fd, &st) != 0) std::abort();
    const size_t size = static_cast<size_t>(st.st_size);
    std::unique_ptr<char[]> bytes(new char[size ? size : 1]);
    if (read(fd, bytes.get(), size) != static_cast<ssize_t>(size)) std::abort();
    close(fd);
    benchmark::DoNotOptimize(bytes.get());
    return size;
}

// The whole file in a string.
inline std::string ReadAll(const std::string& path) {
    std::string bytes;
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) std::abort();
    struct stat st;
    fstat(fd, &st);
    bytes.resize(static_cast<size_t>(st.st_size));
    if (read(fd, &bytes[0], bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
    close(fd);
    return bytes;
}

// The baseline of a commit: the same bytes written durably and put in
// place, as a crash-safe commit must (write, fsync, rename, fsync the
// folder).
inline void PlainWriteFsyncRename(const std::string& bytes, const std::string& folder) {
    const std::string temp = folder + "/plain.tmp", target = folder + "/plain.bin";
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
    fsync(fd);
    close(fd);
    if (rename(temp.c_str(), target.c_str()) != 0) std::abort();
    const int dfd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    fsync(dfd);
    close(dfd);
}

// The open and commit targets of a book, each in alternation with its
// baseline (see paired.h). The book is open and locked in this process,
// its file at `path`.
enum class BookKind { kAddress, kSecurity };

// An open (closing the book first frees it: not part of the open) beside
// the plain read of the book's file; the file's size goes in "bytes".
inline void MeasureOpenPair(benchmark::State& state, BookKind book, const std::string& path) {
    const bool address = book == BookKind::kAddress;
    MeasurePair(state,
                MakeSide(
                    1, [address] { address ? KviDfCloseAddressBook() : KviDfCloseSecurityBook(); },
                    [address] {
                        if ((address ? KviDfOpenAddressBook(0) : KviDfOpenSecurityBook(nullptr)) != 1) std::abort();
                    }),
                MakeSide(1, [&path] { benchmark::DoNotOptimize(PlainRead(path)); }));
    state.counters["bytes"] = static_cast<double>(ReadAll(path).size());
}

// A full commit beside a plain write + fsync + rename of the same bytes in
// the book's folder.
inline void MeasureCommitPair(benchmark::State& state, BookKind book, const std::string& path,
                              const std::string& folder) {
    const bool address = book == BookKind::kAddress;
    const std::string bytes = ReadAll(path);
    MeasurePair(state,
                MakeSide(1,
                         [address] {
                             if ((address ? KviDfCommitAddressBook(1) : KviDfCommitSecurityBook(1)) != 1) std::abort();
                         }),
                MakeSide(1, [&] { PlainWriteFsyncRename(bytes, folder); }));
}

// The floor of a buffer check answered by the kernel: one PROCMAP_QUERY
// ioctl on an open /proc/self/maps (struct procmap_query of <linux/fs.h>,
// 104 bytes), asking about a heap block.
class ProcmapQuery {
public:
    ProcmapQuery() : fd_(open("/proc/self/maps", O_RDONLY | O_CLOEXEC)), block_(new char[164]) {
        if (fd_ >= 0 && Ask() != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~ProcmapQuery() {
        if (fd_ >= 0) close(fd_);
        delete[] block_;
    }
    ProcmapQuery(const ProcmapQuery&) = delete;
    ProcmapQuery& operator=(const ProcmapQuery&) = delete;
    // False where the kernel has no PROCMAP_QUERY.
    bool Available() const { return fd_ >= 0; }
    int Ask() {
        query_.size = sizeof query_;
        query_.flags = 0;
        query_.addr = reinterpret_cast<uintptr_t>(block_);
        return ioctl(fd_, _IOWR('f', 17, Query), &query_);
    }

private:
    struct Query {
        uint64_t size, flags, addr, start, end, vmaFlags, pageSize, offset, inode;
        uint32_t major, minor, nameSize, buildIdSize;
        uint64_t nameAddr, buildIdAddr;
    };
    static_assert(sizeof(Query) == 104, "procmap_query is 104 bytes");
    int fd_;
    char* block_;
    Query query_{};
};

}  // namespace kvi::bench

#endif
