// The one seam between the library and the operating system. Everything the
// library takes from the system goes through these functions; the POSIX and
// Win32 implementations live in platform/posix and platform/win32, and
// nothing above this header includes a system header for mutexes, memory
// queries or paths.
#ifndef KVI_PLATFORM_PLATFORM_H
#define KVI_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>

namespace kvi::platform {

// Results of WaitMutex, the values WaitForSingleObject answers.
constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitAbandoned = 128;  // the owner died; the waiter owns it now
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;
constexpr uint32_t kInfinite = 0xFFFFFFFFu;  // timeout without limit

// A named mutex; 0 is the null handle that every wait refuses.
using MutexHandle = uintptr_t;

// Security attributes for the two book mutexes: a null DACL on the NT
// family, nothing on POSIX. Built before both mutexes are created and
// freed after both exist; null means default security.
void* CreateMutexSecurity();
void FreeMutexSecurity(void* security);

// Creates or opens the machine-wide mutex of this name, not owned. The
// machine is the Windows directory on POSIX (its canonical path, so every
// spelling of it is one machine): two directories never share a mutex.
// Returns 0 on failure, and on POSIX also for an account that may not
// write the books' folder: such an account never locks.
MutexHandle CreateNamedMutex(const char* name, void* security);
// kWaitObject0, kWaitAbandoned (acquired all the same), kWaitTimeout or
// kWaitFailed (also for a null handle). On Windows the owner is the
// calling thread and the mutex is recursive for it; on POSIX the owner is
// the process, a second wait in it waits like any other, and a thread that
// ends does not release it. The frame keeps thread ownership and nesting
// itself, so it works with both.
uint32_t WaitMutex(MutexHandle mutex, uint32_t timeoutMs);
// 1 when the owner (the calling thread on Windows, this process on POSIX)
// held the mutex and released it, else 0.
int ReleaseMutex(MutexHandle mutex);
// Closes the handle, which must not be used afterwards; a mutex still owned
// stays owned, as on Windows. A null handle is ignored.
void CloseMutex(MutexHandle mutex);

// Identifier of the calling thread, never 0.
uint32_t CurrentThreadId();

// The block every process on the machine shares; zero-filled when first
// created. Plain data only, fixed in size and layout. Any process that may
// write it may put anything in it, so what is read from it is never
// trusted (names are copied with bounds). Processes never hold its
// address: they read a copy and change one field at a time.
struct SharedBlock {
    int32_t initCount;
    char addressLocker[200];
    char securityLocker[400];
};
// A copy of the block as it is now. When the shared memory cannot be had
// the process has a block of its own (the locks still work through the
// mutexes); on POSIX bytes another account cut off read as zeroes.
void ReadSharedBlock(SharedBlock* copy);
// 1 when this process may change the block. On POSIX an account that may
// only read the books' folder reads it and never writes it.
int SharedBlockWritable();
// Stores size bytes at offset into the block (within it, else nothing);
// 1 when written, 0 when this process may not write the block.
int WriteSharedBlock(size_t offset, const void* bytes, size_t size);
// Adds delta (1 or -1) to the count, atomically for every process of the machine,
// and sets *count to the new value; 0 and nothing changed when this
// process may not write the block.
int AddSharedInitCount(int32_t delta, int32_t* count);
#if defined(_WIN32)
// The shared section itself (Windows only; tests look at it).
SharedBlock* ProcessSharedBlock();
#endif

// Runs handler in the child of every later fork, before anything else the
// child does (POSIX; Windows has no fork and ignores it).
void AtForkChild(void (*handler)());

int32_t InterlockedIncrement(volatile int32_t* value);
int32_t InterlockedDecrement(volatile int32_t* value);

// VirtualQuery's answer for the caller-buffer check: 1 when [p, p + size)
// lies in one run of committed read-write pages that begins at the page
// holding p, else 0. p must not be null.
int IsReadWriteRange(const void* p, uint32_t size);
// The same for reading only: 1 when [p, p + size) lies in one run of
// committed pages that can be read (read-only and write-copy included,
// guard pages and no-access pages not). For the bounded scan of a caller's
// text beyond the page its check covered. p must not be null.
int IsReadableRange(const void* p, uint32_t size);

// Answers as GetWindowsDirectoryA: the length copied (without the NUL), or
// the size needed (with the NUL) when size is too small, 0 on failure.
uint32_t GetWindowsDirectory(char* buffer, uint32_t size);

// Paths are Windows paths; on POSIX a backslash is taken as '/'.
// Deletes a file (OpenFile with OF_DELETE); 1 on success.
int DeleteFile(const char* path);
// What a path names, as GetFileAttributesA tells it: a directory; no
// directory (nothing is there: ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
// ENOENT, ENOTDIR, or a name too long to exist; or a file is); or unknown (any other failure: no
// permission to search a parent, an I/O error), which is no answer either
// way. An empty or null path names no directory.
enum class FolderState { kFolder, kNoFolder, kUnknown };
FolderState QueryFolder(const char* path);

// OemToCharA: converts a NUL-terminated text from the OEM code page to the
// ANSI code page; dst may equal src and must hold strlen(src) + 1 bytes.
void OemToAnsi(const char* src, char* dst);

// For tests: removes what CreateNamedMutex and the shared block made for
// the current Windows directory (POSIX shared memory); the handles of this
// process stay usable until closed. Nothing on Windows.
void RemoveMachineState();

}  // namespace kvi::platform

#endif
