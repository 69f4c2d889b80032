// The check every export makes on a caller's pointer.
#ifndef KVI_FRAME_BUFFER_CHECK_H
#define KVI_FRAME_BUFFER_CHECK_H

#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace kvi {

// 1 when the pointer is null or [p, p + size) is committed read-write
// memory in one run of pages. A text argument is checked with size 0: only
// the page of its first byte is tested. Inline: every export makes it,
// beside one system call.
inline int IsWritableBuffer(const void* p, uint32_t size) { return p ? platform::IsReadWriteRange(p, size) : 1; }

// Copies a caller's text into a field of fieldSize bytes: at most
// fieldSize - 1 characters, always terminated, the rest of the field
// zero. A null text leaves the field empty. Reads the text only within
// memory that is readable, so a text at the end of a mapping without its
// NUL is cut there rather than read past.
void CopyText(char* field, uint32_t fieldSize, const char* text);

// strnlen over caller memory that may end without a NUL: never reads past
// the readable pages that hold the text.
uint32_t BoundedLength(const char* text, uint32_t limit);

// Stores a u32 through a caller's pointer, which need not be aligned.
inline void StoreCallerU32(void* to, uint32_t value) { std::memcpy(to, &value, sizeof value); }

}  // namespace kvi

#endif
