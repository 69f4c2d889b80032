// How the lock objects and the shared block come to exist in /dev/shm,
// when an existing one is used, and the record lock a lock object is
// taken with.
#include "platform/posix/shared_object.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace kvi::platform::posix {

namespace {

// Who may use the objects of a Windows directory: the accounts that may
// read or write its KVI32 folder, where the books are (the directory
// itself while that folder is missing).
struct FolderAccess {
    bool found;
    bool canWrite;  // this process may write the folder
    uid_t uid;
    gid_t gid;
    mode_t mode;
};

FolderAccess AccessOf(const char* windowsDir) {
    FolderAccess access{};
    struct stat st;
    std::string folder = std::string(windowsDir) + "/KVI32";
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        folder = windowsDir;
        if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            // No folder to take rights from: objects for this account only.
            access.canWrite = true;
            return access;
        }
    }
    access.found = true;
    access.uid = st.st_uid;
    access.gid = st.st_gid;
    access.mode = st.st_mode & 07777;
    access.canWrite = faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
    return access;
}

// The permissions a new object gets. The creator keeps read-write; each
// other class gets the folder's read and write bits (block) or read-write
// only when it may write the folder (lock).
mode_t ModeFor(const FolderAccess& access, ObjectKind kind) {
    mode_t mode = 0600;
    if (!access.found) return mode;
    for (const int shift : {3, 0}) {
        const mode_t bits = (access.mode >> shift) & 06;
        if (kind == ObjectKind::kBlock) mode |= bits << shift;
        else if (bits & 02) mode |= static_cast<mode_t>(06) << shift;
    }
    return mode;
}

// An object squatted by, or opened up to, an account that may not write
// the folder is not used: that account could forge the locks' state.
// Its size is not checked: the objects are read and written with pread
// and pwrite only, so any writer may cut them short or stretch them.
bool Trusted(const struct stat& st, const FolderAccess& access, ObjectKind kind) {
    if (!S_ISREG(st.st_mode)) return false;
    // Only a member of the folder's group (or root) can give a file that
    // group, so its owner may write the folder through the group.
    const bool groupWrites = access.found && (access.mode & 020) && st.st_gid == access.gid;
    const bool otherWrites = access.found && (access.mode & 002);
    const bool owner = st.st_uid == geteuid() || st.st_uid == 0 || (access.found && st.st_uid == access.uid) ||
                       groupWrites;
    if (!owner) return false;
    const mode_t groupBits = kind == ObjectKind::kBlock ? 020 : 060;
    const mode_t otherBits = kind == ObjectKind::kBlock ? 002 : 006;
    if ((st.st_mode & groupBits) && !groupWrites) return false;
    if ((st.st_mode & otherBits) && !otherWrites) return false;
    return true;
}

// Makes the object complete under a temporary name and links it into
// place. 1 made, 0 someone else was first, -1 failure.
int CreateObject(const std::string& path, const FolderAccess& access, ObjectKind kind, const void* initial,
                 size_t size, int* fd) {
    static std::atomic<uint32_t> serial{0};
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".new-%ld-%u", static_cast<long>(getpid()), serial.fetch_add(1));
    const std::string temp = path + suffix;
    const int made = open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (made < 0) return -1;
    mode_t mode = ModeFor(access, kind);
    bool ok = pwrite(made, initial, size, 0) == static_cast<ssize_t>(size);
    if (ok && access.found) {
        // Root makes it the folder owner's; anyone else can only give it
        // the folder's group, and without that group the group bits would
        // go to the creator's own group.
        const uid_t uid = geteuid() == 0 ? access.uid : static_cast<uid_t>(-1);
        if (fchown(made, uid, access.gid) != 0) mode &= ~static_cast<mode_t>(070);
    }
    ok = ok && fchmod(made, mode) == 0;
    int result = -1;
    if (ok) {
        if (link(temp.c_str(), path.c_str()) == 0) result = 1;
        else if (errno == EEXIST) result = 0;
    }
    unlink(temp.c_str());
    if (result == 1) {
        *fd = made;
    } else {
        close(made);
    }
    return result;
}

}  // namespace

int OpenSharedObject(const char* windowsDir, const std::string& name, ObjectKind kind, const void* initial,
                     size_t size, bool* writable) {
    const FolderAccess access = AccessOf(windowsDir);
    const std::string path = kShmDir + name;
    // A few rounds settle a race with a creator or a remover.
    for (int round = 0; round < 4; ++round) {
        bool readWrite = true;
        int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
        if (fd < 0 && errno == EACCES && kind == ObjectKind::kBlock) {
            readWrite = false;
            fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
        }
        if (fd < 0) {
            // Only who may write the folder makes the objects: anything
            // else would hand them to an account outside the writers.
            if (errno != ENOENT || !access.canWrite) return -1;
            const int made = CreateObject(path, access, kind, initial, size, &fd);
            if (made < 0) return -1;
            if (made == 0) continue;
            *writable = true;
            return fd;
        }
        struct stat st;
        if (fstat(fd, &st) != 0 || !Trusted(st, access, kind)) {
            close(fd);
            return -1;
        }
        *writable = readWrite;
        return fd;
    }
    return -1;
}

int SetByteLock(int fd, short type, int command) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
    return fcntl(fd, command, &lock);
}

}  // namespace kvi::platform::posix
