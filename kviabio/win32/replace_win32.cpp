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

}  // namespace

extern "C" KVIO_DECL uint32_t KVIO_API KvioReplace(const char* source, const char* target) {
    if (kvio::CountCallAndCheckFault(KVIO_OP_REPLACE)) return kNotReplaced;
    if (source == nullptr || target == nullptr || source[0] == '\0' || target[0] == '\0') return kNotReplaced;
    if (!FlushFile(source)) return kNotReplaced;
    DWORD pause = kFirstPauseMs;
    for (int attempt = 1;; ++attempt) {
        if (::MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return kOk;
        if (attempt == kAttempts || !IsTransient(::GetLastError())) return kNotReplaced;
        ::Sleep(pause);
        pause *= 2;
    }
}
