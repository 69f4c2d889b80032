// KVIABIO's file operations over POSIX descriptors. A handle is the
// descriptor itself; descriptors are never negative, so a handle is never
// KVIO_INVALID_HANDLE while open. Every failure answers kFailed.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64  // positions up to 4 GiB on 32-bit systems too
#endif
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fault_injection.h"
#include "kviabio.h"
#include "posix_path.h"

namespace {

constexpr uint32_t kOk = 0;
constexpr uint32_t kFailed = 1;
constexpr uint32_t kFileBegin = 0;  // the only positioning method KVIABDB uses
constexpr uint32_t kBadPosition = 0xFFFFFFFFu;

// The size fstat found when this thread last opened a file for reading. A
// load asks for the size right after its open, and a second fstat would
// only repeat the first; the entry goes when that descriptor is closed.
struct SeenSize {
    int fd = -1;
    off_t size = 0;
};
thread_local SeenSize g_seen;

// A handle that cannot be one of ours is refused before it reaches the
// system, so 0xFFFFFFFF (a closed IoFile) never becomes descriptor -1.
bool ToDescriptor(uint32_t handle, int* fd) {
    if (handle > static_cast<uint32_t>(INT_MAX)) return false;
    *fd = static_cast<int>(handle);
    return true;
}

// Opens an existing regular file, or creates/empties one. Directories,
// FIFOs and devices are refused: KVIABDB only ever means a plain file, and
// O_NONBLOCK keeps a FIFO at the name from blocking the open. A link is
// followed only when ResolveTrustedLink allows it; O_NOFOLLOW then keeps a
// link swapped in meanwhile from being followed after all. The name is
// tried first as it is: only a link (ELOOP under O_NOFOLLOW) needs the
// walk, so the usual open costs one system call, not a stat beside it.
int OpenNoFollow(const char* path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

uint32_t OpenDescriptor(const char* name, int flags, mode_t mode, uint32_t* handle) {
    char path[kvio::kMaxPath];
    if (!kvio::ToPosixPath(name, path)) return kFailed;
    int fd = OpenNoFollow(path, flags, mode);
    if (fd < 0 && (errno == ELOOP || errno == EMLINK)) {
        char real[kvio::kMaxPath];
        if (!kvio::ResolveTrustedLink(path, real)) return kFailed;
        fd = OpenNoFollow(real, flags, mode);
    }
    if (fd < 0) return errno == ENOENT ? KVIO_NOT_FOUND : kFailed;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return kFailed;
    }
    if ((flags & O_ACCMODE) == O_RDONLY) g_seen = SeenSize{fd, st.st_size};
    // A read of a regular file never waits, so a descriptor opened for
    // reading keeps O_NONBLOCK; one for writing gets plain blocking writes.
    if ((flags & O_ACCMODE) != O_RDONLY) {
        const int status = ::fcntl(fd, F_GETFL);
        if (status != -1) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    }
    *handle = static_cast<uint32_t>(fd);
    return kOk;
}

}  // namespace

