#include "legacy/legacy_address.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "address/address_book_file.h"
#include "address/address_record.h"
#include "address/section_reader.h"
#include "platform/platform.h"
#include "storage/io_file.h"

namespace kvi {

namespace {

constexpr uint8_t kEnd = 0xFF;

// Reads the records of the first index entry, all within the bytes that
// a decoder is handed.
class LegacyCursor {
public:
    LegacyCursor(const uint8_t* bytes, uint32_t available) : bytes_(bytes), available_(available) {}

    bool AtEnd() const { return at_ < available_ && bytes_[at_] == kEnd; }
    bool Ok() const { return ok_; }
    uint32_t Consumed() const { return at_; }

    // A NUL-terminated text, cut to its field; not Ok() when the NUL is
    // not within the bytes.
    void Text(char* field, uint32_t fieldSize, bool* wasFfix = nullptr) {
        if (!ok_ || at_ >= available_) {
            ok_ = false;
            return;
        }
        const uint8_t* start = bytes_ + at_;
        const void* nul = std::memchr(start, 0, available_ - at_);
        if (!nul) {
            ok_ = false;
            return;
        }
        const uint32_t length = static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - start);
        if (wasFfix) *wasFfix = length == 4 && std::memcmp(start, "ffix", 4) == 0;
        const uint32_t kept = length < fieldSize ? length : fieldSize - 1;
        std::memcpy(field, start, kept);
        field[kept] = '\0';
        at_ += length + 1;
    }
    void Bytes(void* out, uint32_t n) {
        if (!ok_ || available_ - at_ < n) {
            ok_ = false;
            return;
        }
        std::memcpy(out, bytes_ + at_, n);
        at_ += n;
    }
    // Skips whatever stands before the terminator, then the terminator.
    void SkipToTerminator() {
        while (ok_ && at_ < available_ && bytes_[at_] != kEnd) ++at_;
        if (at_ >= available_) ok_ = false;
        ++at_;
    }

private:
    const uint8_t* bytes_;
    uint32_t available_;
    uint32_t at_ = 0;
    bool ok_ = true;
};

}  // namespace

uint32_t DecodeLegacyAddress(LegacyAddress& legacy, const uint8_t* bytes, uint32_t available) {
    std::memset(&legacy, 0, sizeof legacy);
    LegacyCursor in(bytes, available);
    // Each field is tried only when the byte where it would begin is not
    // the terminator; the record then ends there.
    do {
        if (in.AtEnd()) break;
        in.Text(legacy.address, sizeof legacy.address);
        if (!in.Ok() || in.AtEnd()) break;
        in.Text(legacy.phoneNumber, sizeof legacy.phoneNumber);
        if (!in.Ok() || in.AtEnd()) break;
        bool ffix = false;
        in.Text(legacy.extraText1, sizeof legacy.extraText1, &ffix);
        if (ffix) legacy.extraText1[0] = '\0';  // "ffix" stands for an empty text
        if (!in.Ok() || in.AtEnd()) break;
        in.Text(legacy.extraText2, sizeof legacy.extraText2);
        if (!in.Ok() || in.AtEnd()) break;
        in.Text(legacy.ignoredText, sizeof legacy.ignoredText);
        if (!in.Ok() || in.AtEnd()) break;
        in.Bytes(legacy.ignoredBytes, 4);
        if (!in.Ok() || in.AtEnd()) break;
        in.Text(legacy.name, sizeof legacy.name);
        if (!in.Ok() || in.AtEnd()) break;
        in.Bytes(&legacy.connectionType, 4);
        if (!in.Ok() || in.AtEnd()) break;
        in.Bytes(&legacy.ignoredValue, 4);
    } while (false);
    in.SkipToTerminator();
    if (!in.Ok()) return 0;

    if (legacy.connectionType == 0)
        legacy.connectionType = legacy.phoneNumber[0] ? kConnectionModem : kConnectionNetwork;
    if (legacy.name[0] == '\0') {
        std::memcpy(legacy.name, legacy.address, sizeof legacy.address);  // at most 20 of 30
        legacy.name[sizeof legacy.name - 1] = '\0';
    }
    return in.Consumed();
}

