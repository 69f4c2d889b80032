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
    const void* nul = std::memchr(in, 0, room);
    if (!nul) return 0;
    const uint32_t n = static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - in) + 1;
    std::memcpy(field, in, n);
    std::memset(field + n, 0, fieldSize - n);
    return n;
}

}  // namespace kvi

#endif
