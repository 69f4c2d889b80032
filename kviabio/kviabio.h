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
/* 204: opens an existing file only; GENERIC_WRITE keeps its content (both
 * access bits: read and write; neither: failure). */
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

/*
 * Test hook, only in builds configured with KVI_FAULT_HOOK (the test
 * builds, never a release), exported by name, not an ordinal: make calls
 * of one operation fail. After this call, the nth call (1 = the next) of `op` and the
 * `count` - 1 calls after it fail without touching the file (a write then
 * writes nothing, a replace renames nothing, a create or open stores
 * KVIO_INVALID_HANDLE, a set position answers 0xFFFFFFFF without moving).
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
    KVIO_OP_REPLACE = 207
};
KVIO_DECL void KVIO_API KvioInjectFault(uint32_t op, uint32_t nth, uint32_t count);
/* Number of calls of `op` since the process started (for tests that step
 * a fault through every call of a commit). */
KVIO_DECL uint32_t KVIO_API KvioCallCount(uint32_t op);

#ifdef __cplusplus
}
#endif

#endif /* KVIABIO_H */
