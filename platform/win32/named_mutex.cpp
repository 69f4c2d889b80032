// The book mutexes: system-wide named mutexes. Windows gives them every
// property the books rely on: one owner thread, recursion for that owner,
// and WAIT_ABANDONED for the next waiter when the owner dies.
#include <cstring>

#include "platform/win32/windows_api.h"

namespace kvi::platform {

namespace {

// The NT family's GetVersionExA answer is the only one that decides.
constexpr DWORD kPlatformNt = 2;  // VER_PLATFORM_WIN32_NT

#if !defined(_WIN64)
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes");
static_assert(sizeof(SECURITY_ATTRIBUTES) == 12, "SECURITY_ATTRIBUTES is 12 bytes");
static_assert(SECURITY_DESCRIPTOR_MIN_LENGTH == 20, "a security descriptor is 20 bytes");
#endif

bool OnNtFamily() {
    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    const BOOL ok = ::GetVersionExA(&version);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    return ok && version.dwPlatformId == kPlatformNt;
}

}  // namespace

// A null DACL lets every account open the mutexes, so clients that run
// under different users still share the books' locks. Windows 9x has no
// security: default (null) attributes there, and on any failure.
void* CreateMutexSecurity() {
    if (!OnNtFamily()) return nullptr;
    auto* attributes = static_cast<SECURITY_ATTRIBUTES*>(::LocalAlloc(LPTR, sizeof(SECURITY_ATTRIBUTES)));
    if (!attributes) return nullptr;
    attributes->nLength = sizeof(SECURITY_ATTRIBUTES);
    attributes->bInheritHandle = TRUE;
    void* descriptor = ::LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
    if (!descriptor || !::InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(descriptor, TRUE, nullptr, FALSE)) {
        if (descriptor) ::LocalFree(descriptor);
        ::LocalFree(attributes);
        return nullptr;
    }
    attributes->lpSecurityDescriptor = descriptor;
    return attributes;
}

// Descriptor first, then the attributes block that points at it.
void FreeMutexSecurity(void* security) {
    if (!security) return;
    auto* attributes = static_cast<SECURITY_ATTRIBUTES*>(security);
    if (attributes->lpSecurityDescriptor) ::LocalFree(attributes->lpSecurityDescriptor);
    ::LocalFree(attributes);
}

MutexHandle CreateNamedMutex(const char* name, void* security) {
    if (!name || !*name) return 0;
    HANDLE mutex = ::CreateMutexA(static_cast<SECURITY_ATTRIBUTES*>(security), FALSE, name);
    return reinterpret_cast<MutexHandle>(mutex);  // null on failure
}

// A null handle is refused here rather than passed on: the answer is the
// same WAIT_FAILED without asking the system about a handle that is none.
uint32_t WaitMutex(MutexHandle mutex, uint32_t timeoutMs) {
    if (!mutex) return kWaitFailed;
    const DWORD rc = ::WaitForSingleObject(reinterpret_cast<HANDLE>(mutex), timeoutMs);
    switch (rc) {
    case WAIT_OBJECT_0:
        return kWaitObject0;
    case WAIT_ABANDONED:
        return kWaitAbandoned;
    case WAIT_TIMEOUT:
        return kWaitTimeout;
    default:
        return kWaitFailed;
    }
}

int ReleaseMutex(MutexHandle mutex) {
    if (!mutex) return 0;
    return ::ReleaseMutex(reinterpret_cast<HANDLE>(mutex)) ? 1 : 0;
}

void CloseMutex(MutexHandle mutex) {
    if (mutex) ::CloseHandle(reinterpret_cast<HANDLE>(mutex));
}

}  // namespace kvi::platform