extern "C" {

// Nothing to set up or tear down: descriptors need no library state.
KVIO_DECL uint32_t KVIO_API KvioStartup(void) { return kOk; }
KVIO_DECL uint32_t KVIO_API KvioShutdown(void) { return kOk; }

// The attributes argument (always FILE_ATTRIBUTE_NORMAL) has no POSIX
// counterpart; new files get mode 0644 under the umask. KVIABDB writes its
// books through KvioCreateTemporary instead.
KVIO_DECL uint32_t KVIO_API KvioCreate(const char* name, uint32_t /*attributes*/, uint32_t* handle) {
    const bool fail = kvio::CountCallAndCheckFault(KVIO_OP_CREATE);
    if (handle == nullptr) return kFailed;
    *handle = KVIO_INVALID_HANDLE;
    if (fail) return kFailed;
    return OpenDescriptor(name, O_WRONLY | O_CREAT | O_TRUNC, 0644, handle);
}

KVIO_DECL uint32_t KVIO_API KvioOpen(const char* name, uint32_t access, uint32_t* handle) {
    const bool fail = kvio::CountCallAndCheckFault(KVIO_OP_OPEN);
    if (handle == nullptr) return kFailed;
    *handle = KVIO_INVALID_HANDLE;
    if (fail) return kFailed;
    const bool read = (access & KVIO_GENERIC_READ) != 0;
    const bool write = (access & KVIO_GENERIC_WRITE) != 0;
    // No O_TRUNC: an open for writing overwrites parts of the file in place.
    int flags;
    if (read && write) {
        flags = O_RDWR;
    } else if (write) {
        flags = O_WRONLY;
    } else if (read) {
        flags = O_RDONLY;
    } else {
        return kFailed;
    }
    return OpenDescriptor(name, flags, 0, handle);
}

// Reaching the end of the file early is a failure: KVIABDB asks only for
// bytes its directory says exist, so a short file is a damaged one.
KVIO_DECL uint32_t KVIO_API KvioRead(uint32_t handle, void* buffer, uint32_t length, uint32_t* transferred) {
    const bool fail = kvio::CountCallAndCheckFault(KVIO_OP_READ);
    if (transferred != nullptr) *transferred = 0;
    int fd;
    if (fail || !ToDescriptor(handle, &fd) || (buffer == nullptr && length != 0)) return kFailed;
    char* at = static_cast<char*>(buffer);
    uint32_t done = 0;
    uint32_t result = kOk;
    while (done < length) {
        const ssize_t n = ::read(fd, at + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            result = kFailed;
            break;
        }
        done += static_cast<uint32_t>(n);
    }
    if (transferred != nullptr) *transferred = done;
    return result;
}

KVIO_DECL uint32_t KVIO_API KvioWrite(uint32_t handle, const void* buffer, uint32_t length, uint32_t* transferred) {
    const bool fail = kvio::CountCallAndCheckFault(KVIO_OP_WRITE);
    if (transferred != nullptr) *transferred = 0;
    int fd;
    if (fail || !ToDescriptor(handle, &fd) || (buffer == nullptr && length != 0)) return kFailed;
    const char* at = static_cast<const char*>(buffer);
    uint32_t done = 0;
    uint32_t result = kOk;
    while (done < length) {
        const ssize_t n = ::write(fd, at + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {  // 0 would loop for ever; treat it as a full device
            result = kFailed;
            break;
        }
        done += static_cast<uint32_t>(n);
    }
    if (transferred != nullptr) *transferred = done;
    return result;
}

// The descriptor is released even when close reports an error (as POSIX
// close does on Linux), including an injected one: a caller cannot retry a
// close, and a fault run must not leak a descriptor per step.
KVIO_DECL uint32_t KVIO_API KvioClose(uint32_t handle) {
    const bool fail = kvio::CountCallAndCheckFault(KVIO_OP_CLOSE);
    int fd;
    if (!ToDescriptor(handle, &fd)) return kFailed;
    if (g_seen.fd == fd) g_seen.fd = -1;
    const int rc = ::close(fd);  // no retry on EINTR: the descriptor is gone
    return (fail || rc != 0) ? kFailed : kOk;
}

KVIO_DECL uint32_t KVIO_API KvioSetPosition(uint32_t handle, uint32_t offset, uint32_t method) {
    const bool fail = kvio::CountCallAndCheckFault(KVIO_OP_SET_POSITION);
    int fd;
    if (fail || method != kFileBegin || !ToDescriptor(handle, &fd)) return kBadPosition;
    const off_t reached = ::lseek(fd, static_cast<off_t>(offset), SEEK_SET);
    if (reached < 0 || static_cast<uint64_t>(reached) > 0xFFFFFFFFu) return kBadPosition;
    return static_cast<uint32_t>(reached);
}

// unlink never follows a link: a link at the name is removed, its target
// stays.
KVIO_DECL uint32_t KVIO_API KvioDelete(const char* name) {
    if (kvio::CountCallAndCheckFault(KVIO_OP_DELETE)) return kFailed;
    char path[kvio::kMaxPath];
    if (!kvio::ToPosixPath(name, path)) return kFailed;
    if (::unlink(path) == 0) return kOk;
    return errno == ENOENT ? KVIO_NOT_FOUND : kFailed;
}

KVIO_DECL uint32_t KVIO_API KvioGetSize(uint32_t handle, uint32_t* size) {
    const bool fail = kvio::CountCallAndCheckFault(KVIO_OP_GET_SIZE);
    int fd;
    if (fail || size == nullptr || !ToDescriptor(handle, &fd)) return kFailed;
    off_t bytes = g_seen.size;
    if (g_seen.fd != fd) {
        struct stat st;
        if (::fstat(fd, &st) != 0) return kFailed;
        bytes = st.st_size;
    }
    if (bytes < 0 || static_cast<uint64_t>(bytes) > 0xFFFFFFFFu) return kFailed;
    *size = static_cast<uint32_t>(bytes);
    return kOk;
}

KVIO_DECL uint32_t KVIO_API KvioFlush(uint32_t handle) {
    const bool fail = kvio::CountCallAndCheckFault(KVIO_OP_FLUSH);
    int fd;
    if (fail || !ToDescriptor(handle, &fd)) return kFailed;
    return ::fsync(fd) == 0 ? kOk : kFailed;
}

}  // extern "C"
