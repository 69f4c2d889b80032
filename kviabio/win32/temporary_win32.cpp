// KvioCreateTemporary on Windows. A temporary file is made with CREATE_NEW
// under a name of its own ("<book>.<pid>.<n>.tmp"), so nothing planted
// under that name is opened and two commits never share one. Its writer
// opens it without FILE_SHARE_DELETE, so it cannot be deleted while the
// handle is open; one that can be deleted and has not changed for a minute
// was left by a process that died, and the next temporary file of the same
// book removes it. The new file inherits the folder's ACL.
#include <stdio.h>
#include <string.h>

#include "fault_injection.h"
#include "kviabio.h"
#include "win32/win32_handle.h"

namespace {

constexpr uint32_t kOk = 0;
constexpr uint32_t kFailed = KVIO_FAILED;
constexpr int kNameAttempts = 64;
constexpr ULONGLONG kStaleTicks = 60ull * 10000000ull;  // a minute in 100 ns units
constexpr size_t kMaxPath = 1024;

// Numbers start at a point of their own in each process, so names that
// another account planted in advance are met rarely; one met is skipped.
volatile LONG g_counter = static_cast<LONG>(::GetTickCount() ^ (::GetCurrentProcessId() << 12));

ULONGLONG Ticks(const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

bool DigitsThenDot(const char*& p) {
    if (*p < '0' || *p > '9') return false;
    while (*p >= '0' && *p <= '9') ++p;
    return *p++ == '.';
}

void SweepAbandoned(const char* target) {
    const size_t n = strlen(target);
    if (n + 7 > kMaxPath) return;
    char pattern[kMaxPath];
    snprintf(pattern, sizeof pattern, "%s.*.tmp", target);
    const char* slash = strrchr(target, '\\');
    const size_t folderLength = slash ? static_cast<size_t>(slash - target) + 1 : 0;
    const char* base = target + folderLength;
    const size_t baseLength = strlen(base);
    FILETIME nowTime;
    ::GetSystemTimeAsFileTime(&nowTime);
    const ULONGLONG now = Ticks(nowTime);
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const char* p = found.cFileName;
        if (strncmp(p, base, baseLength) != 0 || p[baseLength] != '.') continue;
        p += baseLength + 1;
        if (!DigitsThenDot(p) || !DigitsThenDot(p) || strcmp(p, "tmp") != 0) continue;
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        if (Ticks(found.ftLastWriteTime) + kStaleTicks > now) continue;
        char path[kMaxPath];
        if (folderLength + strlen(found.cFileName) + 1 > sizeof path) continue;
        memcpy(path, target, folderLength);
        strcpy(path + folderLength, found.cFileName);
        ::DeleteFileA(path);  // fails while its writer holds it open
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
}

}  // namespace

extern "C" KVIO_DECL uint32_t KVIO_API KvioCreateTemporary(const char* target, uint32_t /*flags*/, uint32_t* handle,
                                                           char* name, uint32_t nameSize) {
    const bool fail = kvio::CountCallAndCheckFault(KVIO_OP_CREATE_TEMPORARY);
    if (handle == nullptr) return kFailed;
    *handle = KVIO_INVALID_HANDLE;
    if (fail || name == nullptr || nameSize == 0 || target == nullptr || target[0] == '\0') return kFailed;
    SweepAbandoned(target);
    char path[kMaxPath];
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const int n = snprintf(path, sizeof path, "%s.%lu.%lu.tmp", target,
                               static_cast<unsigned long>(::GetCurrentProcessId()),
                               static_cast<unsigned long>(::InterlockedIncrement(&g_counter)));
        if (n <= 0 || static_cast<size_t>(n) >= sizeof path || static_cast<uint32_t>(n) >= nameSize) return kFailed;
        HANDLE h = ::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            return kFailed;
        }
        if (::GetFileType(h) != FILE_TYPE_DISK) {
            ::CloseHandle(h);
            return kFailed;
        }
        strcpy(name, path);  // fits: checked against nameSize above
        *handle = kvio::ToKvioHandle(h);
        return kOk;
    }
    return kFailed;
}
