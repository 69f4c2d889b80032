// Internal to KVIABIO on POSIX: the one place that turns the Windows paths
// KVIABDB builds into POSIX paths.
#ifndef KVIABIO_POSIX_PATH_H
#define KVIABIO_POSIX_PATH_H

#include <stddef.h>

namespace kvio {

// Long enough for any Windows path (MAX_PATH is 260) with room to spare.
constexpr size_t kMaxPath = 1024;

// Copies name into out (kMaxPath bytes) with every backslash taken as '/'.
// False for a null or empty name or one that does not fit.
bool ToPosixPath(const char* name, char* out);

}  // namespace kvio

#endif
