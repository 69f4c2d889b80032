#include "address/compare_padded.h"

namespace kvi {
namespace {

inline unsigned char Fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

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
    // As _strnicmp in the C locale: at most n characters, stopping at the
    // first NUL.
    for (long i = 0; i < n; ++i) {
        const int ca = Fold(static_cast<unsigned char>(a[i]));
        const int cb = Fold(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca - cb;
        if (ca == 0) break;
    }
    return 0;
}

uint32_t PaddedHash(const char* text, uint32_t seed) {
    const long last = LastNonBlank(text);
    uint32_t h = 2166136261u ^ seed;  // FNV-1a
    for (long i = 0; i <= last; ++i) {
        h ^= Fold(static_cast<unsigned char>(text[i]));
        h *= 16777619u;
    }
    return h;
}

}  // namespace kvi
