// KvioCreateTemporary on POSIX. A temporary file is made exclusively under
// a name of its own ("<book>.<pid>.<number>.tmp"), so nothing planted in a
// shared folder is opened, and two commits never share one. Its writer
// holds an flock on it while the descriptor is open; one that nobody holds,
// whose writer (the pid in its name) is gone or that has not changed for a
// minute, was left by a process that died, and the next temporary file of
// the same book removes it.
#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "fault_injection.h"
#include "kviabio.h"
#include "posix_path.h"

namespace {

constexpr uint32_t kOk = 0;
constexpr uint32_t kFailed = KVIO_FAILED;
constexpr time_t kStaleSeconds = 60;
constexpr int kNameAttempts = 64;

// Numbers start at a point of their own in each process, so names that
// another account planted in advance are met rarely; one met is skipped.
uint32_t NextNumber() {
    static std::atomic<uint32_t> counter{[] {
        timespec now;
        ::clock_gettime(CLOCK_REALTIME, &now);
        return static_cast<uint32_t>(now.tv_nsec) ^ (static_cast<uint32_t>(::getpid()) << 12);
    }()};
    return counter.fetch_add(1, std::memory_order_relaxed);
}

// "<base>.<digits>.<digits>.tmp"
bool IsTemporaryOf(const char* entry, const char* base, size_t baseLength) {
    if (strncmp(entry, base, baseLength) != 0 || entry[baseLength] != '.') return false;
    const char* p = entry + baseLength + 1;
    for (int part = 0; part < 2; ++part) {
        if (*p < '0' || *p > '9') return false;
        while (*p >= '0' && *p <= '9') ++p;
        if (*p++ != '.') return false;
    }
    return strcmp(p, "tmp") == 0;
}

// Whether the process named in "<base>.<pid>.<number>.tmp" is gone. A
// live pid (or one we may not signal) says nothing: the file may be its.
bool WriterIsGone(const char* entry, size_t baseLength) {
    const char* digits = entry + baseLength + 1;
    char* end = nullptr;
    const unsigned long pid = strtoul(digits, &end, 10);
    if (end == digits || pid == 0 || pid > 0x7FFFFFFFul) return false;
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// Removes the file when its writer is gone: no lock on it, its process
// gone or the file unchanged for a minute (a writer holds the lock from
// just after it creates the file), and still the file at that name when
// it goes.
void RemoveIfAbandoned(const char* path, bool writerGone) {
    const int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st;
    struct stat now;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        (writerGone || st.st_mtime + kStaleSeconds < ::time(nullptr)) &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::lstat(path, &now) == 0 && now.st_dev == st.st_dev &&
        now.st_ino == st.st_ino) {
        ::unlink(path);
    }
    ::close(fd);
}

void SweepAbandoned(const char* folder, const char* base) {
    DIR* dir = ::opendir(folder);
    if (dir == nullptr) return;
    const size_t baseLength = strlen(base);
    const size_t folderLength = strlen(folder);
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsTemporaryOf(entry->d_name, base, baseLength)) continue;
        char path[kvio::kMaxPath];
        if (folderLength + 1 + strlen(entry->d_name) + 1 > sizeof path) continue;
        snprintf(path, sizeof path, "%s/%s", folder, entry->d_name);
        RemoveIfAbandoned(path, WriterIsGone(entry->d_name, baseLength));
    }
    ::closedir(dir);
}

// The new file takes what the book it will replace has: owner and group
// first (a change of owner clears set-id bits), then the mode. The file is
// still empty, so nothing is readable under a wider mode meanwhile.
bool TakeOwnerAndMode(int fd, const char* book) {
    struct stat st;
    if (::stat(book, &st) != 0) return errno == ENOENT;  // a new book keeps the creation mode
    if (!S_ISREG(st.st_mode)) return true;
    // Without the right to give the file away, keep at least the group;
    // failing that the file stays the committer's, and the mode still holds.
    if (::fchown(fd, st.st_uid, st.st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
    }
    return ::fchmod(fd, st.st_mode & 07777) == 0;
}

}  // namespace

extern "C" KVIO_DECL uint32_t KVIO_API KvioCreateTemporary(const char* target, uint32_t flags, uint32_t* handle,
                                                           char* name, uint32_t nameSize) {
    const bool fail = kvio::CountCallAndCheckFault(KVIO_OP_CREATE_TEMPORARY);
    if (handle == nullptr) return kFailed;
    *handle = KVIO_INVALID_HANDLE;
    if (fail || name == nullptr || nameSize == 0) return kFailed;
    char link[kvio::kMaxPath];
    char book[kvio::kMaxPath];
    if (!kvio::ToPosixPath(target, link) || !kvio::ResolveTrustedLink(link, book)) return kFailed;
    char folder[kvio::kMaxPath];
    const size_t baseAt = kvio::SplitFolder(book, folder);
    SweepAbandoned(folder, book + baseAt);

    const mode_t mode = (flags & KVIO_CREATE_PRIVATE) ? 0660 : 0666;
    char path[kvio::kMaxPath];
    int fd = -1;
    for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
        const int n = snprintf(path, sizeof path, "%s.%ld.%u.tmp", book, static_cast<long>(::getpid()),
                               NextNumber());
        if (n <= 0 || static_cast<size_t>(n) >= sizeof path || static_cast<uint32_t>(n) >= nameSize) return kFailed;
        fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST && errno != EINTR) return kFailed;
    }
    if (fd < 0) return kFailed;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !TakeOwnerAndMode(fd, book)) {
        ::unlink(path);
        ::close(fd);
        return kFailed;
    }
    strcpy(name, path);  // fits: checked against nameSize above
    *handle = static_cast<uint32_t>(fd);
    return kOk;
}
