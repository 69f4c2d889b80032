// KvioReplace and KvioPlace on POSIX: fsync the new file, rename it over
// the old one (or into the free name), fsync the folder. rename() is
// atomic, so at every moment (and after a system crash) the target name
// holds either the whole old file (or none) or the whole new one.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE  // renameat2's flag
#endif
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "fault_injection.h"
#include "kviabio.h"
#include "posix_path.h"

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace {

constexpr uint32_t kOk = 0;
constexpr uint32_t kNotReplaced = KVIO_REPLACE_NOT_DONE;
constexpr uint32_t kNotDurable = KVIO_REPLACE_NOT_DURABLE;
constexpr uint32_t kExists = KVIO_PLACE_EXISTS;

int OpenRetrying(const char* path, int flags) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The bytes of a regular file reach stable storage before it is given the
// target's name; otherwise a crash could leave the name on an empty file.
bool SyncFile(const char* path) {
    const int fd = OpenRetrying(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    return ok;
}

// The rename is durable only once the folder that holds the name is synced.
bool SyncFolderOf(const char* path) {
    char folder[kvio::kMaxPath];
    kvio::SplitFolder(path, folder);
    const int fd = OpenRetrying(folder, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    return ok;
}

// Source and the file that target stands for (through a trusted link),
// with the source flushed; false when the replace must not go on.
bool Prepare(const char* source, const char* target, char* from, char* to) {
    char link[kvio::kMaxPath];
    return kvio::ToPosixPath(source, from) && kvio::ToPosixPath(target, link) &&
           kvio::ResolveTrustedLink(link, to) && SyncFile(from);
}

// rename without replacing: 0, or -1 with errno (EEXIST when taken).
int RenameNoReplace(const char* from, const char* to) {
#ifdef SYS_renameat2
    if (::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
#endif
    // File systems without renameat2: link fails when the name is taken.
    if (::link(from, to) != 0) return -1;
    ::unlink(from);  // a failure leaves a second name for the same bytes, nothing lost
    return 0;
}

}  // namespace

extern "C" KVIO_DECL uint32_t KVIO_API KvioReplace(const char* source, const char* target) {
    if (kvio::CountCallAndCheckFault(KVIO_OP_REPLACE)) return kNotReplaced;
    char from[kvio::kMaxPath];
    char to[kvio::kMaxPath];
    if (!Prepare(source, target, from, to)) return kNotReplaced;
    if (::rename(from, to) != 0) return kNotReplaced;
    return SyncFolderOf(to) ? kOk : kNotDurable;
}

extern "C" KVIO_DECL uint32_t KVIO_API KvioPlace(const char* source, const char* target) {
    if (kvio::CountCallAndCheckFault(KVIO_OP_PLACE)) return kNotReplaced;
    char from[kvio::kMaxPath];
    char to[kvio::kMaxPath];
    if (!Prepare(source, target, from, to)) return kNotReplaced;
    if (RenameNoReplace(from, to) != 0) {
        if (errno != EEXIST) return kNotReplaced;
        // Only an empty regular file gives way: it holds no book.
        struct stat st;
        if (::lstat(to, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 0) return kExists;
        if (::rename(from, to) != 0) return kNotReplaced;
    }
    return SyncFolderOf(to) ? kOk : kNotDurable;
}