void ConvertLegacyAddress(AddressRecord& record, LegacyAddress& legacy) {
    platform::OemToAnsi(legacy.address, legacy.address);
    platform::OemToAnsi(legacy.phoneNumber, legacy.phoneNumber);
    platform::OemToAnsi(legacy.extraText1, legacy.extraText1);
    platform::OemToAnsi(legacy.extraText2, legacy.extraText2);
    platform::OemToAnsi(legacy.name, legacy.name);
    SetAddress(record, legacy.address);
    SetPhoneNumber(record, legacy.phoneNumber);
    SetExtraText1(record, legacy.extraText1);
    SetExtraText2(record, legacy.extraText2);
    SetName(record, legacy.name);
    SetConnectionType(record, static_cast<uint16_t>(legacy.connectionType & 0xFFFFu));
    SetExtraValue(record, kLegacyAddressExtraValue);
}

int BuildLegacyPath(char* buffer, uint32_t size, const char* fileName) {
    char dir[260];
    const uint32_t n = platform::GetWindowsDirectory(dir, sizeof dir);
    if (n == 0 || n >= sizeof dir) return 0;
    const char* slash = dir[n - 1] == '\\' ? "" : "\\";
    const int written = std::snprintf(buffer, size, "%s%sKVI\\%s", dir, slash, fileName);
    return written > 0 && static_cast<uint32_t>(written) < size ? 1 : 0;
}

// Runs once, inside the Load that makes a new book. Entries go straight to
// the table (no limit, no duplicate rule) with the ids 1, 2, ... of the new
// book. The old file is named for deletion only when all of its records
// were read, and the load deletes it only once the book holding them is
// committed; any failure before leaves it in place, so nothing old is
// lost, and what was taken over stays.
int AddressBookFile::ImportLegacyAddresses(char* legacyDone) {
    char path[BookFile::kLegacyPathSize];
    if (legacyDone) legacyDone[0] = '\0';
    if (!BuildLegacyPath(path, sizeof path, legacyFileName_)) return 0;
    IoFile file(path, kGenericRead);
    if (file.Open(kGenericRead) != 0) return 0;  // the destructor closes
    LegacyAddressHeader header;
    if (file.Read(&header, sizeof header) != 0) return 0;
    if (std::memcmp(header.signature, legacyTag_, 4) != 0) return 0;
    const uint32_t n = header.indexCount;
    LegacyIndexEntry* index = n ? new (std::nothrow) LegacyIndexEntry[n] : nullptr;
    if (n && !index) return 0;
    const bool indexRead = n == 0 || file.Read(index, n * sizeof(LegacyIndexEntry)) == 0;
    const LegacyIndexEntry first = n ? index[0] : LegacyIndexEntry{0, 0, 0};
    delete[] index;
    if (!indexRead) return 0;

    if (n >= 1 && first.dataLength != 0) {
        SectionReader reader(kLegacyAddressChunk, file, first.dataLength);
        if (!reader.Ok()) return 0;
        const uint8_t* at = reader.Start();
        for (uint32_t i = 0; i < first.recordCount; ++i) {
            at = reader.Ensure(at);
            if (!at) return 0;
            LegacyAddress legacy;
            const uint32_t consumed = DecodeLegacyAddress(legacy, at, reader.Available(at));
            if (consumed == 0) return 0;  // the data ends inside a record
            at += consumed;
            AddressRecord* record = new (std::nothrow) AddressRecord;
            if (!record) return 0;
            Clear(*record);
            ConvertLegacyAddress(*record, legacy);
            SetId(*record, section_->lastId + 1);
            if (!records_->Append(record)) {
                delete record;
                return 0;
            }
            section_->lastId = record->id;
        }
    }
    file.Close();
    if (legacyDone) std::memcpy(legacyDone, path, sizeof path);
    return 1;
}

}  // namespace kvi
