// KvioReplace on Windows: flush the new file, then MoveFileExA over the
// old one with MOVEFILE_WRITE_THROUGH, which returns only once the rename
// is on the disk. The rename is atomic on NTFS: the target name holds the
// whole old file or the whole new one at every moment.
//
// Not ReplaceFileA: its error 1176 (ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
// leaves the target gone and the new file under its temporary name, which
// is exactly the state the commit must never produce.
#include "fault_injection.h"
#include "kviabio.h"
#include "win32/win32_handle.h"

namespace {

constexpr uint32_t kOk = 0;
constexpr uint32_t kNotReplaced = KVIO_REPLACE_NOT_DONE;

// Virus scanners, indexers and backup tools open a freshly written file
// for a moment without FILE_SHARE_DELETE; the rename then fails with one
// of these and succeeds a little later.
bool IsTransient(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}
constexpr int kAttempts = 5;
constexpr DWORD kFirstPauseMs = 20;  // doubled after every failed try: 20, 40, 80, 160

// The bytes of the new file reach the disk before it takes the target's
// name; otherwise a crash could leave the name on an empty file.
bool FlushFile(const char* path) {
    HANDLE h = ::CreateFileA(path, GENERIC_WRITE, kvio::kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = ::GetFileType(h) == FILE_TYPE_DISK && ::FlushFileBuffers(h);
    if (!::CloseHandle(h)) ok = false;
    return ok;
}

// MoveFileExA with the given flags, retried while the error is transient.
// 0 on success, else the last error.
DWORD MoveRetrying(const char* source, const char* target, DWORD flags) {
    DWORD pause = kFirstPauseMs;
    for (int attempt = 1;; ++attempt) {
        if (::MoveFileExA(source, target, flags | MOVEFILE_WRITE_THROUGH)) return 0;
        const DWORD error = ::GetLastError();
        if (attempt == kAttempts || !IsTransient(error)) return error ? error : ERROR_GEN_FAILURE;
        ::Sleep(pause);
        pause *= 2;
    }
}

bool IsEmptyFile(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return ::GetFileAttributesExA(path, GetFileExInfoStandard, &data) &&
           (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
           data.nFileSizeHigh == 0 && data.nFileSizeLow == 0;
}

bool Usable(const char* source, const char* target) {
    return source != nullptr && target != nullptr && source[0] != '\0' && target[0] != '\0';
}

}  // namespace

extern "C" KVIO_DECL uint32_t KVIO_API KvioReplace(const char* source, const char* target) {
    if (kvio::CountCallAndCheckFault(KVIO_OP_REPLACE)) return kNotReplaced;
    if (!Usable(source, target) || !FlushFile(source)) return kNotReplaced;
    return MoveRetrying(source, target, MOVEFILE_REPLACE_EXISTING) == 0 ? kOk : kNotReplaced;
}

// Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken:
// the first book is put in place once.
extern "C" KVIO_DECL uint32_t KVIO_API KvioPlace(const char* source, const char* target) {
    if (kvio::CountCallAndCheckFault(KVIO_OP_PLACE)) return kNotReplaced;
    if (!Usable(source, target) || !FlushFile(source)) return kNotReplaced;
    const DWORD error = MoveRetrying(source, target, 0);
    if (error == 0) return kOk;
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return kNotReplaced;
    // Only an empty file gives way: it holds no book.
    if (!IsEmptyFile(target)) return KVIO_PLACE_EXISTS;
    return MoveRetrying(source, target, MOVEFILE_REPLACE_EXISTING) == 0 ? kOk : kNotReplaced;
}
