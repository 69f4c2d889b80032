#include "storage/book_file.h"

#include <cctype>
#include <cstring>
#include <new>

#include "frame/buffer_check.h"
#include "frame/process_state.h"
#include "platform/platform.h"

namespace kvi {
namespace {

constexpr char kCommonTag[] = "^*$%";
constexpr char kVersion[] = "DF10";
constexpr uint32_t kWindowsDirSize = 144;
// A creator that finds another's new book in place loads that one; this
// many tries bound a load against a book that keeps vanishing.
constexpr int kLoadAttempts = 8;

int RegisterBook(BookFile* book) {
    BookFile** slots = Process().registered;
    for (int i = 0; i < 2; ++i) {
        if (!slots[i]) {
            slots[i] = book;
            return 1;
        }
    }
    return 0;
}

int UnregisterBook(BookFile* book) {
    BookFile** slots = Process().registered;
    for (int i = 0; i < 2; ++i) {
        if (slots[i] == book) {
            slots[i] = nullptr;
            return 1;
        }
    }
    return 0;
}

bool EqualsIgnoreCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const int ca = std::tolower(static_cast<unsigned char>(*a));
        const int cb = std::tolower(static_cast<unsigned char>(*b));
        if (ca != cb) return false;
        if (ca == 0) return true;
    }
}

}  // namespace

BookFile::BookFile(const char* fileName, const char* bookTag)
    : fileName_(fileName),
      bookTag_(bookTag),
      commonTag_(kCommonTag),
      header_(nullptr),
      directory_(nullptr),
      directoryCapacity_(0),
      modified_(0),
      headerModified_(0),
      file_(nullptr),
      bound_(),
      creating_(false),
      placeFoundBook_(false),
      placeNotDurable_(false) {
    RegisterBook(this);
}

BookFile::~BookFile() {
    delete file_;
    delete header_;
    delete[] directory_;
    UnregisterBook(this);
}

int BookFile::SetModified(int value) { return modified_ = value; }
int BookFile::SetHeaderModified(int value) { return headerModified_ = value; }
DfHeader* BookFile::Header() { return header_; }
DfDirectoryEntry* BookFile::Directory() { return directory_; }
IoFile* BookFile::File() { return file_; }

int BookFile::BuildPath(char* buffer) const {
    const uint32_t n = platform::GetWindowsDirectory(buffer, kWindowsDirSize);
    if (n == 0 || n >= kWindowsDirSize) return 0;
    size_t len = n;
    if (buffer[len - 1] != '\\') buffer[len++] = '\\';
    const size_t nameLen = std::strlen(fileName_);
    if (len + 6 + nameLen + 1 > kBookPathSize) return 0;
    std::memcpy(buffer + len, "KVI32\\", 6);
    std::memcpy(buffer + len + 6, fileName_, nameLen + 1);
    return 1;
}

void BookFile::ReleaseAll() {
    delete file_;
    file_ = nullptr;
    delete header_;
    header_ = nullptr;
    delete[] directory_;
    directory_ = nullptr;
    directoryCapacity_ = 0;
    for (auto& b : bound_) b = nullptr;
    fileVersion_.clear();
    ReleaseSections();  // before the image their records may come from
    image_.reset();
    imageSize_ = 0;
}

