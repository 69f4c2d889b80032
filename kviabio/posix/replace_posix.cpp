// KvioReplace on POSIX: fsync the new file, rename it over the old one,
// fsync the folder. rename() is atomic, so at every moment (and after a
// system crash) the target name holds either the whole old file or the
// whole new one.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fault_injection.h"
#include "kviabio.h"
#include "posix_path.h"

namespace {

constexpr uint32_t kOk = 0;
constexpr uint32_t kNotReplaced = KVIO_REPLACE_NOT_DONE;
constexpr uint32_t kNotDurable = KVIO_REPLACE_NOT_DURABLE;

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
    const int fd = OpenRetrying(path, O_RDONLY);
    if (fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    return ok;
}

// The rename is durable only once the folder that holds the name is synced.
bool SyncFolderOf(const char* path) {
    char folder[kvio::kMaxPath];
    const char* slash = strrchr(path, '/');
    if (slash == nullptr) {
        strcpy(folder, ".");
    } else if (slash == path) {
        strcpy(folder, "/");
    } else {
        const size_t length = static_cast<size_t>(slash - path);  // < kMaxPath
        memcpy(folder, path, length);
        folder[length] = '\0';
    }
    const int fd = OpenRetrying(folder, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    return ok;
}

}  // namespace

extern "C" KVIO_DECL uint32_t KVIO_API KvioReplace(const char* source, const char* target) {
    if (kvio::CountCallAndCheckFault(KVIO_OP_REPLACE)) return kNotReplaced;
    char from[kvio::kMaxPath];
    char to[kvio::kMaxPath];
    if (!kvio::ToPosixPath(source, from) || !kvio::ToPosixPath(target, to)) return kNotReplaced;
    if (!SyncFile(from)) return kNotReplaced;
    if (::rename(from, to) != 0) return kNotReplaced;
    return SyncFolderOf(to) ? kOk : kNotDurable;
}
