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

FolderState QueryFolder(const char* path) {
    if (!path || !*path) return FolderState::kNoFolder;
    // A folder entry's path fits here (at most 261 characters): pruning
    // many entries then costs their stat calls and no allocation.
    char shortPath[512];
    std::string longPath;
    const char* posix = shortPath;
    const size_t n = std::strlen(path);
    if (n < sizeof shortPath) {
        for (size_t i = 0; i <= n; ++i) shortPath[i] = path[i] == '\\' ? '/' : path[i];
    } else {
        longPath = PosixPath(path);
        posix = longPath.c_str();
    }
    struct stat st;
    // stat resolves a relative path against the current directory, as
    // GetFileAttributesA does.
    if (stat(posix, &st) == 0) return S_ISDIR(st.st_mode) ? FolderState::kFolder : FolderState::kNoFolder;
    // A name longer than the system allows cannot name anything either.
    return errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG ? FolderState::kNoFolder
                                                                        : FolderState::kUnknown;
}

}  // namespace kvi::platform
