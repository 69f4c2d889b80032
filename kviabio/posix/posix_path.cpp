#include "posix_path.h"

#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kvio {
namespace {

// Links made by an administrator (root) or by the user who runs the
// program are the book's configuration; any other account's link may point
// at a file that this process must not write.
bool TrustedOwner(uid_t owner) { return owner == 0 || owner == ::geteuid(); }

constexpr int kMaxLinks = 8;

}  // namespace

bool ToPosixPath(const char* name, char* out) {
    if (name == nullptr || name[0] == '\0') return false;
    size_t i = 0;
    for (; name[i] != '\0'; ++i) {
        if (i + 1 >= kMaxPath) return false;  // no room for the terminator
        out[i] = name[i] == '\\' ? '/' : name[i];
    }
    out[i] = '\0';
    return true;
}

size_t SplitFolder(const char* path, char* folder) {
    const char* slash = strrchr(path, '/');
    if (slash == nullptr) {
        strcpy(folder, ".");
        return 0;
    }
    if (slash == path) {
        strcpy(folder, "/");
    } else {
        const size_t length = static_cast<size_t>(slash - path);  // < kMaxPath
        memcpy(folder, path, length);
        folder[length] = '\0';
    }
    return static_cast<size_t>(slash - path) + 1;
}

bool ResolveTrustedLink(const char* path, char* out) {
    char current[kMaxPath];
    if (strlen(path) >= kMaxPath) return false;
    strcpy(current, path);
    for (int i = 0; i <= kMaxLinks; ++i) {
        struct stat st;
        if (::lstat(current, &st) != 0 || !S_ISLNK(st.st_mode)) {
            strcpy(out, current);  // a missing file is resolved too: it may be created there
            return true;
        }
        if (i == kMaxLinks || !TrustedOwner(st.st_uid)) return false;
        char link[kMaxPath];
        const ssize_t n = ::readlink(current, link, sizeof link - 1);
        if (n <= 0) return false;
        link[n] = '\0';
        if (link[0] == '/') {
            strcpy(current, link);
            continue;
        }
        char folder[kMaxPath];
        SplitFolder(current, folder);
        const size_t f = strlen(folder);
        if (f + 1 + static_cast<size_t>(n) + 1 > kMaxPath) return false;
        memcpy(current, folder, f);
        current[f] = '/';
        memcpy(current + f + 1, link, static_cast<size_t>(n) + 1);
    }
    return false;
}

}  // namespace kvio