int BookFile::CreateOrOpen(int spareEntries) {
    if (spareEntries < 0) spareEntries = 0;
    char path[kBookPathSize];
    header_ = new (std::nothrow) DfHeader();
    if (!header_ || !BuildPath(path)) {
        ReleaseAll();
        return 0;
    }
    file_ = new (std::nothrow) IoFile(path, kGenericRead);
    if (!file_ || !file_->Name()) {
        ReleaseAll();
        return 0;
    }
    fileVersion_.clear();
    image_.reset();
    imageSize_ = 0;
    const uint32_t opened = file_->Open(kGenericRead);
    bool absent = opened == kIoNotFound;
    if (opened != 0 && !absent) {
        // There, but not ours to read (no permission, not a regular file,
        // a link of another account): never made anew over it.
        ReleaseAll();
        return 0;
    }
    if (!absent) {
        // Invariant 4: one open, one read of the whole file.
        uint32_t size = 0;
        bool read = file_->Size(&size) == 0;
        if (read && size > 0) {
            image_.reset(new (std::nothrow) uint8_t[size]);  // a file too large for memory is refused
            imageSize_ = image_ ? size : 0;
            read = image_ && file_->Read(image_.get(), size) == 0;
        }
        const bool closed = file_->Close() == 0;
        if (!read || !closed) {
            ReleaseAll();
            return 0;
        }
        absent = size == 0;  // an earlier build's unfinished creation: no book
    }
    if (absent) {
        // A new book, in memory only: the first commit places the file.
        image_.reset();
        imageSize_ = 0;
        std::memcpy(header_->bookTag, bookTag_, 4);
        std::memcpy(header_->commonTag, commonTag_, 4);
        header_->entryCount = static_cast<uint16_t>(spareEntries);
        header_->dataOffset = DfDataOffset(header_->entryCount);
        directoryCapacity_ = static_cast<uint32_t>(spareEntries);
        directory_ = new (std::nothrow) DfDirectoryEntry[directoryCapacity_ ? directoryCapacity_ : 1]();
        if (!directory_) {
            ReleaseAll();
            return 0;
        }
        modified_ = headerModified_ = 1;
        return 1;
    }
    if (imageSize_ < kDfHeaderSize ||
        std::memcmp(image_.get() + offsetof(DfHeader, bookTag), bookTag_, 4) != 0) {
        ReleaseAll();
        return 0;
    }
    std::memcpy(header_, image_.get(), kDfHeaderSize);
    const uint32_t dirBytes = kDfEntrySize * header_->entryCount;
    if (imageSize_ - kDfHeaderSize < dirBytes) {
        ReleaseAll();
        return 0;
    }
    directoryCapacity_ = header_->entryCount + static_cast<uint32_t>(spareEntries);
    directory_ = new (std::nothrow) DfDirectoryEntry[directoryCapacity_ ? directoryCapacity_ : 1]();
    if (!directory_) {
        ReleaseAll();
        return 0;
    }
    std::memcpy(directory_, image_.get() + kDfHeaderSize, dirBytes);
    fileVersion_.assign(image_.get(), image_.get() + kDfHeaderSize + dirBytes);
    modified_ = headerModified_ = 0;
    return 1;
}

bool BookFile::ReadHeaderBytes(IoFile& file, std::vector<uint8_t>& bytes) {
    DfHeader h;
    if (file.Seek(0) != 0 || file.Read(&h, kDfHeaderSize) != 0) return false;
    const uint32_t dirBytes = kDfEntrySize * h.entryCount;
    bytes.resize(kDfHeaderSize + dirBytes);
    std::memcpy(bytes.data(), &h, kDfHeaderSize);
    return dirBytes == 0 || file.Read(bytes.data() + kDfHeaderSize, dirBytes) == 0;
}

void BookFile::RememberFileVersion() {
    const uint32_t dirBytes = kDfEntrySize * header_->entryCount;
    fileVersion_.resize(kDfHeaderSize + dirBytes);
    std::memcpy(fileVersion_.data(), header_, kDfHeaderSize);
    std::memcpy(fileVersion_.data() + kDfHeaderSize, directory_, dirBytes);
}

void BookFile::ArrangeDirectoryFor(const uint16_t* types, int count) {
    if (!header_ || !directory_) return;
    for (int i = 0; i < count && i < kMaxSectionTypes; ++i) {
        uint32_t j = header_->entryCount;
        for (uint32_t k = 0; k < header_->entryCount; ++k) {
            if (directory_[k].type == types[i]) {
                j = k;
                break;
            }
        }
        if (j == header_->entryCount) {
            if (j >= directoryCapacity_) continue;  // no room: cannot happen with the spare entries
            directory_[j] = DfDirectoryEntry();
            directory_[j].type = types[i];
            ++header_->entryCount;
        }
        if (j != static_cast<uint32_t>(i)) {
            const DfDirectoryEntry t = directory_[i];
            directory_[i] = directory_[j];
            directory_[j] = t;
        }
    }
    for (auto& b : bound_) b = nullptr;
    for (uint32_t k = 0; k < header_->entryCount; ++k)
        for (int i = 0; i < count && i < kMaxSectionTypes; ++i)
            if (directory_[k].type == types[i]) bound_[i] = &directory_[k];
}

int BookFile::WriteHeader(IoFile& file, int force) {
    if (!modified_ && !headerModified_ && !force) return 1;
    header_->headerSize = kDfHeaderSize;
    header_->entrySize = kDfEntrySize;
    // Written anywhere else, the header would land on section bytes or
    // past the end while offset 0 keeps a stale directory.
    if (file.Seek(0) != 0) return 0;
    std::memcpy(header_->version, kVersion, 4);
    // One write for header and directory: they are one block on disk.
    const uint32_t dirBytes = kDfEntrySize * header_->entryCount;
    std::vector<uint8_t> bytes(kDfHeaderSize + dirBytes);
    std::memcpy(bytes.data(), header_, kDfHeaderSize);
    std::memcpy(bytes.data() + kDfHeaderSize, directory_, dirBytes);
    if (file.Write(bytes.data(), static_cast<uint32_t>(bytes.size())) != 0) return 0;
    headerModified_ = 0;
    return 1;
}

