#include "security/security_book_file.h"

#include <cstring>
#include <new>
#include <vector>

#include "security/global_security.h"
#include "security/packed_checks.h"
#include "security/packed_records.h"
#include "storage/section_writer.h"

namespace kvi {
namespace {

constexpr uint16_t kSecurityTypes[] = {kGlobalSectionType, kPrefixSectionType, kSuffixSectionType, kUserSectionType,
                                       kFolderSectionType};

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

// Decodes entry.count packed records from the entry's bytes of the file
// image into table. Nothing outside [offset, offset + length) is read; a
// section reaching past the file, or a record that is not well formed,
// fails the whole section. Plain vouches for the usual records in a tight
// loop; Check decides every other one.
template <uint32_t (*Check)(const uint8_t*, uint32_t), class Plain, class T, class Key>
int LoadPacked(const uint8_t* image, uint32_t size, DfDirectoryEntry& entry, BookTable<T, Key>& table,
               uint32_t (*decode)(T&, const uint8_t*, uint32_t), bool lazy) {
    if (entry.length == 0) return entry.count == 0 ? 1 : 0;
    if (entry.offset > size || entry.length > size - entry.offset) return 0;
    const bool numbering = entry.lastId == 0;
    const uint8_t* const section = image + entry.offset;
    const uint32_t sectionLength = entry.length;
    // Records are checked now and decoded on first use, unless a test has
    // put a former decoder in place (lazy is then false).
    // Count and ids in locals: the entry is packed and would be read and
    // written in memory at every record.
    const uint32_t count = entry.count;
    uint32_t lastId = entry.lastId;
    // One block for the records, no larger than the section's bytes can
    // fill (a packed record takes at least 8): a damaged directory cannot
    // ask for more memory than the file's own bytes justify.
    if (count > 0) {
        const uint32_t most = sectionLength / kPackedHeaderSize;
        table.Reserve(count < most ? count : most);
    }
    typename BookTable<T, Key>::UndecodedRun run;
    if (count > 0 && lazy && table.MakeLazy(section, sectionLength, decode)) run = table.BeginUndecoded();
    // The run of undecoded records goes into the table once it is full or
    // the section ends; records past it are decoded as they are added.
    uint32_t at = 0;
    bool ok = true;
    for (uint32_t i = 0; ok && i < count;) {
        if (run.Open()) {
            // The usual records in a tight loop; the loop below takes the
            // first one it leaves, then hands back.
            const uint32_t room = run.Room() < count - i ? run.Room() : count - i;
            const uint32_t n = numbering ? CheckPackedRun<Plain, true>(section, sectionLength, &at, room, run.Offsets(),
                                                                       run.Ids(), lastId + 1)
                                         : CheckPackedRun<Plain, false>(section, sectionLength, &at, room,
                                                                        run.Offsets(), run.Ids(), 0);
            i += n;
            if (numbering) lastId += n;
            ok = run.Took(n);
            if (!ok || i == count) break;
        }
        const uint8_t* const position = section + at;
        const uint32_t available = sectionLength - at;
        uint32_t length = 0;
        if (lazy) {
            length = Check(position, available);
            uint32_t id = lastId + 1;
            if (length && !numbering) std::memcpy(&id, position + 4, 4);
            if (length == 0) {
                ok = false;
            } else if (run.Open()) {
                ok = run.Keep(at, id);
            } else {
                ok = table.AddDecoded(decode, position, available, id);
            }
        } else if (T* record = table.NewRecord()) {
            length = decode(*record, position, available);
            if (numbering) record->id = lastId + 1;
            ok = length != 0 && table.Add(record);
            if (!ok) table.Free(record);
        } else {
            ok = false;
        }
        if (!ok) break;
        at += length;
        ++i;
        if (numbering) ++lastId;
    }
    if (ok) ok = run.Close();
    entry.lastId = lastId;
    if (!ok) return 0;
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
      legacyFileName_("KVI.DA2") {}

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

int SecurityBookFile::LoadGlobal(const uint8_t* image, uint32_t size, const DfDirectoryEntry& entry) {
    if (entry.length == 0) return 1;  // the defaults stay
    if (entry.offset > 0xFFFFFFFFu - entry.length) return 0;
    // A shorter section leaves the rest of the defaults; a longer one is
    // read as its first 296 bytes.
    const uint32_t n = entry.length < kGlobalRecordSize ? entry.length : kGlobalRecordSize;
    if (entry.offset > size || n > size - entry.offset) return 0;
    std::memcpy(global_, image + entry.offset, n);
    global_->size = kGlobalRecordSize;
    return 1;
}

int SecurityBookFile::LoadSections(const uint8_t* image, uint32_t size) {
    if (!IsOpen() || !folders_) return 0;
    DfDirectoryEntry* g = GlobalSection();
    DfDirectoryEntry* p = PrefixSection();
    DfDirectoryEntry* s = SuffixSection();
    DfDirectoryEntry* u = UserSection();
    DfDirectoryEntry* f = FolderSection();
    if (!g || !p || !s || !u || !f) return 0;
    const PackedDecoders& decode = SectionDecoders();
    // Each section's own decoder decodes on first use; a former decoder
    // put in place by a test decodes at the load.
    const bool affixLazy = decode.affix == DecodeAffix;
    return LoadGlobal(image, size, *g) &&
           LoadPacked<CheckAffix, packed_check::PlainAffix>(image, size, *p, *prefixes_, decode.affix, affixLazy) &&
           LoadPacked<CheckAffix, packed_check::PlainAffix>(image, size, *s, *suffixes_, decode.affix, affixLazy) &&
           LoadPacked<CheckUser, packed_check::PlainUser>(image, size, *u, *users_, decode.user,
                                                          decode.user == DecodeUser) &&
           LoadPacked<CheckFolder, packed_check::PlainFolder>(image, size, *f, *folders_, decode.folder,
                                                              decode.folder == DecodeFolder);
}

int SecurityBookFile::WriteGlobal(IoFile& file) {
    DfDirectoryEntry* g = GlobalSection();
    if (!g || !global_ || !Header()) return 0;
    const uint32_t offset = DfDataOffset(Header()->entryCount);
    g->length = kGlobalRecordSize;
    g->count = 1;
    g->offset = offset;
    if (file.Seek(offset) != offset) return 0;
    return file.Write(global_, kGlobalRecordSize) == 0 ? 1 : 0;
}

int SecurityBookFile::WriteBeforeHeader(IoFile& file) { return WriteGlobal(file); }

int SecurityBookFile::WriteInPlace(IoFile& file, const std::vector<uint8_t>& onDisk) {
    // The 296 bytes at the global entry's offset are the file's global
    // section only while the file is the version this book knows; the
    // directory is not written, so it must already say so.
    const DfDirectoryEntry* g = GlobalSection();
    DfHeader fileHeader;
    std::memcpy(&fileHeader, onDisk.data(), kDfHeaderSize);
    if (!g || !global_ || onDisk != FileVersion() || g->length != kGlobalRecordSize ||
        g->offset < DfDataOffset(fileHeader.entryCount))
        return kInPlaceNeedsFull;
    if (file.Seek(g->offset) != g->offset || file.Write(global_, kGlobalRecordSize) != 0) return kInPlaceFailed;
    globalChanged_ = false;
    return kInPlaceDone;
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

int SecurityBookFile::Commit(int force) {
    if (!IsOpen()) return 0;  // a failed load: the file is not ours to write
    const bool globalChanged = globalChanged_;
    const int r = BookFile::Commit(force);
    // A full commit wrote the global record; a failed one leaves it pending.
    globalChanged_ = r ? false : globalChanged;
    return r;
}

}  // namespace kvi
