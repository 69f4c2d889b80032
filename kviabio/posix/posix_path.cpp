#include "posix_path.h"

namespace kvio {

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

}  // namespace kvio
