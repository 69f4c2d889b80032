// KVIABIO's file operations over the Win32 file API. Every failure answers
// kFailed.
#include "fault_injection.h"
#include "kviabio.h"
#include "win32/win32_handle.h"

namespace {

constexpr uint32_t kOk = 0;
constexpr uint32_t kFailed = 1;
constexpr uint32_t kFileBegin = 0;  // the only positioning method KVIABDB uses
constexpr uint32_t kBadPosition = 0xFFFFFFFFu;

// Only a file that is truly absent answers KVIO_NOT_FOUND.
uint32_t OpenHandle(const char* name, DWORD access, DWORD disposition, DWORD attributes, uint32_t* handle) {
    if (name == nullptr || name[0] == '\0') return kFailed;
    HANDLE h = ::CreateFileA(name, access, kvio::kShareAll, nullptr, disposition, attributes, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? KVIO_NOT_FOUND : kFailed;
    }
    // Directories cannot be opened this way; devices (CON, NUL) can, and
    // KVIABDB only ever means a plain file.
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        return kFailed;
    }
    *handle = kvio::ToKvioHandle(h);
    return kOk;
}

}  // namespace

extern "C" {

// Nothing to set up or tear down: file handles need no library state.
uint32_t KVIO_API KvioStartup(void) { return kOk; }
uint32_t KVIO_API KvioShutdown(void) { return kOk; }

KVIO_DECL uint32_t KVIO_API KvioCreate(const char* name, uint32_t attributes, uint32_t* handle) {
    const bool fail = kvio::CountCallAndCheckFault(KVIO_OP_CREATE);
    if (handle == nullptr) return kFailed;
    *handle = KVIO_INVALID_HANDLE;
    if (fail) return kFailed;
    return OpenHandle(name, GENERIC_WRITE, CREATE_ALWAYS, attributes, handle);
}

KVIO_DECL uint32_t KVIO_API KvioOpen(const char* name, uint32_t access, uint32_t* handle) {
    const bool fail = kvio::CountCallAndCheckFault(KVIO_OP_OPEN);
    if (handle == nullptr) return kFailed;
    *handle = KVIO_INVALID_HANDLE;
    if (fail) return kFailed;
    const DWORD wanted = access & (KVIO_GENERIC_READ | KVIO_GENERIC_WRITE);
    if (wanted == 0) return kFailed;
    // OPEN_EXISTING keeps the content: an open for writing overwrites parts
    // of the file in place.
    return OpenHandle(name, wanted, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, handle);
}

// Reaching the end of the file early is a failure: KVIABDB asks only for
// bytes its directory says exist, so a short file is a damaged one.
KVIO_DECL uint32_t KVIO_API KvioRead(uint32_t handle, void* buffer, uint32_t length, uint32_t* transferred) {
    const bool fail = kvio::CountCallAndCheckFault(KVIO_OP_READ);
    if (transferred != nullptr) *transferred = 0;
    HANDLE h;
    if (fail || !kvio::ToSystemHandle(handle, &h) || (buffer == nullptr && length != 0)) return kFailed;
    char* at = static_cast<char*>(buffer);
    uint32_t done = 0;
    uint32_t result = kOk;
    while (done < length) {
        DWORD n = 0;
        if (!::ReadFile(h, at + done, length - done, &n, nullptr) || n == 0) {
            result = kFailed;
            break;
        }
        done += n;
    }
    if (transferred != nullptr) *transferred = done;
    return result;
}

KVIO_DECL uint32_t KVIO_API KvioWrite(uint32_t handle, const void* buffer, uint32_t length, uint32_t* transferred) {
    const bool fail = kvio::CountCallAndCheckFault(KVIO_OP_WRITE);
    if (transferred != nullptr) *transferred = 0;
    HANDLE h;
    if (fail || !kvio::ToSystemHandle(handle, &h) || (buffer == nullptr && length != 0)) return kFailed;
    const char* at = static_cast<const char*>(buffer);
    uint32_t done = 0;
    uint32_t result = kOk;
    while (done < length) {
        DWORD n = 0;
        if (!::WriteFile(h, at + done, length - done, &n, nullptr) || n == 0) {
            result = kFailed;
            break;
        }
        done += n;
    }
    if (transferred != nullptr) *transferred = done;
    return result;
}

// The handle is released even for an injected failure: a caller cannot
// retry a close, and a fault run must not leak a handle per step.
KVIO_DECL uint32_t KVIO_API KvioClose(uint32_t handle) {
    const bool fail = kvio::CountCallAndCheckFault(KVIO_OP_CLOSE);
    HANDLE h;
    if (!kvio::ToSystemHandle(handle, &h)) return kFailed;
    const BOOL closed = ::CloseHandle(h);
    return (fail || !closed) ? kFailed : kOk;
}

KVIO_DECL uint32_t KVIO_API KvioSetPosition(uint32_t handle, uint32_t offset, uint32_t method) {
    const bool fail = kvio::CountCallAndCheckFault(KVIO_OP_SET_POSITION);
    HANDLE h;
    if (fail || method != kFileBegin || !kvio::ToSystemHandle(handle, &h)) return kBadPosition;
    LARGE_INTEGER wanted;
    wanted.QuadPart = static_cast<LONGLONG>(offset);
    LARGE_INTEGER reached;
    if (!::SetFilePointerEx(h, wanted, &reached, FILE_BEGIN)) return kBadPosition;
    if (reached.QuadPart < 0 || reached.QuadPart > 0xFFFFFFFFll) return kBadPosition;
    return static_cast<uint32_t>(reached.QuadPart);
}

KVIO_DECL uint32_t KVIO_API KvioDelete(const char* name) {
    if (kvio::CountCallAndCheckFault(KVIO_OP_DELETE)) return kFailed;
    if (name == nullptr || name[0] == '\0') return kFailed;
    if (::DeleteFileA(name)) return kOk;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? KVIO_NOT_FOUND : kFailed;
}

KVIO_DECL uint32_t KVIO_API KvioGetSize(uint32_t handle, uint32_t* size) {
    const bool fail = kvio::CountCallAndCheckFault(KVIO_OP_GET_SIZE);
    HANDLE h;
    if (fail || size == nullptr || !kvio::ToSystemHandle(handle, &h)) return kFailed;
    LARGE_INTEGER length;
    if (!::GetFileSizeEx(h, &length) || length.QuadPart < 0 || length.QuadPart > 0xFFFFFFFFll) return kFailed;
    *size = static_cast<uint32_t>(length.QuadPart);
    return kOk;
}

KVIO_DECL uint32_t KVIO_API KvioFlush(uint32_t handle) {
    const bool fail = kvio::CountCallAndCheckFault(KVIO_OP_FLUSH);
    HANDLE h;
    if (fail || !kvio::ToSystemHandle(handle, &h)) return kFailed;
    return ::FlushFileBuffers(h) ? kOk : kFailed;
}

}  // extern "C"
