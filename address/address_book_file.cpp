#include "address/address_book_file.h"

#include <cstring>
#include <new>

#include "address/address_check.h"
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
    records_ = new (std::nothrow) Table();
    if (records_ && !records_->Ok()) {
        delete records_;
        records_ = nullptr;
    }
    return records_ ? 1 : 0;
}

void AddressBookFile::ReleaseSections() {
    if (records_) {
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
    const uint8_t* const section = image + entry.offset;
    const uint32_t sectionLength = entry.length;
    const AddressDecoder decode = SectionDecoder();
    // Records are checked now and decoded on first use, unless a test has
    // put the former decoder in place (it then decodes them all here).
    const bool lazy = decode == Decode;
    // Count and ids in locals: the entry is packed and would be read and
    // written in memory at every record.
    const uint32_t count = entry.count;
    uint32_t lastId = entry.lastId;
    // One block for the records: as many as the count says, but no more
    // than the section's bytes can hold (a record takes at least 4), so a
    // damaged directory cannot ask for more memory than the file justifies.
    if (count > 0) {
        const uint32_t most = sectionLength / 4;
        records_->Reserve(count < most ? count : most);
    }
    Table::UndecodedRun run;
    if (count > 0 && lazy && records_->MakeLazy(section, sectionLength, decode)) run = records_->BeginUndecoded();
    // The run of undecoded records goes into the table once it is full or
    // the section ends; records past it are decoded as they are added.
    uint32_t at = 0;
    bool ok = true;
    for (uint32_t i = 0; ok && i < count;) {
        if (run.Open()) {
            // The usual records in a tight loop; the loop below takes the
            // first one it leaves, then hands back.
            const uint32_t room = run.Room() < count - i ? run.Room() : count - i;
            const uint32_t n =
                numbering ? CheckPlainRun<true>(section, sectionLength, &at, room, run.Offsets(), run.Ids(), lastId + 1)
                          : CheckPlainRun<false>(section, sectionLength, &at, room, run.Offsets(), run.Ids(), 0);
            i += n;
            if (numbering) lastId += n;
            ok = run.Took(n);
            if (!ok || i == count) break;
        }
        const uint8_t* const position = section + at;
        const uint32_t available = sectionLength - at;
        uint32_t length = 0;
        if (available >= 4) std::memcpy(&length, position, 4);
        // More records counted than present, or one running past the section.
        if (available < 4 || length > available) {
            ok = false;
            break;
        }
        uint32_t consumed = 0;
        if (lazy) {
            uint32_t id = 0;
            consumed = CheckEncoding(position, available, &id);
            if (numbering) id = lastId + 1;
            if (consumed == 0) {
                ok = false;
            } else if (run.Open()) {
                ok = run.Keep(at, id);
            } else {
                ok = records_->AddDecoded(decode, position, available, id);
            }
        } else if (AddressRecord* record = records_->NewRecord()) {
            consumed = decode(*record, position, available);
            if (numbering) record->id = lastId + 1;
            ok = consumed != 0 && records_->Add(record);
            if (!ok) records_->Free(record);
        } else {
            ok = false;
        }
        if (!ok) break;
        at += consumed;
        ++i;
        if (numbering) ++lastId;
    }
    if (ok) ok = run.Close();
    entry.lastId = lastId;
    if (!ok) return 0;
    if (numbering) records_->IdsChanged();
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
    const uint32_t p = records_->FirstWithId(id);
    return p == kNotFound ? nullptr : records_->At(static_cast<int32_t>(p));
}

const AddressRecord* AddressBookFile::FindDuplicate(const AddressRecord& candidate) const {
    // A stored modem entry never collides, and one of another type never
    // does either: only records of the candidate's (keyed) type qualify.
    if (!records_ || !AddressKey::HasKey(candidate)) return nullptr;
    const uint32_t p = records_->FirstWithKey(
        AddressKey::KeyHash(candidate), [&](const AddressRecord& stored) { return IsDuplicateOf(stored, candidate); });
    return p == kNotFound ? nullptr : records_->At(static_cast<int32_t>(p));
}

int32_t AddressBookFile::InsertRecord(AddressRecord* record) {
    if (!records_ || !section_) return kEditRefused;
    if (records_->Count() >= kMaxAddressEntries) return kEditFull;
    if (FindDuplicate(*record)) return kEditDuplicate;
    if (section_->lastId >= kMaxRecordId) return kEditRefused;
    record->id = section_->lastId + 1;
    if (!records_->Add(record)) return kEditRefused;
    section_->lastId = record->id;
    ++section_->count;
    return kEditDone;
}

int32_t AddressBookFile::ReplaceRecord(AddressRecord* record) {
    if (!records_) return kEditRefused;
    if (FindDuplicate(*record)) return kEditDuplicate;
    const uint32_t p = records_->FirstWithId(record->id);
    if (p == kNotFound) return kEditRefused;
    records_->ReplaceAt(p, record);
    return kEditDone;
}

void AddressBookFile::RemoveRecord(AddressRecord* record) {
    if (!records_) return;
    const uint32_t p = records_->PositionOf(record);
    if (p == kNotFound) return;
    records_->RemoveAndFree(p);
    if (section_ && section_->count > 0) --section_->count;
}

}  // namespace kvi
