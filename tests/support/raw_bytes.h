// Fixed text fields and raw file bytes, as the tests build and read them
// (little-endian values in the machine's own order, which is the books').
#ifndef KVI_TESTS_SUPPORT_RAW_BYTES_H
#define KVI_TESTS_SUPPORT_RAW_BYTES_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace kvi::test {

// Copies at most size - 1 characters (up to the text's first NUL) and
// zeroes the rest of the field.
inline void Put(char* field, size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.c_str(), strnlen(text.c_str(), size - 1));
}

// A value's bytes as they lie in memory.
template <class T>
std::string Bytes(const T& value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}
inline std::string U16(uint16_t v) { return Bytes(v); }
inline std::string U32(uint32_t v) { return Bytes(v); }

// The value at offset; zero when it does not lie wholly inside bytes.
template <class T>
T At(const std::string& bytes, size_t offset) {
    T value{};
    if (offset <= bytes.size() && sizeof value <= bytes.size() - offset)
        std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

}  // namespace kvi::test

#endif