int BookFile::SetPassword(const char* newPassword, uint16_t flag, const char* currentPassword) {
    if (!header_ || !file_ || !newPassword) return 0;
    if (header_->passwordFlag != 0) {
        if (!currentPassword) return 0;
        // The stored password was cut to 15 characters; compare the
        // caller's text cut the same way.
        char current[kDfPasswordSize];
        CopyText(current, kDfPasswordSize, currentPassword);
        if (!EqualsIgnoreCase(current, header_->password)) return 0;
    }
    CopyText(header_->password, kDfPasswordSize, newPassword);
    header_->passwordFlag = flag;
    headerModified_ = 1;
    return CommitInPlace(false) == kInPlaceDone ? 1 : 0;
}

uint32_t BookFile::PasswordLength() const {
    return header_ ? static_cast<uint32_t>(strnlen(header_->password, kDfPasswordSize - 1)) : 0;
}

int BookFile::GetPassword(char* buffer, uint32_t* flag) {
    if (!header_ || !buffer || !flag) return 0;
    // The text and its NUL only: the caller's bytes after it are its own.
    const uint32_t n = PasswordLength();
    std::memcpy(buffer, header_->password, n);
    buffer[n] = '\0';
    const uint32_t widened = header_->passwordFlag;
    std::memcpy(flag, &widened, sizeof widened);  // the caller's pointer may be unaligned
    return 1;
}

int BookFile::NotifyPasswordChange(const char* newPassword, uint16_t flag, const char* currentPassword) {
    BookFile** slots = Process().registered;
    for (int i = 0; i < 2; ++i)
        if (slots[i]) slots[i]->SetPassword(newPassword, flag, currentPassword);
    return 1;
}

int BookFile::LoadBook() {
    // A new book that another process placed first is loaded from its
    // file on the next pass; the bound covers a book that keeps vanishing.
    for (int attempt = 0; attempt < kLoadAttempts; ++attempt) {
        const LoadResult r = LoadOnce();
        if (r != kBookAppeared) return r == kLoaded ? 1 : 0;
    }
    return 0;
}

BookFile::LoadResult BookFile::LoadOnce() {
    if (!PrepareSections() || !CreateOrOpen(SectionTypeCount())) {
        ReleaseAll();
        modified_ = headerModified_ = 0;
        return kLoadFailed;
    }
    const bool created = modified_ && headerModified_;
    if (created) {
        header_->entryCount = static_cast<uint16_t>(SectionTypeCount());
        for (int i = 0; i < SectionTypeCount(); ++i) directory_[i].type = SectionTypes()[i];
    }
    ArrangeDirectory();
    if (!created) {
        // Records that the file keeps without ids get them now (lastId 0);
        // only a full commit may write those ids, so the book stays modified.
        uint32_t lastIds[kMaxSectionTypes] = {};
        for (int i = 0; i < SectionTypeCount(); ++i) lastIds[i] = BoundEntry(i) ? BoundEntry(i)->lastId : 0;
        const bool loaded = LoadSections(image_.get(), imageSize_) != 0;
        bool numbering = false;
        for (int i = 0; i < SectionTypeCount(); ++i)
            numbering = numbering || (BoundEntry(i) && BoundEntry(i)->lastId != lastIds[i]);
        // The tables decode their records from the image on first use:
        // it stays until the sections go (ReleaseAll, the next load).
        if (!loaded) {
            ReleaseAll();
            modified_ = headerModified_ = 0;
            return kLoadFailed;
        }
        modified_ = numbering ? 1 : 0;
        headerModified_ = 0;
        return kLoaded;
    }

    char legacyDone[kLegacyPathSize] = "";
    ImportLegacy(legacyDone);
    creating_ = true;
    placeFoundBook_ = false;
    const int committed = Commit(1);
    creating_ = false;
    if (committed) {
        // Invariant 3: the legacy entries are in the book on disk now.
        // After a crash the unsynced folder may lose the new book again;
        // the legacy file then fills the next new one.
        if (legacyDone[0] && !placeNotDurable_) IoFile(legacyDone, kGenericRead).Remove();
        modified_ = 0;
        return kLoaded;
    }
    const bool appeared = placeFoundBook_;
    ReleaseAll();
    modified_ = headerModified_ = 0;
    return appeared ? kBookAppeared : kLoadFailed;
}

}  // namespace kvi
