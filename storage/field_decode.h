// Field copies for the one-pass record decoders: every byte of a record
// structure is written once, from the encoding or as zero, and nothing is
// read past the bytes the decoder was given.
#ifndef KVI_STORAGE_FIELD_DECODE_H
#define KVI_STORAGE_FIELD_DECODE_H

#include <cstdint>
#include <cstring>

namespace kvi {

// Copies a text that ends with its NUL within the first min(fieldSize,
// left) bytes of in, and zeroes the rest of the field. Returns the bytes
// taken (NUL included), or 0 when no NUL lies within them.
inline uint32_t TakeText(char* field, uint32_t fieldSize, const uint8_t* in, uint32_t left) {
    const uint32_t room = left < fieldSize ? left : fieldSize;
    for (uint32_t i = 0; i < room; ++i) {
        const char c = static_cast<char>(in[i]);
        field[i] = c;
        if (c == '\0') {
            std::memset(field + i + 1, 0, fieldSize - i - 1);
            return i + 1;
        }
    }
    return 0;
}

}  // namespace kvi

#endif
