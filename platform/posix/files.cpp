// File deletion and the directory test, over Windows paths.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace kvi::platform {

namespace {

// The library builds its paths the Windows way; a backslash is a '/'.
std::string PosixPath(const char* path) {
    std::string posix(path);
    for (char& c : posix) {
        if (c == '\\') c = '/';
    }
    return posix;
}

}  // namespace

int DeleteFile(const char* path) {
    if (!path || !*path) return 0;
    return unlink(PosixPath(path).c_str()) == 0 ? 1 : 0;
}

namespace {

FolderState FolderStateOf(const char* posix) {
    struct stat st;
    // stat resolves a relative path against the current directory, as
    // GetFileAttributesA does.
    if (stat(posix, &st) == 0) return S_ISDIR(st.st_mode) ? FolderState::kFolder : FolderState::kNoFolder;
    // A name longer than the system allows cannot name anything either.
    return errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG ? FolderState::kNoFolder
                                                                        : FolderState::kUnknown;
}

// A path with a backslash: converted first, on the stack when it is no
// longer than a folder entry's (261 characters), so with no allocation.
[[gnu::noinline]] FolderState QueryConverted(const char* path) {
    char shortPath[512];
    const size_t n = std::strlen(path);
    if (n >= sizeof shortPath) return FolderStateOf(PosixPath(path).c_str());
    for (size_t i = 0; i <= n; ++i) shortPath[i] = path[i] == '\\' ? '/' : path[i];
    return FolderStateOf(shortPath);
}

}  // namespace

FolderState QueryFolder(const char* path) {
    if (!path || !*path) return FolderState::kNoFolder;
    // Pruning asks this of every folder entry, beside one stat each: a path
    // without a backslash, the usual kind here, goes to stat as it is.
    if (std::strchr(path, '\\')) return QueryConverted(path);
    return FolderStateOf(path);
}

}  // namespace kvi::platform
