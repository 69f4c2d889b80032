#include "book_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "address/address_record.h"
#include "exit_codes.h"
#include "kviabio.h"
#include "security/global_security.h"
#include "security/packed_records.h"

namespace kvidf {

namespace {

constexpr char kAddressTag[] = "^*($";
constexpr char kSecurityTag[] = "^*%$";
constexpr char kCommonTag[] = "^*$%";
constexpr char kVersion[] = "DF10";
constexpr uint16_t kAddressType = 100;
constexpr uint16_t kGlobalType = 1;

// A security book's settings before its global section is read.
void SetDefaults(GlobalSecurity& g) {
    std::memset(&g, 0, sizeof g);
    g.size = sizeof g;
    g.mode = kvi::kDefaultGlobalMode;
    g.flags = kvi::kDefaultGlobalFlags;
    g.extraWord1 = kvi::kDefaultExtraWord1;
    g.extraWord2 = kvi::kDefaultExtraWord2;
}

const char* TagOf(Book book) { return book == Book::kAddress ? kAddressTag : kSecurityTag; }

std::string N(uint64_t v) { return std::to_string(v); }

// A record worth keeping when salvaging: the library wrote it. Its id is
// one the section handed out, and its texts hold no control characters
// (random bytes seldom pass both).
bool PlainText(const char* field, size_t n) {
    for (size_t i = 0; i < n && field[i] != '\0'; ++i)
        if (static_cast<unsigned char>(field[i]) < 0x20 || field[i] == 0x7F) return false;
    return true;
}
template <size_t N>
bool Plain(const char (&field)[N]) {
    return PlainText(field, N);
}
// lastId kAnyId: a section numbered on reading, whose stored ids do not count.
constexpr uint32_t kAnyId = 0xFFFFFFFFu;
bool IdPlausible(uint32_t id, uint32_t lastId) {
    return lastId == kAnyId || (id != 0 && id != 0xFFFFFFFFu && id <= lastId);
}

bool Plausible(const AddressRecord& r, uint32_t lastId) {
    return IdPlausible(r.id, lastId) && Plain(r.name) && Plain(r.address) &&
           Plain(r.phoneNumber) && Plain(r.extraText1) && Plain(r.extraText2);
}
bool Plausible(const AffixEntry& r, uint32_t lastId) {
    return IdPlausible(r.id, lastId) && Plain(r.name) && Plain(r.affixText);
}
bool Plausible(const SecurityEntry& r, uint32_t lastId) {
    return IdPlausible(r.id, lastId) && Plain(r.name) && Plain(r.password) && Plain(r.extraText);
}
bool Plausible(const FolderSecurityEntry& r, uint32_t lastId) { return IdPlausible(r.id, lastId) && Plain(r.path); }

uint32_t DecodeRecord(AddressRecord& r, const uint8_t* p, uint32_t available) {
    // As the library's reader: a length word past the section fails first.
    if (available < 4) return 0;
    uint32_t length;
    std::memcpy(&length, p, 4);
    if (length > available) return 0;
    return kvi::Decode(r, p, available);
}
uint32_t DecodeRecord(AffixEntry& r, const uint8_t* p, uint32_t available) { return kvi::DecodeAffix(r, p, available); }
uint32_t DecodeRecord(SecurityEntry& r, const uint8_t* p, uint32_t available) { return kvi::DecodeUser(r, p, available); }
uint32_t DecodeRecord(FolderSecurityEntry& r, const uint8_t* p, uint32_t available) {
    return kvi::DecodeFolder(r, p, available);
}

// A place where salvage may start reading again: a plausible record that
// ends the section or is followed by another plausible one.
template <typename Record>
bool GoodStart(const uint8_t* base, uint32_t from, uint32_t end, uint32_t lastId) {
    Record r{};
    const uint32_t used = DecodeRecord(r, base + from, end - from);
    if (used == 0 || !Plausible(r, lastId)) return false;
    if (from + used == end) return true;
    Record next{};
    const uint32_t more = DecodeRecord(next, base + from + used, end - from - used);
    return more != 0 && Plausible(next, lastId);
}

template <typename Record>
void ReadRecords(BookImage& image, SectionRead& s, const std::vector<uint8_t>& file, uint32_t length,
                 std::vector<Record>& out, bool salvage) {
    const uint32_t start = s.entry.offset;
    const uint32_t end = start + length;
    const bool numbering = s.entry.lastId == 0;
    // Copied out: the directory entry is packed.
    const uint32_t idLimit = numbering ? kAnyId : uint32_t{s.entry.lastId};
    uint32_t at = start;
    const char* what = SectionName(s.type);
    for (uint32_t i = 0; salvage ? at < end : i < s.entry.count; ++i) {
        if (!salvage && at >= end) {
            image.refusals.push_back({at, std::string("the ") + what + " section counts " + N(s.entry.count) +
                                              " records but its bytes end after " + N(i)});
            return;
        }
        Record r{};
        const uint32_t used = DecodeRecord(r, file.data() + at, end - at);
        // Read in order, a record needs only an id the section gave; the
        // stricter test is for finding a new start after damage.
        if (used != 0 && (!salvage || IdPlausible(r.id, idLimit))) {
            if (numbering) r.id = ++s.lastId;
            out.push_back(r);
            s.at.push_back(at);
            at += used;
            continue;
        }
        uint32_t word = 0;
        std::memcpy(&word, file.data() + at, std::min<uint32_t>(4, end - at));
        const std::string why = "record " + N(i + 1) + " of the " + what + " section is not a record (its length word says " +
                                N(word) + ", " + N(end - at) + " bytes of the section are left)";
        if (!salvage) {
            image.refusals.push_back({at, why});
            return;
        }
        uint32_t next = at + 1;
        while (next < end && !GoodStart<Record>(file.data(), next, end, idLimit)) ++next;
        image.losses.push_back({at, why + "; " + N(next - at) + " bytes skipped"});
        at = next;
    }
    if (!salvage && at < end)
        image.notes.push_back(std::string("the ") + what + " section has " + N(end - at) +
                              " bytes after its last record, which are not read");
    if (salvage && s.entry.count != out.size())
        image.notes.push_back(std::string("the ") + what + " section counts " + N(s.entry.count) + " records; " +
                              N(out.size()) + " were read");
}

// The directory as ArrangeDirectory leaves it, and which entry each type binds.
void Bind(BookImage& image, const std::vector<kvi::DfDirectoryEntry>& fileDirectory) {
    const std::vector<uint16_t>& types = SectionTypes(image.book);
    std::vector<kvi::DfDirectoryEntry> dir = fileDirectory;
    std::vector<uint64_t> where;
    for (size_t k = 0; k < dir.size(); ++k) where.push_back(kvi::kDfHeaderSize + uint64_t{kvi::kDfEntrySize} * k);
    for (size_t i = 0; i < types.size(); ++i) {
        size_t j = dir.size();
        for (size_t k = 0; k < dir.size(); ++k)
            if (dir[k].type == types[i]) {
                j = k;
                break;
            }
        if (j == dir.size()) {
            kvi::DfDirectoryEntry e{};
            e.type = types[i];
            dir.push_back(e);
            where.push_back(0);
        }
        if (j != i) {
            std::swap(dir[i], dir[j]);
            std::swap(where[i], where[j]);
        }
    }
    for (size_t k = 0; k < dir.size(); ++k) {
        bool known = false;
        for (uint16_t t : types) known = known || dir[k].type == t;
        if (!known) {
            image.notes.push_back("directory entry at byte " + N(where[k]) + " has type " + N(dir[k].type) +
                                  ", which this book does not read");
            continue;
        }
        SectionRead& s = image.sections[dir[k].type];
        if (s.type != 0)
            image.notes.push_back(std::string("the ") + SectionName(dir[k].type) +
                                  " section is listed more than once; the last entry is read");
        s.type = dir[k].type;
        s.entry = dir[k];
        s.entryAt = where[k];
        s.lastId = dir[k].lastId;
    }
}

// A header without its tag: the entries that follow it, as long as they
// look like this book's directory entries.
std::vector<kvi::DfDirectoryEntry> GuessDirectory(const std::vector<uint8_t>& file, Book book) {
    std::vector<kvi::DfDirectoryEntry> dir;
    const std::vector<uint16_t>& types = SectionTypes(book);
    for (uint64_t at = kvi::kDfHeaderSize; at + kvi::kDfEntrySize <= file.size(); at += kvi::kDfEntrySize) {
        kvi::DfDirectoryEntry e;
        std::memcpy(&e, file.data() + at, sizeof e);
        bool known = false;
        for (uint16_t t : types) known = known || e.type == t;
        if (!known || e.offset < at + kvi::kDfEntrySize || e.offset > file.size()) break;
        dir.push_back(e);
    }
    return dir;
}

void ReadSection(BookImage& image, SectionRead& s, const std::vector<uint8_t>& file, bool salvage) {
    const kvi::DfDirectoryEntry& e = s.entry;
    const std::string what = std::string("the ") + SectionName(s.type) + " section";
    if (e.length == 0) {
        // An empty global section leaves the defaults; an empty record
        // section that counts records is refused.
        if (s.type != kGlobalType && e.count != 0) {
            if (salvage) image.notes.push_back(what + " is empty but counts " + N(e.count) + " records");
            else image.refusals.push_back({s.entryAt, what + " is empty but counts " + N(e.count) + " records"});
        }
        return;
    }
    uint64_t length = e.length;
    if (s.type == kGlobalType) length = std::min<uint64_t>(length, sizeof(GlobalSecurity));
    if (uint64_t{e.offset} + e.length > 0xFFFFFFFFull || uint64_t{e.offset} + length > file.size()) {
        const std::string why = what + " (" + N(e.length) + " bytes at " + N(e.offset) +
                                ") runs past the end of the file (" + N(file.size()) + " bytes)";
        if (!salvage) {
            image.refusals.push_back({s.entryAt, why});
            return;
        }
        if (e.offset >= file.size()) {
            image.losses.push_back({s.entryAt, why + "; nothing of it is left"});
            return;
        }
        length = std::min<uint64_t>(length, file.size() - e.offset);
        image.losses.push_back({file.size(), why + "; its bytes up to the end are read"});
    }
    const uint32_t n = static_cast<uint32_t>(length);
    switch (s.type) {
        case kAddressType: ReadRecords(image, s, file, n, image.address, salvage); break;
        case kGlobalType:
            std::memcpy(&image.global, file.data() + e.offset, std::min<uint32_t>(n, sizeof image.global));
            image.global.size = sizeof image.global;
            if (e.length < sizeof image.global)
                image.notes.push_back("the global section has " + N(e.length) +
                                      " of 296 bytes; the rest keep their defaults");
            break;
        case 2: ReadRecords(image, s, file, n, image.prefixes, salvage); break;
        case 3: ReadRecords(image, s, file, n, image.suffixes, salvage); break;
        case 4: ReadRecords(image, s, file, n, image.users, salvage); break;
        default: ReadRecords(image, s, file, n, image.folders, salvage); break;
    }
}

void PutEntry(std::vector<uint8_t>& out, size_t index, const kvi::DfDirectoryEntry& e) {
    std::memcpy(out.data() + kvi::kDfHeaderSize + kvi::kDfEntrySize * index, &e, sizeof e);
}

template <typename Record, typename Encode>
void PutRecords(std::vector<uint8_t>& out, std::vector<Record> records, Encode encode, uint32_t maximum,
                kvi::DfDirectoryEntry& e) {
    e.offset = static_cast<uint32_t>(out.size());
    e.count = static_cast<uint32_t>(records.size());
    std::vector<uint8_t> buffer(maximum);
    for (Record& r : records) {
        const uint32_t n = encode(r, buffer.data());
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    e.length = static_cast<uint32_t>(out.size() - e.offset);
}

[[noreturn]] void FileError(const std::string& what, const std::string& path, int error) {
    throw Failure(kFileError, "cannot " + what + " " + path + ": " + std::strerror(error));
}

}  // namespace

const std::vector<uint16_t>& SectionTypes(Book book) {
    static const std::vector<uint16_t> address{kAddressType}, security{1, 2, 3, 4, 5};
    return book == Book::kAddress ? address : security;
}

const char* SectionName(uint16_t type) {
    switch (type) {
        case kAddressType: return "address";
        case 1: return "global";
        case 2: return "prefix";
        case 3: return "suffix";
        case 4: return "user";
        case 5: return "folder";
        default: return "unknown";
    }
}

BookImage ReadBookImage(const std::vector<uint8_t>& file, Book book, bool salvage) {
    BookImage image;
    image.book = book;
    SetDefaults(image.global);
    if (file.size() < kvi::kDfHeaderSize) {
        image.refusals.push_back({file.size(), "the file ends inside the 44-byte header"});
        if (!salvage) return image;
    } else {
        std::memcpy(&image.header, file.data(), kvi::kDfHeaderSize);
    }
    const char* other = book == Book::kAddress ? kSecurityTag : kAddressTag;
    std::vector<kvi::DfDirectoryEntry> dir;
    bool tagged = false;
    if (file.size() >= kvi::kDfHeaderSize) {
        if (std::memcmp(image.header.bookTag, TagOf(book), 4) == 0) {
            tagged = true;
        } else if (std::memcmp(image.header.bookTag, other, 4) == 0) {
            image.refusals.push_back({6, std::string("this file is the ") +
                                             BookWord(book == Book::kAddress ? Book::kSecurity : Book::kAddress) +
                                             ", not the " + BookWord(book)});
        } else {
            image.refusals.push_back({6, std::string("the book tag is not the ") + BookWord(book) + "'s (" +
                                             TagOf(book) + "): this is not " + (book == Book::kAddress ? "an " : "a ") +
                                             BookWord(book)});
        }
    }
    if (tagged) {
        const uint64_t dirEnd = kvi::DfDataOffset(image.header.entryCount);
        if (dirEnd > file.size()) {
            image.refusals.push_back({file.size(), "the directory of " + N(image.header.entryCount) +
                                                       " entries runs past the end of the file"});
        } else {
            dir.resize(image.header.entryCount);
            if (!dir.empty()) std::memcpy(dir.data(), file.data() + kvi::kDfHeaderSize, dirEnd - kvi::kDfHeaderSize);
        }
    }
    if (image.Refused() && !salvage) return image;
    if (salvage && (!tagged || dir.empty())) {
        dir = GuessDirectory(file, book);
        image.notes.push_back("the directory was read without the header's help: " + N(dir.size()) + " entries");
        if (!tagged) {
            // Only the header's password survives a damaged header, if anything.
            image.header = kvi::DfHeader{};
        }
    }
    image.directory = dir;
    Bind(image, dir);
    for (uint16_t type : SectionTypes(book)) ReadSection(image, image.sections[type], file, salvage);
    return image;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) throw Failure(kFileError, path + " is a folder, not a file");
    std::ifstream in(path, std::ios::binary);
    if (!in) FileError("read", path, errno);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) FileError("read", path, errno);
    return bytes;
}

