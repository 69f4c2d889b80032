#include "address/section_reader.h"

#include <cstring>
#include <new>

#include "storage/io_file.h"

namespace kvi {

SectionReader::SectionReader(uint32_t chunkSize, IoFile& file, uint32_t sectionLength)
    : chunkSize_(chunkSize),
      file_(file),
      buffer_(chunkSize ? new (std::nothrow) uint8_t[chunkSize * kChunkCount] : nullptr),
      fillEnd_(buffer_),
      remaining_(sectionLength) {}

SectionReader::~SectionReader() { delete[] buffer_; }

const uint8_t* SectionReader::Ensure(const uint8_t* position) {
    const uint32_t c = chunkSize_;
    if (Available(position) > c) return position;
    if (remaining_ == 0) return position;
    const uint8_t* keep = buffer_ + (kChunkCount - 2) * c;
    if (position > keep) {
        // A refill only happens on a full buffer, so the unread bytes lie
        // within its last two chunks.
        std::memmove(buffer_, keep, 2 * c);
        position -= (kChunkCount - 2) * c;
        fillEnd_ -= (kChunkCount - 2) * c;
    }
    const uint32_t room = static_cast<uint32_t>(buffer_ + kChunkCount * c - fillEnd_);
    const uint32_t toRead = room < remaining_ ? room : remaining_;
    if (toRead == 0) return position;
    if (file_.Read(fillEnd_, toRead) != 0) return nullptr;
    fillEnd_ += toRead;
    remaining_ -= toRead;
    return position;
}

}  // namespace kvi
