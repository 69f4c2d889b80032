// Buffered reader through which a file that is not loaded whole (the
// legacy address file) is read record by record. The buffer holds at
// least 16 chunks of the section's largest record (a section of up to
// 256 KiB fits whole, one read);
// Ensure keeps more than one chunk buffered ahead of the read position
// (unless the section ends first), moving the unread bytes to the front
// when it refills, so a record is always decoded from contiguous memory.
// It never reads past the section's length.
#ifndef KVI_ADDRESS_SECTION_READER_H
#define KVI_ADDRESS_SECTION_READER_H

#include <cstdint>

namespace kvi {

class IoFile;

class SectionReader {
public:
    static constexpr uint32_t kChunkCount = 16;

    // The file must be positioned at the section's first byte. Reads
    // nothing yet. Ok() is false when the buffer could not be allocated.
    SectionReader(uint32_t chunkSize, IoFile& file, uint32_t sectionLength);
    ~SectionReader();
    SectionReader(const SectionReader&) = delete;
    SectionReader& operator=(const SectionReader&) = delete;

    bool Ok() const { return buffer_ != nullptr; }
    const uint8_t* Start() const { return buffer_; }
    // Returns the position to use from now on (it moves when the buffer is
    // compacted), or null when a read failed. Start with Start().
    const uint8_t* Ensure(const uint8_t* position);
    // Bytes buffered from position on.
    uint32_t Available(const uint8_t* position) const {
        return static_cast<uint32_t>(fillEnd_ - position);
    }
    // Bytes of the section from position on, buffered or not.
    uint32_t SectionLeft(const uint8_t* position) const { return Available(position) + remaining_; }

private:
    uint32_t chunkSize_;
    uint32_t size_;
    IoFile& file_;
    uint8_t* buffer_;
    uint8_t* fillEnd_;
    uint32_t remaining_;
};

}  // namespace kvi

#endif
