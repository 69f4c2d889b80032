// The objects in /dev/shm that the book locks and the shared block live
// in: how one is made, when an existing one is used, and the record lock
// on its first byte that a lock object is taken with. Internal to
// platform/posix.
#ifndef KVI_PLATFORM_POSIX_SHARED_OBJECT_H
#define KVI_PLATFORM_POSIX_SHARED_OBJECT_H

#include <cstddef>
#include <string>

namespace kvi::platform::posix {

// Where Linux keeps POSIX shared memory: the objects are made there by
// path, since shm_open cannot link a finished object into place.
constexpr const char kShmDir[] = "/dev/shm";

// The shared block is readable by whoever may read the books' folder and
// writable by whoever may write it. A lock object is open to writers only:
// a reader able to open it could hold a read lock on it and stall every
// locker.
enum class ObjectKind { kBlock, kLock };

// Opens the shared memory object `name` of the Windows directory. When it
// does not exist and this process may write the books' folder, it is made
// under a temporary name with `initial` (size bytes), given the folder's
// group and permissions, and linked into place, so nobody ever sees a
// partial object and nobody waits for its creator. An existing object is
// used only when it is a plain file that no account outside the folder's
// writers can write (nor, for a lock object, read); its size may be
// anything, so it must never be mapped, only read and written through the
// descriptor. *writable tells whether it was opened for writing (a block
// may be opened read-only). Returns the descriptor, or -1.
int OpenSharedObject(const char* windowsDir, const std::string& name, ObjectKind kind, const void* initial,
                     size_t size, bool* writable);

// An open-file-description record lock on the object's first byte:
// F_OFD_SETLK or F_OFD_SETLKW with F_WRLCK or F_UNLCK. The kernel keeps
// its state and drops it with the last descriptor of the description.
// fcntl's result (errno set on -1).
int SetByteLock(int fd, short type, int command);

}  // namespace kvi::platform::posix

#endif
