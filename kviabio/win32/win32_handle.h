// Internal to KVIABIO on Windows: handles cross the interface as 32-bit
// values. Kernel handles are 32-bit significant on 64-bit Windows too (they
// are sign-extended when widened), so the conversion loses nothing.
#ifndef KVIABIO_WIN32_HANDLE_H
#define KVIABIO_WIN32_HANDLE_H

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdint.h>

#include "kviabio.h"

namespace kvio {

// Every process may read, write, rename or delete a book file while another
// has it open: readers load while a writer commits, and the commit's
// rename over the book must not fail because a reader holds it.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

inline uint32_t ToKvioHandle(HANDLE h) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h));
}

// 0xFFFFFFFF (a closed IoFile, and INVALID_HANDLE_VALUE) and 0 are never
// passed to the system.
inline bool ToSystemHandle(uint32_t handle, HANDLE* h) {
    if (handle == KVIO_INVALID_HANDLE || handle == 0) return false;
    *h = reinterpret_cast<HANDLE>(static_cast<intptr_t>(static_cast<int32_t>(handle)));
    return true;
}

}  // namespace kvio

#endif
