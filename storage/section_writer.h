// Writes one section of packed records, as both books store them: records
// back to back from the section's offset, gathered into blocks so that a
// section of hundreds of records costs a few writes, not one per record.
#ifndef KVI_STORAGE_SECTION_WRITER_H
#define KVI_STORAGE_SECTION_WRITER_H

#include <cstdint>
#include <vector>

#include "storage/df_format.h"
#include "storage/io_file.h"
#include "storage/record_table.h"

namespace kvi {

constexpr uint32_t kSectionWriteBlock = 64 * 1024;

// Writes every record of table at offset with encode (which writes at most
// `maximum` bytes and returns the record's length); stores offset, count
// and length in the entry. The bytes written, or kNotFound on failure.
template <class T, class Table>
uint32_t WriteSectionRecords(IoFile& file, DfDirectoryEntry& entry, const Table& table,
                             uint32_t offset, uint32_t maximum, uint32_t (*encode)(T&, uint8_t*)) {
    if (file.Seek(offset) != offset) return kNotFound;
    entry.offset = offset;
    std::vector<uint8_t> block;
    block.reserve(kSectionWriteBlock);
    uint32_t total = 0;
    const uint32_t n = table.Count();
    for (uint32_t i = 0; i < n; ++i) {
        if (block.size() + maximum > kSectionWriteBlock) {
            if (file.Write(block.data(), static_cast<uint32_t>(block.size())) != 0) return kNotFound;
            block.clear();
        }
        const size_t at = block.size();
        block.resize(at + maximum);
        const uint32_t length = encode(*table.At(static_cast<int32_t>(i)), block.data() + at);
        block.resize(at + length);
        total += length;
    }
    if (!block.empty() && file.Write(block.data(), static_cast<uint32_t>(block.size())) != 0) return kNotFound;
    entry.count = n;
    entry.length = total;
    return total;
}

}  // namespace kvi

#endif
