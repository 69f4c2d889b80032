// What the POSIX build takes for "the machine": the Windows directory,
// named by its canonical path. The book locks and the shared block live in
// POSIX shared memory under names derived from that path, so two
// directories behave like two machines and every spelling of one directory
// is the same machine. Internal to platform/posix (tests reach it too).
#ifndef KVI_PLATFORM_POSIX_MACHINE_H
#define KVI_PLATFORM_POSIX_MACHINE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace kvi::platform::posix {

// KVI_WINDOWS_DIR (or the default when it is unset or empty), resolved to
// its canonical path when it exists; a directory that does not exist keeps
// its text and is resolved again at the next call. The pointer stays valid
// for the life of the process.
const char* WindowsDirectoryPath();

// FNV-1a over the bytes, continuing from seed.
uint64_t Hash64(const char* bytes, size_t length, uint64_t seed);
constexpr uint64_t kHashSeed = 0xcbf29ce484222325ull;

// "/kviabdb2-<hash of the directory>-": every shared memory name made for
// this Windows directory starts with it.
std::string MachineShmPrefix(const char* windowsDir);

// Drops this process's lookup entries for windowsDir so the next use opens
// the objects anew (the old ones stay valid). Called by RemoveMachineState
// after it unlinked the names.
void ForgetMutexes(const std::string& windowsDir);
void ForgetSharedBlock(const std::string& windowsDir);

}  // namespace kvi::platform::posix

#endif
