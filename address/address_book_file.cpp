#include "address/address_book_file.h"

#include <cstring>
#include <new>

#include "address/address_record.h"
#include "storage/section_writer.h"

namespace kvi {
namespace {

constexpr uint16_t kAddressTypes[] = {kAddressSectionType};

}  // namespace

AddressBookFile::AddressBookFile()
    : BookFile("MERIDOX.PBK", "^*($"),
      section_(nullptr),
      records_(nullptr),
      legacyFileName_("KVI.DA1"),
      legacyTag_("!(^*") {}

AddressBookFile::~AddressBookFile() { ReleaseSections(); }

const uint16_t* AddressBookFile::SectionTypes() const { return kAddressTypes; }

void AddressBookFile::ArrangeDirectory() {
    ArrangeDirectoryFor(kAddressTypes, 1);
    section_ = BoundEntry(0);
}

int AddressBookFile::PrepareSections() {
    ReleaseSections();
    records_ = new (std::nothrow) Table(100, 50);  // capacity 101
    if (records_ && !records_->Ok()) {
        delete records_;
        records_ = nullptr;
    }
    return records_ ? 1 : 0;
}

void AddressBookFile::ReleaseSections() {
    if (records_) {
        FreeRecords(*records_);
        delete records_;
        records_ = nullptr;
    }
    section_ = nullptr;
}

int AddressBookFile::Load() { return LoadBook(); }

int AddressBookFile::LoadSections(const uint8_t* image, uint32_t size) {
    if (!section_ || !records_) return 0;
    return LoadSection(image, size, *section_);
}

int AddressBookFile::LoadSection(const uint8_t* image, uint32_t size, DfDirectoryEntry& entry) {
    if (entry.length == 0) return entry.count == 0 ? 1 : 0;
    if (entry.offset > size || entry.length > size - entry.offset) return 0;  // past the end of the file
    const bool numbering = entry.lastId == 0;
    const uint8_t* position = image + entry.offset;
    const uint8_t* const end = position + entry.length;
    for (uint32_t i = 0; i < entry.count; ++i) {
        const uint32_t available = static_cast<uint32_t>(end - position);
        if (available < 4) return 0;  // more records counted than present
        uint32_t length;
        std::memcpy(&length, position, 4);
        if (length > available) return 0;  // runs past the section
        AddressRecord* record = new (std::nothrow) AddressRecord;
        if (!record) return 0;
        const uint32_t consumed = Decode(*record, position, available);
        if (consumed == 0 || !records_->Append(record)) {
            delete record;
            return 0;
        }
        position += consumed;
        if (numbering) record->id = ++entry.lastId;
    }
    return 1;
}

uint32_t AddressBookFile::WriteSection(IoFile& file, DfDirectoryEntry& entry, const Table& records, uint32_t offset) {
    return WriteSectionRecords(file, entry, records, offset, kMaxAddressEncoding, Encode);
}

int AddressBookFile::WriteSections(IoFile& file, uint32_t dataOffset, uint32_t* end) {
    if (!section_ || !records_) return 0;
    const uint32_t written = WriteSection(file, *section_, *records_, dataOffset);
    if (written == kNotFound) return 0;
    *end = dataOffset + written;
    return 1;
}

AddressRecord* AddressBookFile::FindById(uint32_t id) const {
    if (!records_) return nullptr;
    for (uint32_t i = 0; i < records_->Count(); ++i) {
        AddressRecord* r = records_->At(static_cast<int32_t>(i));
        if (r->id == id) return r;
    }
    return nullptr;
}

int32_t AddressBookFile::InsertRecord(AddressRecord* record) {
    if (!records_ || !section_) return kEditRefused;
    const uint32_t n = records_->Count();
    if (n >= kMaxAddressEntries) return kEditFull;
    if (record->connectionType != kConnectionModem) {
        for (uint32_t i = 0; i < n; ++i)
            if (IsDuplicateOf(*records_->At(static_cast<int32_t>(i)), *record)) return kEditDuplicate;
    }
    record->id = ++section_->lastId;
    if (!records_->Append(record)) return kEditRefused;
    ++section_->count;
    return kEditDone;
}

int32_t AddressBookFile::ReplaceRecord(AddressRecord* record) {
    if (!records_) return kEditRefused;
    const uint32_t n = records_->Count();
    for (uint32_t i = 0; i < n; ++i)
        if (IsDuplicateOf(*records_->At(static_cast<int32_t>(i)), *record)) return kEditDuplicate;
    for (uint32_t i = 0; i < n; ++i) {
        AddressRecord*& slot = records_->At(static_cast<int32_t>(i));
        if (slot->id == record->id) {
            delete slot;
            slot = record;
            return kEditDone;
        }
    }
    return kEditRefused;
}

void AddressBookFile::RemoveRecord(AddressRecord* record) {
    if (!records_) return;
    const uint32_t p = records_->IndexOf(record);
    if (p == kNotFound) return;
    records_->RemoveAt(p);
    delete record;
    if (section_ && section_->count > 0) --section_->count;
}

}  // namespace kvi
