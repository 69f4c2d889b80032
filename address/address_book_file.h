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

#include "address/address_record.h"
#include "address/compare_padded.h"
#include "kviabdb.h"
#include "storage/book_file.h"
#include "storage/book_table.h"

namespace kvi {

constexpr uint16_t kAddressSectionType = 100;
constexpr uint32_t kMaxAddressEntries = 800;
// The highest id an add may give: 0xFFFFFFFF marks a blank list item, and
// an id past it would wrap to 0 and then to ids that records carry.
constexpr uint32_t kMaxRecordId = 0xFFFFFFFEu;

// The key of the duplicate rule: type and address; modem entries never
// collide and so have none.
struct AddressKey {
    static bool HasKey(const AddressRecord& r) { return r.connectionType != kConnectionModem; }
    static uint32_t KeyHash(const AddressRecord& r) { return PaddedHash(r.address, r.connectionType); }
};

// Results of InsertRecord and ReplaceRecord, as the exports return them.
enum EditResult : int32_t {
    kEditRefused = 0,
    kEditDone = 1,
    kEditFull = 2,
    kEditDuplicate = 3,
};

class AddressBookFile : public BookFile {
public:
    using Table = BookTable<AddressRecord, AddressKey>;

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

    // The book takes the record when the result is kEditDone; kEditRefused
    // when no id is left (lastId at kMaxRecordId).
    int32_t InsertRecord(AddressRecord* record);   // kEditDone, kEditFull, kEditDuplicate
    int32_t ReplaceRecord(AddressRecord* record);  // kEditDone, kEditRefused, kEditDuplicate
    void RemoveRecord(AddressRecord* record);      // frees it
    // The first record with this id, or null.
    AddressRecord* FindById(uint32_t id) const;

    const Table* Records() const { return records_; }
    // The first stored record that the duplicate rule makes a duplicate
    // of candidate, or null.
    const AddressRecord* FindDuplicate(const AddressRecord& candidate) const;
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
