// The commit protocol of both books (invariants 1, 3 and 4 of
// book_file.h). The bytes of a full commit are those of the classic
// protocol: header and directory, the sections from the data offset on,
// header and directory again with the final offsets; only the file they
// go to differs.
#include <cstring>

#include "platform/platform.h"
#include "storage/book_file.h"

namespace kvi {
namespace {

constexpr char kTempSuffix[] = ".tmp";

}  // namespace

int BookFile::Commit(int force) {
    if (!header_ || !directory_ || !file_) return 0;  // a failed load: the file is not ours to write
    if (force || modified_) return CommitFull(force);
    if (headerModified_ || HasInPlaceChange()) return CommitInPlace();
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
    char tempPath[kBookPathSize];
    if (!BuildPath(bookPath)) return 0;
    const size_t n = std::strlen(bookPath);
    if (n + sizeof kTempSuffix > kBookPathSize) return 0;
    std::memcpy(tempPath, bookPath, n);
    std::memcpy(tempPath + n, kTempSuffix, sizeof kTempSuffix);

    IoFile temp(tempPath, kGenericRead);
    if (!temp.Name()) return 0;
    // A failure must not lose a header change that is still only in memory.
    const int headerModified = headerModified_;
    bool ok = temp.Create() == 0;  // empties a temporary file left by a killed commit
    if (ok) {
        const uint32_t dataOffset = DfDataOffset(header_->entryCount);
        uint32_t end = dataOffset;
        ok = WriteBeforeHeader(temp, 1) && WriteHeader(temp, force) && WriteSections(temp, dataOffset, &end) &&
             end >= dataOffset;
        if (ok) {
            EmptyUnboundEntries(end);
            header_->dataLength = end - dataOffset;
            ok = WriteHeader(temp, 1) != 0;
        }
    }
    const bool closed = temp.Close() == 0;
    ok = ok && closed && temp.ReplaceOver(bookPath) == 0;
    if (!ok) {
        platform::DeleteFile(tempPath);
        headerModified_ = headerModified;
        return 0;
    }
    modified_ = 0;
    RememberFileVersion();
    return 1;
}

int BookFile::CommitInPlace() {
    if (!header_ || !directory_ || !file_) return 0;
    std::vector<uint8_t> onDisk;
    if (file_->Open(kGenericRead) != 0) {
        file_->Close();
        return 0;
    }
    const bool read = ReadHeaderBytes(*file_, onDisk);
    file_->Close();
    if (!read) return 0;

    DfHeader fileHeader;
    std::memcpy(&fileHeader, onDisk.data(), kDfHeaderSize);
    // Our header and directory describe the file's bytes only when the
    // file is still the version we know, no record change is pending and
    // the directory did not grow (a grown one would cover section bytes).
    const bool ours = onDisk == fileVersion_ && !modified_ && fileHeader.entryCount == header_->entryCount;

    if (file_->Open(kGenericWrite) != 0) {
        file_->Close();
        return 0;
    }
    bool ok = WriteBeforeHeader(*file_, 0) != 0;
    if (ok && ours) {
        ok = WriteHeader(*file_, 0) != 0;
    } else if (ok) {
        std::memcpy(fileHeader.password, header_->password, kDfPasswordSize);
        fileHeader.passwordFlag = header_->passwordFlag;
        ok = file_->Seek(0) == 0 && file_->Write(&fileHeader, kDfHeaderSize) == 0;
        if (ok) headerModified_ = 0;
    }
    const bool closed = file_->Close() == 0;
    if (!ok || !closed) return 0;
    if (ours) {
        RememberFileVersion();
    } else if (onDisk == fileVersion_) {
        std::memcpy(fileVersion_.data(), &fileHeader, kDfHeaderSize);
    }
    return 1;
}

}  // namespace kvi
