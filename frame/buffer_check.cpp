#include "frame/buffer_check.h"

#include <cstring>

#include "platform/platform.h"

namespace kvi {

namespace {
// Readability is tested again at every boundary of this size: smaller than
// or equal to any page size the library runs with, so no page is skipped.
constexpr uintptr_t kProbeStep = 4096;
}  // namespace

uint32_t BoundedLength(const char* text, uint32_t limit) {
    if (!text) return 0;
    uint32_t n = 0;
    uintptr_t at = reinterpret_cast<uintptr_t>(text);
    // The caller checked the page of the first byte (writable, as every
    // caller pointer must be). The text is only read, so each further page
    // need only be readable: a name that runs on into a read-only page is
    // read whole, and one without its NUL at the end of the readable
    // memory is cut there.
    while (n < limit) {
        if (n > 0 && at % kProbeStep == 0 && !platform::IsReadableRange(text + n, 1)) break;
        if (text[n] == '\0') break;
        ++n;
        ++at;
    }
    return n;
}

void CopyText(char* field, uint32_t fieldSize, const char* text) {
    if (fieldSize == 0) return;
    std::memset(field, 0, fieldSize);
    const uint32_t n = BoundedLength(text, fieldSize - 1);
    if (n) std::memcpy(field, text, n);
}

}  // namespace kvi
