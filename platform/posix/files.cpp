// File deletion and the directory test, over Windows paths.
#include <sys/stat.h>
#include <unistd.h>

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

int DirectoryExists(const char* path) {
    if (!path || !*path) return 0;
    struct stat st;
    // stat resolves a relative path against the current directory, as
    // GetFileAttributesA does.
    return stat(PosixPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 1 : 0;
}

}  // namespace kvi::platform