std::vector<uint8_t> ReadBookFile(Book book) {
    RequireBook(book);
    const std::string path = BookPath(book);
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw Failure(kNotABook, path + " is a folder, not the " + BookWord(book));
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Failure(kFailed, "cannot read the " + std::string(BookWord(book)) + " " + path + ": " +
                                   std::strerror(errno));
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::optional<BookImage> ReadIntactBook(Book book, const std::string& advice, bool sayWhere) {
    std::vector<uint8_t> bytes;
    try {
        bytes = ReadBookFile(book);
    } catch (const Failure& f) {
        if (f.Code() == kNoBook) return std::nullopt;
        throw;
    }
    BookImage image = ReadBookImage(bytes, book);
    if (image.Refused()) {
        const Problem& first = image.refusals.front();
        throw Failure(kDamaged, std::string("the ") + BookWord(book) + " is damaged (" + first.message +
                                    (sayWhere ? " at byte " + std::to_string(first.offset) : std::string()) +
                                    "); " + advice);
    }
    return image;
}

std::vector<uint8_t> EncodeBook(const BookImage& image) {
    const std::vector<uint16_t>& types = SectionTypes(image.book);
    const uint32_t dataOffset = kvi::DfDataOffset(static_cast<uint32_t>(types.size()));
    std::vector<uint8_t> out(dataOffset, 0);
    std::vector<kvi::DfDirectoryEntry> dir(types.size());
    for (size_t i = 0; i < types.size(); ++i) {
        dir[i].type = types[i];
        auto s = image.sections.find(types[i]);
        dir[i].lastId = s == image.sections.end() ? 0 : s->second.lastId;
    }
    if (image.book == Book::kAddress) {
        PutRecords(out, image.address, kvi::Encode, kvi::kMaxAddressEncoding, dir[0]);
    } else {
        dir[0].offset = dataOffset;
        dir[0].length = sizeof(GlobalSecurity);
        dir[0].count = 1;
        const auto* g = reinterpret_cast<const uint8_t*>(&image.global);
        out.insert(out.end(), g, g + sizeof(GlobalSecurity));
        PutRecords(out, image.prefixes, kvi::EncodeAffix, kvi::kMaxAffixRecord, dir[1]);
        PutRecords(out, image.suffixes, kvi::EncodeAffix, kvi::kMaxAffixRecord, dir[2]);
        PutRecords(out, image.users, kvi::EncodeUser, kvi::kMaxUserRecord, dir[3]);
        PutRecords(out, image.folders, kvi::EncodeFolder, kvi::kMaxFolderRecord, dir[4]);
    }
    kvi::DfHeader h{};
    h.headerSize = kvi::kDfHeaderSize;
    std::memcpy(h.commonTag, kCommonTag, 4);
    std::memcpy(h.bookTag, TagOf(image.book), 4);
    std::memcpy(h.version, kVersion, 4);
    h.entryCount = static_cast<uint16_t>(types.size());
    h.entrySize = kvi::kDfEntrySize;
    h.dataLength = static_cast<uint32_t>(out.size() - dataOffset);
    h.dataOffset = dataOffset;
    std::memcpy(h.password, image.header.password, sizeof h.password);
    h.password[sizeof h.password - 1] = '\0';
    h.passwordFlag = image.header.passwordFlag;
    std::memcpy(out.data(), &h, sizeof h);
    for (size_t i = 0; i < dir.size(); ++i) PutEntry(out, i, dir[i]);
    return out;
}

void PutBookFile(Book book, const std::vector<uint8_t>& bytes) {
    const std::string path = BookPath(book);
    std::vector<char> temp(path.size() + KVIO_TEMP_NAME_EXTRA + 1);
    uint32_t handle = KVIO_INVALID_HANDLE;
    // The security book holds passwords: a new one gives others nothing.
    const uint32_t flags = book == Book::kSecurity ? KVIO_CREATE_PRIVATE : 0;
    if (KvioCreateTemporary(path.c_str(), flags, &handle, temp.data(), static_cast<uint32_t>(temp.size())) != 0)
        FileError("write a file beside", path, errno);
    uint32_t written = 0;
    bool ok = bytes.empty() ||
              KvioWrite(handle, bytes.data(), static_cast<uint32_t>(bytes.size()), &written) == 0;
    int error = errno;
    if (KvioClose(handle) != 0 && ok) {
        ok = false;
        error = errno;
    }
    // KVIO_REPLACE_NOT_DURABLE: in place, only the folder not synced; a
    // commit of the library counts that as done too.
    if (ok && KvioReplace(temp.data(), path.c_str()) != KVIO_REPLACE_NOT_DONE) return;
    if (ok) error = errno;
    KvioDelete(temp.data());
    FileError(ok ? "replace" : "write", path, error);
}

void ReplaceFile(const std::string& path, const std::vector<uint8_t>& bytes, unsigned mode, bool keepMode) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_directory(path, ec)) throw Failure(kFileError, path + " is a folder, not a file");
    struct stat st;
    if (keepMode && stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
    const fs::path target(path);
    std::string temp = (target.parent_path() / ("." + target.filename().string() + ".kvidf-XXXXXX")).string();
    if (target.parent_path().empty()) temp = "." + target.filename().string() + ".kvidf-XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) FileError("write a file beside", path, errno);
    const std::string tempPath(name.data());
    auto fail = [&](const char* what) {
        const int error = errno;
        close(fd);
        unlink(tempPath.c_str());
        FileError(what, path, error);
    };
    if (fchmod(fd, static_cast<mode_t>(mode)) != 0) fail("set the mode of");
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail("write");
        done += static_cast<size_t>(n);
    }
    if (fsync(fd) != 0) fail("write");
    if (close(fd) != 0) {
        const int error = errno;
        unlink(tempPath.c_str());
        FileError("write", path, error);
    }
    if (rename(tempPath.c_str(), path.c_str()) != 0) {
        const int error = errno;
        unlink(tempPath.c_str());
        FileError("replace", path, error);
    }
    // The rename itself reaches the disk with the folder.
    const std::string folder = target.parent_path().empty() ? "." : target.parent_path().string();
    const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
}

}  // namespace kvidf
