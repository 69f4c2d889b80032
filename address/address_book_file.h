// The address book: "MERIDOX.PBK", tag "^*($", one section of type 100
// holding the encoded entries. The whole section is read into `records`
// when the book is opened; every change stays in memory until a commit,
// which rewrites the whole file (BookFile's crash-safe protocol).
//
// Open means `records` exists. Ids come from the section's lastId and are
// never given twice: removing an entry does not lower it.
#ifndef KVI_ADDRESS_ADDRESS_BOOK_FILE_H
#define KVI_ADDRESS_ADDRESS_BOOK_FILE_H

#include <cstdint>

#include "kviabdb.h"
#include "storage/book_file.h"
#include "storage/record_table.h"

namespace kvi {

constexpr uint16_t kAddressSectionType = 100;
constexpr uint32_t kMaxAddressEntries = 800;

// Results of InsertRecord and ReplaceRecord, as the exports return them.
enum EditResult : int32_t {
    kEditRefused = 0,
    kEditDone = 1,
    kEditFull = 2,
    kEditDuplicate = 3,
};

class AddressBookFile : public BookFile {
public:
    using Table = RecordTable<AddressRecord*>;

    AddressBookFile();
    ~AddressBookFile() override;  // frees every record; never writes

    void ArrangeDirectory() override;

    // Opens or creates the file and reads the whole book; a new file is
    // filled by ImportLegacyAddresses and committed at once. 1 or 0; a
    // failed load keeps nothing (and deletes a file it created).
    int Load();
    bool IsOpen() const { return records_ != nullptr; }
    // Decodes entry.count records from the entry's bytes of the file image
    // (size bytes) into `records`; numbers them 1, 2, ... when lastId is 0.
    // 0 when the entry reaches past the file or its bytes are not records.
    int LoadSection(const uint8_t* image, uint32_t size, DfDirectoryEntry& entry);
    // Writes every record at offset; stores offset, count and length in
    // the entry. Returns the bytes written, or kNotFound on failure.
    uint32_t WriteSection(IoFile& file, DfDirectoryEntry& entry, const Table& records, uint32_t offset);
    // Takes over the entries of "KVI\KVI.DA1"; when it was read whole, its
    // path goes into legacyDone (BookFile::kLegacyPathSize bytes), so the
    // load can delete it once the book is committed. 1 when read whole.
    int ImportLegacyAddresses(char* legacyDone);

    // The book takes the record when the result is kEditDone.
    int32_t InsertRecord(AddressRecord* record);   // kEditDone, kEditFull, kEditDuplicate
    int32_t ReplaceRecord(AddressRecord* record);  // kEditDone, kEditRefused, kEditDuplicate
    void RemoveRecord(AddressRecord* record);      // frees it
    // The first record with this id, or null.
    AddressRecord* FindById(uint32_t id) const;

    const Table* Records() const { return records_; }
    DfDirectoryEntry* Section() const { return section_; }

protected:
    int SectionTypeCount() const override { return 1; }
    const uint16_t* SectionTypes() const override;
    int PrepareSections() override;
    int LoadSections(const uint8_t* image, uint32_t size) override;
    void ReleaseSections() override;
    void ImportLegacy(char* legacyDone) override { ImportLegacyAddresses(legacyDone); }
    int WriteSections(IoFile& file, uint32_t dataOffset, uint32_t* end) override;

private:
    DfDirectoryEntry* section_;
    Table* records_;
    const char* legacyFileName_;
    const char* legacyTag_;
};

}  // namespace kvi

#endif
