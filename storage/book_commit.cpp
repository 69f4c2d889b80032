// The commit protocol of both books (invariants 1, 2, 5 and 6 of
// book_file.h). The bytes of a full commit are those of the classic
// protocol: header and directory, the sections from the data offset on,
// header and directory again with the final offsets; only the file they
// go to differs.
#include <cstring>
#include <vector>

#include "kviabio.h"
#include "storage/book_file.h"

namespace kvi {

int BookFile::Commit(int force) {
    if (!header_ || !directory_ || !file_) return 0;  // a failed load: the file is not ours to write
    if (force || modified_) return CommitFull(force);
    if (headerModified_ || HasInPlaceChange()) {
        const int r = CommitInPlace(true);
        if (r == kInPlaceNeedsFull) return CommitFull(1);
        return r == kInPlaceDone ? 1 : 0;
    }
    return 1;
}

void BookFile::EmptyUnboundEntries(uint32_t end) {
    for (uint32_t k = 0; k < header_->entryCount; ++k) {
        bool bound = false;
        for (auto* b : bound_) bound = bound || b == &directory_[k];
        if (bound) continue;
        directory_[k].length = 0;
        directory_[k].count = 0;
        directory_[k].offset = end;
    }
}

int BookFile::CommitFull(int force) {
    char bookPath[kBookPathSize];
    if (!BuildPath(bookPath)) return 0;
    // Invariant 1: a failed commit leaves the book in memory as it found
    // it; the section writers change offsets, counts, lengths and lastIds.
    const DfHeader savedHeader = *header_;
    const std::vector<DfDirectoryEntry> savedDirectory(directory_, directory_ + directoryCapacity_);
    const int headerModified = headerModified_;

    IoFile temp(bookPath, kGenericRead);
    bool ok = temp.CreateTemporary(bookPath, PrivateFile()) == 0;
    const bool madeTemp = ok;
    if (ok) {
        const uint32_t dataOffset = DfDataOffset(header_->entryCount);
        uint32_t end = dataOffset;
        ok = WriteBeforeHeader(temp) && WriteHeader(temp, force) && WriteSections(temp, dataOffset, &end) &&
             end >= dataOffset;
        if (ok) {
            EmptyUnboundEntries(end);
            header_->dataLength = end - dataOffset;
            ok = WriteHeader(temp, 1) != 0;
        }
    }
    if (madeTemp) ok = (temp.Close() == 0) && ok;
    uint32_t put = 1;
    if (ok) put = creating_ ? temp.PlaceAt(bookPath) : temp.ReplaceOver(bookPath);
    // A new book whose folder could not be synced is in place all the
    // same; only the legacy file then stays (see LoadOnce).
    placeNotDurable_ = creating_ && put == KVIO_REPLACE_NOT_DURABLE;
    if (put != 0 && !placeNotDurable_) {
        placeFoundBook_ = put == kIoExists;
        if (madeTemp) temp.Remove();  // ours alone: a name no other commit uses
        *header_ = savedHeader;
        std::memcpy(directory_, savedDirectory.data(), savedDirectory.size() * sizeof(DfDirectoryEntry));
        headerModified_ = headerModified;
        return 0;
    }
    modified_ = 0;
    RememberFileVersion();
    return 1;
}

int BookFile::CommitInPlace(bool withSections) {
    if (!header_ || !directory_ || !file_) return kInPlaceFailed;
    // Invariant 5: what is written depends only on what this very handle
    // reads, so a file another process put in place meanwhile is either
    // the one read here or untouched.
    if (file_->Open(kGenericRead | kGenericWrite) != 0) {
        file_->Close();
        return kInPlaceFailed;
    }
    std::vector<uint8_t> onDisk;
    bool ok = ReadHeaderBytes(*file_, onDisk) &&
              std::memcmp(onDisk.data() + offsetof(DfHeader, bookTag), header_->bookTag, 4) == 0;
    int result = ok ? kInPlaceDone : kInPlaceFailed;
    const bool sections = withSections && HasInPlaceChange();
    if (ok && sections) result = WriteInPlace(*file_, onDisk);
    if (result == kInPlaceNeedsFull) {
        file_->Close();
        return kInPlaceNeedsFull;
    }
    ok = result == kInPlaceDone;
    DfHeader fileHeader;
    const bool writeHeader = ok && headerModified_;
    if (writeHeader) {
        // Only the password: the file's own directory, counts and lastIds stay.
        std::memcpy(&fileHeader, onDisk.data(), kDfHeaderSize);
        std::memcpy(fileHeader.password, header_->password, kDfPasswordSize);
        fileHeader.passwordFlag = header_->passwordFlag;
        ok = file_->Seek(0) == 0 && file_->Write(&fileHeader, kDfHeaderSize) == 0;
    }
    // A change reported done must survive a power cut, as a full commit's
    // does: the bytes written in place reach the disk before the close.
    if (ok && (writeHeader || sections)) ok = file_->Flush() == 0;
    const bool closed = file_->Close() == 0;
    if (!ok || !closed) return kInPlaceFailed;
    if (writeHeader) {
        headerModified_ = 0;
        if (onDisk == fileVersion_) std::memcpy(fileVersion_.data(), &fileHeader, kDfHeaderSize);
    }
    return kInPlaceDone;
}

}  // namespace kvi
