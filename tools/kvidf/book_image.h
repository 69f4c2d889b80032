// A book file read and written by kvidf itself, with the library's own
// record codecs compiled in: check, recover, backup, restore, export and
// import read the books this way, so they take no lock, prune nothing and
// create nothing. The reading follows the library's open rule by rule, so
// that what it calls a refusal is exactly what makes an open fail.
#ifndef KVIDF_BOOK_IMAGE_H
#define KVIDF_BOOK_IMAGE_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "kviabdb.h"
#include "session.h"
#include "storage/df_format.h"

namespace kvidf {

struct Problem {
    uint64_t offset;
    std::string message;
};

// One section as an open binds it.
struct SectionRead {
    uint16_t type = 0;
    uint64_t entryAt = 0;       // where its directory entry lies in the file
    kvi::DfDirectoryEntry entry{};  // as the file holds it
    uint32_t lastId = 0;        // after the numbering of a section without ids
    std::vector<uint64_t> at;   // where each record decoded begins
};

struct BookImage {
    Book book = Book::kAddress;
    kvi::DfHeader header{};
    std::vector<kvi::DfDirectoryEntry> directory;  // as the file holds it
    std::map<uint16_t, SectionRead> sections;      // every section type of the book
    std::vector<AddressRecord> address;
    GlobalSecurity global{};                       // the defaults, then the section
    std::vector<AffixEntry> prefixes, suffixes;
    std::vector<SecurityEntry> users;
    std::vector<FolderSecurityEntry> folders;
    std::vector<Problem> refusals;  // each one makes the library refuse the file
    std::vector<Problem> losses;    // salvage: bytes that held no readable record
    std::vector<std::string> notes; // oddities the library accepts
    bool Refused() const { return !refusals.empty(); }
};

// Section types in the order the book writes them.
const std::vector<uint16_t>& SectionTypes(Book book);
const char* SectionName(uint16_t type);  // "address", "global", "prefix", ...

// Reads a book file's bytes as an open does. With salvage the reading goes
// on past damage: a record that cannot be decoded is skipped up to the next
// place where plausible records begin again, a section cut short keeps its
// whole records, and a header without its tag is read by its directory.
BookImage ReadBookImage(const std::vector<uint8_t>& bytes, Book book, bool salvage = false);

// The file's bytes; throws Failure(kFileError) naming the problem.
std::vector<uint8_t> ReadFileBytes(const std::string& path);
// kNoBook when the book's file does not exist, else its bytes.
std::vector<uint8_t> ReadBookFile(Book book);

// The book as an open reads it, or nothing when the book does not exist.
// A book the library would refuse throws Failure(kDamaged): "the <book> is
// damaged (<first refusal>[ at byte <offset>]); <advice>".
std::optional<BookImage> ReadIntactBook(Book book, const std::string& advice, bool sayWhere = false);

// The bytes a full commit of the image's contents writes: header (with its
// password and flag), directory with each section's lastId, sections.
std::vector<uint8_t> EncodeBook(const BookImage& image);

// Puts a book's bytes in place as the library's commit does (through
// KVIABIO): a temporary file beside the book with the book's mode and
// owner (a new book's mode as the library makes it), synced and renamed
// over it; one that a killed kvidf leaves is removed by the next commit.
// Throws Failure(kFileError).
void PutBookFile(Book book, const std::vector<uint8_t>& bytes);

// Puts bytes at path without a moment of a half-written file: a temporary
// file beside it, synced, renamed over it. mode applies to a new file; an
// existing file's mode is kept unless keepMode is false. Throws
// Failure(kFileError).
void ReplaceFile(const std::string& path, const std::vector<uint8_t>& bytes, unsigned mode, bool keepMode = true);

}  // namespace kvidf

#endif
