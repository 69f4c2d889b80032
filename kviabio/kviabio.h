/*
 * KVIABIO: the file input/output library under KVIABDB. A plain C interface;
 * on Windows it is imported by ordinal only (given with each function).
 * Every function returns 0 on success and nonzero on failure, except
 * KvioSetPosition, which returns the position reached.
 *
 * Paths are Windows paths; the POSIX build takes a backslash as '/'.
 */
#ifndef KVIABIO_H
#define KVIABIO_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define KVIO_API __stdcall
#else
#define KVIO_API
#endif

#if defined(_WIN32)
#define KVIO_DECL
#else
#define KVIO_DECL __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define KVIO_GENERIC_READ 0x80000000u
#define KVIO_GENERIC_WRITE 0x40000000u
#define KVIO_INVALID_HANDLE 0xFFFFFFFFu

/* 101, 102: once per process; results are not examined by KVIABDB. */
KVIO_DECL uint32_t KVIO_API KvioStartup(void);
KVIO_DECL uint32_t KVIO_API KvioShutdown(void);
/* 201: creates the file, or empties an existing one; handle open for writing. */
KVIO_DECL uint32_t KVIO_API KvioCreate(const char* name, uint32_t attributes, uint32_t* handle);
/* 202, 203: transfer exactly length bytes; *transferred gets the count.
 * A read that meets the end of the file first fails, with *transferred
 * telling how many bytes it did read. */
KVIO_DECL uint32_t KVIO_API KvioRead(uint32_t handle, void* buffer, uint32_t length, uint32_t* transferred);
KVIO_DECL uint32_t KVIO_API KvioWrite(uint32_t handle, const void* buffer, uint32_t length, uint32_t* transferred);
/* 204: opens an existing regular file only; GENERIC_WRITE keeps its
 * content (both access bits: read and write; neither: failure). A file
 * that does not exist (ENOENT; Windows ERROR_FILE_NOT_FOUND or
 * ERROR_PATH_NOT_FOUND) answers KVIO_NOT_FOUND, any other failure
 * KVIO_FAILED: only a missing book may be created anew, a book that is
 * there but cannot be opened is left alone. Anything but a regular file
 * (a FIFO, a device, a folder) is refused without blocking. A symbolic
 * link is followed only when it belongs to the calling user or to root,
 * so a link that another account planted is never read or written
 * through. Callers that only test for zero need not care. */
#define KVIO_FAILED 1u
#define KVIO_NOT_FOUND 2u
KVIO_DECL uint32_t KVIO_API KvioOpen(const char* name, uint32_t access, uint32_t* handle);
/* 205: the handle is released even when the close reports a failure. */
KVIO_DECL uint32_t KVIO_API KvioClose(uint32_t handle);
/* 206: position from the start of the file (method 0, the only one);
 * returns the position reached, 0xFFFFFFFF on failure. */
KVIO_DECL uint32_t KVIO_API KvioSetPosition(uint32_t handle, uint32_t offset, uint32_t method);
/* 207: the crash-safe commit. Flushes the closed file `source` to stable
 * storage, renames it atomically over `target` (which need not exist), then
 * syncs the folder that holds `target` so the rename itself is durable.
 * `source` must be in the same folder as `target` (a rename does not cross
 * file systems). Guarantees:
 *  - 0: `target` holds the bytes of `source`, durably; `source` is gone.
 *  - KVIO_REPLACE_NOT_DONE: nothing was renamed; `target` is as it was
 *    (or still missing) and `source` is still there. The caller removes
 *    its temporary file; this call never does.
 *  - KVIO_REPLACE_NOT_DURABLE: the rename took place (`target` holds the
 *    new bytes, `source` is gone) but the folder could not be synced: a
 *    system crash may bring back the old `target`.
 * Other processes, and the disk after a crash at any moment, show either
 * the whole old `target` (or none, when there was none) or the whole new
 * one, never a mixture and never an old `target` gone missing. */
#define KVIO_REPLACE_NOT_DONE 1u
#define KVIO_REPLACE_NOT_DURABLE 2u
KVIO_DECL uint32_t KVIO_API KvioReplace(const char* source, const char* target);
/* A `target` that is a symbolic link (of the calling user or root) is
 * replaced through the link: the new file goes beside the link's target,
 * takes its place, and the link stays. */

