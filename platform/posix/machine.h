// What the POSIX build takes for "the machine": the Windows directory.
// Named mutexes and the shared block live in POSIX shared memory under
// names derived from that directory, so two directories behave like two
// machines. Internal to platform/posix (tests reach it too).
#ifndef KVI_PLATFORM_POSIX_MACHINE_H
#define KVI_PLATFORM_POSIX_MACHINE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace kvi::platform::posix {

// KVI_WINDOWS_DIR, or the default when it is unset or empty. The pointer
// is valid until the environment changes.
const char* WindowsDirectoryPath();

// FNV-1a over the bytes, continuing from seed.
uint64_t Hash64(const char* bytes, size_t length, uint64_t seed);
constexpr uint64_t kHashSeed = 0xcbf29ce484222325ull;

// "/kviabdb-<hash of the directory>-": every shared memory name made for
// this Windows directory starts with it.
std::string MachineShmPrefix(const char* windowsDir);

// Every shared region begins with this header. The initializer writes
// keyCheck, then format, then magic last; a region whose magic is 0 was
// never finished and is initialized again by the next opener.
struct RegionHeader {
    uint32_t magic;
    uint32_t format;     // layout version and region size
    uint64_t keyCheck;   // a second hash of the full key, against collisions
};

// Opens or creates the shared region `name` of `size` bytes (size includes
// the header at its start). Creation races are settled by an exclusive
// flock on the shared memory object: the holder that finds no magic runs
// init (which must not touch the header) and publishes the header; every
// other opener validates magic, format and keyCheck. Returns the mapping,
// or null on any failure (init returning false included).
void* OpenSharedRegion(const std::string& name, size_t size, uint32_t magic, uint32_t format,
                       uint64_t keyCheck, bool (*init)(void* region));

// Drops this process's lookup entries for windowsDir so the next use maps
// the region anew (the old mappings stay valid). Called by
// RemoveMachineState after it unlinked the names.
void ForgetMutexes(const std::string& windowsDir);
void ForgetSharedBlock(const std::string& windowsDir);

}  // namespace kvi::platform::posix

#endif
