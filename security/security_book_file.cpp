#include "security/security_book_file.h"

#include <cstring>
#include <new>
#include <vector>

#include "address/section_reader.h"
#include "security/global_security.h"
#include "security/packed_records.h"
#include "storage/section_writer.h"

namespace kvi {
namespace {

constexpr uint16_t kSecurityTypes[] = {kGlobalSectionType, kPrefixSectionType, kSuffixSectionType,
                                       kUserSectionType, kFolderSectionType};

template <class Table>
Table* NewTable() {
    auto* table = new (std::nothrow) Table();
    if (table && !table->Ok()) {
        delete table;
        table = nullptr;
    }
    return table;
}

template <class Table>
void FreeTable(Table*& table) {
    if (!table) return;
    delete table;
    table = nullptr;
}

// Reads entry.count packed records from the entry's bytes into table.
// Nothing outside [offset, offset + length) is read; a record that is
// not well formed fails the whole section.
template <class T, class Key>
int LoadPacked(IoFile& file, DfDirectoryEntry& entry, BookTable<T, Key>& table, uint32_t maximum,
               uint32_t (*decode)(T&, const uint8_t*, uint32_t)) {
    if (entry.length == 0) return entry.count == 0 ? 1 : 0;
    if (entry.offset > 0xFFFFFFFFu - entry.length) return 0;
    if (file.Seek(entry.offset) != entry.offset) return 0;
    const bool numbering = entry.lastId == 0;
    SectionReader reader(maximum, file, entry.length);
    if (!reader.Ok()) return 0;
    const uint8_t* position = reader.Start();
    for (uint32_t i = 0; i < entry.count; ++i) {
        position = reader.Ensure(position);
        if (!position) return 0;
        // One block for the records, no larger than the bytes read so far
        // can fill (a packed record takes at least 8): a damaged directory
        // cannot ask for more memory than the file's own bytes justify.
        if (i == 0) {
            const uint32_t most = reader.Available(position) / kPackedHeaderSize;
            const uint32_t count = entry.count;  // the entry is packed
            table.Reserve(count < most ? count : most);
        }
        T* record = table.NewRecord();
        if (!record) return 0;
        const uint32_t length = decode(*record, position, reader.Available(position));
        if (length == 0 || !table.Add(record)) {
            table.Free(record);
            return 0;
        }
        position += length;
        if (numbering) record->id = ++entry.lastId;
    }
    if (numbering) table.IdsChanged();
    return 1;
}

}  // namespace

SecurityBookFile::SecurityBookFile()
    : BookFile("MERIDOX.PWD", "^*%$"),
      global_(nullptr),
      prefixes_(nullptr),
      suffixes_(nullptr),
      users_(nullptr),
      folders_(nullptr),
      globalChanged_(false),
      legacyFileName_("KVI.DA2"),
      inPlaceGlobal_(false) {}

SecurityBookFile::~SecurityBookFile() { ReleaseSections(); }

const uint16_t* SecurityBookFile::SectionTypes() const { return kSecurityTypes; }

void SecurityBookFile::ArrangeDirectory() { ArrangeDirectoryFor(kSecurityTypes, 5); }

int SecurityBookFile::PrepareSections() {
    ReleaseSections();
    global_ = new (std::nothrow) GlobalSecurity;
    if (global_) SetGlobalDefaults(*global_);
    users_ = NewTable<UserTable>();
    prefixes_ = NewTable<AffixTable>();
    suffixes_ = NewTable<AffixTable>();
    folders_ = NewTable<FolderTable>();
    if (global_ && users_ && prefixes_ && suffixes_ && folders_) return 1;
    ReleaseSections();
    return 0;
}

void SecurityBookFile::ReleaseSections() {
    delete global_;
    global_ = nullptr;
    FreeTable(prefixes_);
    FreeTable(suffixes_);
    FreeTable(users_);
    FreeTable(folders_);
    globalChanged_ = false;
}

int SecurityBookFile::Load() { return LoadBook(); }

int SecurityBookFile::LoadGlobal(IoFile& file, const DfDirectoryEntry& entry) {
    if (entry.length == 0) return 1;  // the defaults stay
    if (entry.offset > 0xFFFFFFFFu - entry.length) return 0;
    if (file.Seek(entry.offset) != entry.offset) return 0;
    // A shorter section leaves the rest of the defaults; a longer one is
    // read as its first 296 bytes.
    const uint32_t n = entry.length < kGlobalRecordSize ? entry.length : kGlobalRecordSize;
    if (file.Read(global_, n) != 0) return 0;
    global_->size = kGlobalRecordSize;
    return 1;
}

int SecurityBookFile::LoadSections(IoFile& file) {
    if (!IsOpen() || !folders_) return 0;
    DfDirectoryEntry* g = GlobalSection();
    DfDirectoryEntry* p = PrefixSection();
    DfDirectoryEntry* s = SuffixSection();
    DfDirectoryEntry* u = UserSection();
    DfDirectoryEntry* f = FolderSection();
    if (!g || !p || !s || !u || !f) return 0;
    const PackedDecoders& decode = SectionDecoders();
    return LoadGlobal(file, *g) && LoadPacked(file, *p, *prefixes_, kMaxAffixRecord, decode.affix) &&
           LoadPacked(file, *s, *suffixes_, kMaxAffixRecord, decode.affix) &&
           LoadPacked(file, *u, *users_, kMaxUserRecord, decode.user) &&
           LoadPacked(file, *f, *folders_, kMaxFolderRecord, decode.folder);
}

int SecurityBookFile::WriteGlobal(IoFile& file) {
    DfDirectoryEntry* g = GlobalSection();
    if (!g || !global_ || !Header()) return 0;
    const uint32_t offset = DfDataOffset(Header()->entryCount);
    g->length = kGlobalRecordSize;
    g->count = 1;
    g->offset = offset;
    if (file.Seek(offset) != offset) return 0;
    if (file.Write(global_, kGlobalRecordSize) != 0) return 0;
    globalChanged_ = false;
    return 1;
}

int SecurityBookFile::WriteBeforeHeader(IoFile& file, int full) {
    if (full) return WriteGlobal(file);
    // In place: only when Commit checked where the global section lies. A
    // password change also writes in place; a pending global record then
    // waits for the next commit.
    if (inPlaceGlobal_ && globalChanged_) return WriteGlobal(file);
    return 1;
}

int SecurityBookFile::WriteSections(IoFile& file, uint32_t dataOffset, uint32_t* end) {
    DfDirectoryEntry* p = PrefixSection();
    DfDirectoryEntry* s = SuffixSection();
    DfDirectoryEntry* u = UserSection();
    DfDirectoryEntry* f = FolderSection();
    if (!IsOpen() || !folders_ || !p || !s || !u || !f) return 0;
    uint32_t at = dataOffset + kGlobalRecordSize;
    uint32_t n = WriteSectionRecords(file, *p, *prefixes_, at, kMaxAffixRecord, EncodeAffix);
    if (n == kNotFound) return 0;
    at += n;
    n = WriteSectionRecords(file, *s, *suffixes_, at, kMaxAffixRecord, EncodeAffix);
    if (n == kNotFound) return 0;
    at += n;
    n = WriteSectionRecords(file, *u, *users_, at, kMaxUserRecord, EncodeUser);
    if (n == kNotFound) return 0;
    at += n;
    n = WriteSectionRecords(file, *f, *folders_, at, kMaxFolderRecord, EncodeFolder);
    if (n == kNotFound) return 0;
    at += n;
    // Folder ids may be given again: lastId follows the last record.
    if (folders_->Count() > 0) f->lastId = folders_->At(static_cast<int32_t>(folders_->Count() - 1))->id;
    *end = at;
    return 1;
}

bool SecurityBookFile::GlobalFitsInPlace() {
    DfHeader* header = Header();
    DfDirectoryEntry* g = GlobalSection();
    IoFile* file = File();
    if (!header || !g || !file) return false;
    if (g->offset != DfDataOffset(header->entryCount) || g->length != kGlobalRecordSize) return false;
    const uint32_t dirBytes = kDfEntrySize * header->entryCount;
    std::vector<uint8_t> disk(kDfHeaderSize + dirBytes);
    if (file->Open(kGenericRead) != 0) {
        file->Close();
        return false;
    }
    const bool read = file->Seek(0) == 0 && file->Read(disk.data(), static_cast<uint32_t>(disk.size())) == 0;
    file->Close();
    // The file must hold exactly this book's header and directory, so the
    // 296 bytes after the directory are its global section.
    return read && std::memcmp(disk.data(), header, kDfHeaderSize) == 0 &&
           std::memcmp(disk.data() + kDfHeaderSize, Directory(), dirBytes) == 0;
}

int SecurityBookFile::Commit(int force) {
    if (!IsOpen()) return 0;  // a failed load: the file is not ours to write
    if (!force && !Modified() && globalChanged_) {
        if (!GlobalFitsInPlace()) return BookFile::Commit(1);
        inPlaceGlobal_ = true;
        const int r = BookFile::Commit(0);
        inPlaceGlobal_ = false;
        return r;
    }
    return BookFile::Commit(force);
}

}  // namespace kvi
