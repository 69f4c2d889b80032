// Copies from a book record into a caller's structure for the get exports.
#ifndef KVI_API_COPY_OUT_H
#define KVI_API_COPY_OUT_H

#include <cstdint>
#include <cstring>

namespace kvi {

// A stored text and its NUL, nothing after it: the caller's bytes beyond
// the terminator stay as the caller left them. The stored text is
// terminated inside its field; the copy never leaves the field all the
// same.
template <size_t N>
void CopyTextOut(char (&to)[N], const char (&from)[N]) {
    const size_t n = strnlen(from, N - 1);
    std::memcpy(to, from, n);
    to[n] = '\0';
}

}  // namespace kvi

#endif
