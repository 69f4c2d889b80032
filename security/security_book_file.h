// The security book: "MERIDOX.PWD", tag "^*%$", five sections in the order
// {1 global, 2 prefixes, 3 suffixes, 4 users, 5 folders}. The global
// section is one raw 296-byte GlobalSecurity; the others hold packed
// records (packed_records.h). All of it is read into memory when the book
// is opened and written whole by a full commit (BookFile's crash-safe
// protocol); a changed global record alone is written in place.
//
// Open (valid) means the global record and the prefix, suffix and user
// tables exist; a failed load leaves none of them, and such an object is
// never written.
//
// Ids are per section, lastId + 1 on every add. Prefix, suffix and user
// ids are never given twice. The folder section's lastId is set, when the
// section is written, to the id of the last folder record (an empty
// section keeps it), so a deleted last folder's id comes back. A section
// read with lastId 0 is numbered 1..n in file order.
#ifndef KVI_SECURITY_SECURITY_BOOK_FILE_H
#define KVI_SECURITY_SECURITY_BOOK_FILE_H

#include <cstdint>

#include "kviabdb.h"
#include "address/address_book_file.h"  // EditResult, kMaxRecordId
#include "address/compare_padded.h"
#include "affixes/affix_table.h"
#include "folders/folder_table.h"
#include "storage/book_file.h"
#include "storage/book_table.h"

namespace kvi {

enum SecuritySectionType : uint16_t {
    kGlobalSectionType = 1,
    kPrefixSectionType = 2,
    kSuffixSectionType = 3,
    kUserSectionType = 4,
    kFolderSectionType = 5,
};

constexpr uint32_t kGlobalRecordSize = sizeof(GlobalSecurity);  // 296
constexpr uint32_t kMaxUsers = 800;

// The name rule's key of a user.
struct UserKey {
    static bool HasKey(const SecurityEntry&) { return true; }
    static uint32_t KeyHash(const SecurityEntry& r) { return PaddedHash(r.name, 0); }
};

class SecurityBookFile : public BookFile {
public:
    using UserTable = BookTable<SecurityEntry, UserKey>;
    using AffixTable = kvi::AffixTable;
    using FolderTable = kvi::FolderTable;

    SecurityBookFile();
    ~SecurityBookFile() override;  // frees every record; never writes

    void ArrangeDirectory() override;
    // A failed load's object: 0, the file untouched. A changed global
    // record alone goes in place when the file is still the version this
    // book last read or wrote and its global section is where this book's
    // directory says; otherwise the whole book is written. A failed commit
    // keeps the global record pending.
    int Commit(int force) override;

    // Opens or creates the file and reads every section; a new file is
    // filled by the legacy import and committed at once. 1 or 0; a failed
    // load keeps nothing and deletes a file that it created.
    int Load();
    bool IsOpen() const { return global_ && prefixes_ && suffixes_ && users_; }
    // Takes over "KVI\KVI.DA2"; when it was read whole, its path goes into
    // legacyDone (BookFile::kLegacyPathSize bytes) for deletion once the
    // book is committed. 1 when read whole.
    int ImportLegacySecurity(char* legacyDone);
    const char* LegacyFileName() const { return legacyFileName_; }

    GlobalSecurity* Global() const { return global_; }
    void SetGlobalChanged() { globalChanged_ = true; }
    bool GlobalChanged() const { return globalChanged_; }

    UserTable* Users() const { return users_; }
    AffixTable* Prefixes() const { return prefixes_; }
    AffixTable* Suffixes() const { return suffixes_; }
    FolderTable* Folders() const { return folders_; }
    DfDirectoryEntry* GlobalSection() const { return BoundEntry(0); }
    DfDirectoryEntry* PrefixSection() const { return BoundEntry(1); }
    DfDirectoryEntry* SuffixSection() const { return BoundEntry(2); }
    DfDirectoryEntry* UserSection() const { return BoundEntry(3); }
    DfDirectoryEntry* FolderSection() const { return BoundEntry(4); }

    // Users (security_users.cpp). The name rule is ComparePadded.
    // Copies the first user of the same name into entry; 1 or 0.
    int FindUserByName(SecurityEntry& entry) const;
    SecurityEntry* FindUser(uint32_t id) const;
    // kEditDone (the book takes the entry), kEditFull, kEditDuplicate;
    // kEditRefused when no id is left.
    int32_t InsertUser(SecurityEntry* entry);
    // kEditDone (the book takes it), kEditDuplicate, kEditRefused (no such id).
    int32_t ReplaceUser(SecurityEntry* entry);
    void RemoveUser(SecurityEntry* user);  // frees it

protected:
    int SectionTypeCount() const override { return 5; }
    const uint16_t* SectionTypes() const override;
    int PrepareSections() override;
    int LoadSections(const uint8_t* image, uint32_t size) override;
    void ReleaseSections() override;
    void ImportLegacy(char* legacyDone) override { ImportLegacySecurity(legacyDone); }
    // Clear-text passwords: a new book file gives others no access.
    bool PrivateFile() const override { return true; }
    bool HasInPlaceChange() const override { return globalChanged_; }
    int WriteBeforeHeader(IoFile& file) override;
    int WriteInPlace(IoFile& file, const std::vector<uint8_t>& onDisk) override;
    int WriteSections(IoFile& file, uint32_t dataOffset, uint32_t* end) override;

private:
    int LoadGlobal(const uint8_t* image, uint32_t size, const DfDirectoryEntry& entry);
    int WriteGlobal(IoFile& file);

    GlobalSecurity* global_;
    AffixTable* prefixes_;
    AffixTable* suffixes_;
    UserTable* users_;
    FolderTable* folders_;
    bool globalChanged_;
    const char* legacyFileName_;
};

}  // namespace kvi

#endif