/* 208: creates a new, empty temporary file for a later KvioReplace or
 * KvioPlace of `target`, beside it (beside a linked target's file):
 * "<target>.<process id>.<n>.tmp", made exclusively (O_CREAT|O_EXCL|
 * O_NOFOLLOW; Windows CREATE_NEW), so no file or link planted under that
 * name is ever opened. Its name goes to `name` (nameSize bytes, at least
 * KVIO_TEMP_NAME_EXTRA more than the target's length) and its handle,
 * open for writing, to *handle. It takes the mode, owner and group of an
 * existing `target` (owner and group as far as the process may set them);
 * for a new target, (flags & KVIO_CREATE_PRIVATE) ? 0660 : 0666 under the
 * umask (Windows: the folder's inherited ACL). Temporary files of the
 * same target that their writer left behind (it died: no handle holds
 * them and they are older than a minute) are removed first; one that a
 * live process is writing is never touched. */
#define KVIO_CREATE_PRIVATE 1u
#define KVIO_TEMP_NAME_EXTRA 40u
KVIO_DECL uint32_t KVIO_API KvioCreateTemporary(const char* target, uint32_t flags, uint32_t* handle, char* name,
                                                uint32_t nameSize);
/* 209: as KvioReplace, but only where no file is yet: the first book is
 * put in place once, and a creator that comes second learns it
 * (KVIO_PLACE_EXISTS) instead of replacing the first one's book. A 0-byte
 * file at `target` (left by an earlier build's unfinished creation) holds
 * nothing and is replaced. Linux: renameat2(RENAME_NOREPLACE), or link and
 * unlink where the file system lacks it; Windows: MoveFileExA without
 * MOVEFILE_REPLACE_EXISTING. Results as KvioReplace's, plus: */
#define KVIO_PLACE_EXISTS 3u
KVIO_DECL uint32_t KVIO_API KvioPlace(const char* source, const char* target);
/* 210: deletes a file (never a folder); a link is removed, not followed.
 * 0, KVIO_NOT_FOUND when there is none, else KVIO_FAILED. */
KVIO_DECL uint32_t KVIO_API KvioDelete(const char* name);
/* 211: the size of an open file in *size; fails above 4 GiB - 1. */
KVIO_DECL uint32_t KVIO_API KvioGetSize(uint32_t handle, uint32_t* size);
/* 212: the bytes written through the handle reach the disk before this
 * returns 0 (fsync; Windows: FlushFileBuffers), so a write in place that
 * reports success survives a power cut. KVIO_FAILED otherwise: what was
 * written may then be lost. */
KVIO_DECL uint32_t KVIO_API KvioFlush(uint32_t handle);

/*
 * Test hook, only in builds configured with KVI_FAULT_HOOK (the test
 * builds, never a release), exported by name, not an ordinal: make calls
 * of one operation fail. After this call, the nth call (1 = the next) of `op` and the
 * `count` - 1 calls after it fail without touching the file (a write then
 * writes nothing, a replace renames nothing, a create or open stores
 * KVIO_INVALID_HANDLE, a set position answers 0xFFFFFFFF without moving;
 * a failing open answers KVIO_FAILED, never KVIO_NOT_FOUND).
 * A failing close still releases the handle, as a real failing close does.
 * One window per operation: arming again replaces it; nth or count 0
 * disarms `op`; op 0 clears every fault. Counting is per process and
 * thread-safe; a child made by fork inherits counts and armed faults.
 */
enum KvioOperation {
    KVIO_OP_NONE = 0,
    KVIO_OP_CREATE = 201,
    KVIO_OP_READ = 202,
    KVIO_OP_WRITE = 203,
    KVIO_OP_OPEN = 204,
    KVIO_OP_CLOSE = 205,
    KVIO_OP_SET_POSITION = 206,
    KVIO_OP_REPLACE = 207,
    KVIO_OP_CREATE_TEMPORARY = 208,
    KVIO_OP_PLACE = 209,
    KVIO_OP_DELETE = 210,
    KVIO_OP_GET_SIZE = 211,
    KVIO_OP_FLUSH = 212,
    KVIO_OP_LAST = KVIO_OP_FLUSH /* the highest operation counted */
};
KVIO_DECL void KVIO_API KvioInjectFault(uint32_t op, uint32_t nth, uint32_t count);
/* Test hook, by name: the nth KVIABIO call from now (of any operation)
 * ends the process at once with exit code 86, before it touches a file:
 * a process killed at that step. 0 disarms. */
KVIO_DECL void KVIO_API KvioInjectCrash(uint32_t nth);
/* Number of calls of `op` since the process started (for tests that step
 * a fault through every call of a commit). */
KVIO_DECL uint32_t KVIO_API KvioCallCount(uint32_t op);

#ifdef __cplusplus
}
#endif

#endif /* KVIABIO_H */
