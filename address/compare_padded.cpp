#include "address/compare_padded.h"

#include <cctype>
#include <cstring>

namespace kvi {
namespace {

// Index of the last character that is not a blank, -1 for none.
long LastNonBlank(const char* s) {
    long last = -1;
    for (long i = 0; s[i] != '\0'; ++i)
        if (s[i] != ' ') last = i;
    return last;
}

}  // namespace

int ComparePadded(const char* a, const char* b) {
    const long la = LastNonBlank(a);
    const long lb = LastNonBlank(b);
    const long n = (la > lb ? la : lb) + 1;
    // As _strnicmp: at most n characters, stopping at the first NUL.
    for (long i = 0; i < n; ++i) {
        const int ca = std::tolower(static_cast<unsigned char>(a[i]));
        const int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca - cb;
        if (ca == 0) break;
    }
    return 0;
}

}  // namespace kvi
