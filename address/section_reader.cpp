#include "address/section_reader.h"

#include <cstring>
#include <new>

#include "storage/io_file.h"

namespace kvi {

namespace {

// At least 16 chunks; a section of up to 256 KiB is read in one piece.
uint32_t BufferSize(uint32_t chunkSize, uint32_t sectionLength) {
    const uint32_t least = chunkSize * SectionReader::kChunkCount;
    const uint32_t whole = sectionLength < 256u * 1024u ? sectionLength : 256u * 1024u;
    return whole > least ? whole : least;
}

}  // namespace

SectionReader::SectionReader(uint32_t chunkSize, IoFile& file, uint32_t sectionLength)
    : chunkSize_(chunkSize),
      size_(BufferSize(chunkSize, sectionLength)),
      file_(file),
      buffer_(chunkSize ? new (std::nothrow) uint8_t[size_] : nullptr),
      fillEnd_(buffer_),
      remaining_(sectionLength) {}

SectionReader::~SectionReader() { delete[] buffer_; }

const uint8_t* SectionReader::Ensure(const uint8_t* position) {
    const uint32_t c = chunkSize_;
    if (Available(position) > c) return position;
    if (remaining_ == 0) return position;
    if (position > buffer_ + c) {
        // The unread bytes (less than a chunk) move to the front.
        const uint32_t unread = Available(position);
        std::memmove(buffer_, position, unread);
        position = buffer_;
        fillEnd_ = buffer_ + unread;
    }
    const uint32_t room = static_cast<uint32_t>(buffer_ + size_ - fillEnd_);
    const uint32_t toRead = room < remaining_ ? room : remaining_;
    if (toRead == 0) return position;
    if (file_.Read(fillEnd_, toRead) != 0) return nullptr;
    fillEnd_ += toRead;
    remaining_ -= toRead;
    return position;
}

}  // namespace kvi
