// Internal to KVIABIO on POSIX: the one place that turns the Windows paths
// KVIABDB builds into POSIX paths, and that decides which symbolic links
// may be followed.
#ifndef KVIABIO_POSIX_PATH_H
#define KVIABIO_POSIX_PATH_H

#include <stddef.h>

namespace kvio {

// Long enough for any Windows path (MAX_PATH is 260) with room to spare.
constexpr size_t kMaxPath = 1024;

// Copies name into out (kMaxPath bytes) with every backslash taken as '/'.
// False for a null or empty name or one that does not fit.
bool ToPosixPath(const char* name, char* out);

// The file that `path` (a POSIX path) stands for: path itself, or, for a
// symbolic link that belongs to the calling user or to root, the file it
// names (followed through a few such links; that file need not exist).
// False for a link of another account, a loop, or a name that does not
// fit: a link planted by someone else is never followed.
bool ResolveTrustedLink(const char* path, char* out);

// The folder part of a POSIX path ("." for a bare name) into folder
// (kMaxPath bytes), and the offset at which the file name begins.
size_t SplitFolder(const char* path, char* folder);

}  // namespace kvio

#endif
