// The container format shared by both books: a 44-byte header tagged
// "DF10", a directory of 18-byte entries right after it, then the
// sections back to back. Little-endian and packed; the library runs on
// little-endian machines only, so the structures are the file's bytes.
#ifndef KVI_STORAGE_DF_FORMAT_H
#define KVI_STORAGE_DF_FORMAT_H

#include <cstddef>
#include <cstdint>

namespace kvi {

constexpr uint32_t kDfHeaderSize = 44;
constexpr uint32_t kDfEntrySize = 18;
constexpr uint32_t kDfPasswordSize = 16;  // 15 characters and the NUL

#pragma pack(push, 1)

struct DfHeader {
    uint16_t headerSize;     // 44, stored at every header write
    char commonTag[4];       // "^*$%", never checked
    char bookTag[4];         // which book; compared on open
    char version[4];         // "DF10", never checked
    uint16_t entryCount;
    uint16_t entrySize;      // 18, never checked
    uint32_t dataLength;     // bytes after the directory, set by a full commit
    uint32_t dataOffset;     // set once when the file is created; never read
    char password[kDfPasswordSize];
    uint16_t passwordFlag;   // nonzero: changing the password needs the current one
};

struct DfDirectoryEntry {
    uint16_t type;    // 100 address section; 1..5 security book sections
    uint32_t length;  // bytes of the section
    uint32_t count;   // records in the section
    uint32_t offset;  // file offset of the section's first byte
    uint32_t lastId;  // last id handed out; 0: the records carry no ids yet
};

#pragma pack(pop)

static_assert(sizeof(DfHeader) == kDfHeaderSize, "DfHeader is 44 bytes");
static_assert(offsetof(DfHeader, commonTag) == 2, "DfHeader.commonTag");
static_assert(offsetof(DfHeader, bookTag) == 6, "DfHeader.bookTag");
static_assert(offsetof(DfHeader, version) == 10, "DfHeader.version");
static_assert(offsetof(DfHeader, entryCount) == 14, "DfHeader.entryCount");
static_assert(offsetof(DfHeader, entrySize) == 16, "DfHeader.entrySize");
static_assert(offsetof(DfHeader, dataLength) == 18, "DfHeader.dataLength");
static_assert(offsetof(DfHeader, dataOffset) == 22, "DfHeader.dataOffset");
static_assert(offsetof(DfHeader, password) == 26, "DfHeader.password");
static_assert(offsetof(DfHeader, passwordFlag) == 42, "DfHeader.passwordFlag");

static_assert(sizeof(DfDirectoryEntry) == kDfEntrySize, "DfDirectoryEntry is 18 bytes");
static_assert(offsetof(DfDirectoryEntry, length) == 2, "DfDirectoryEntry.length");
static_assert(offsetof(DfDirectoryEntry, count) == 6, "DfDirectoryEntry.count");
static_assert(offsetof(DfDirectoryEntry, offset) == 10, "DfDirectoryEntry.offset");
static_assert(offsetof(DfDirectoryEntry, lastId) == 14, "DfDirectoryEntry.lastId");

// Where the sections start in a file with this many directory entries.
inline uint32_t DfDataOffset(uint32_t entryCount) { return kDfHeaderSize + kDfEntrySize * entryCount; }

}  // namespace kvi

#endif
