// kvidf inspect FILE: reads a book file itself, without the library's
// exports, and shows the header, the directory and every record, with the
// byte offset of whatever would make the library refuse the file. The
// records are decoded by the library's own decoders (linked in from its
// sources), so what inspect reads is what an open reads.
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>

#include "address/address_record.h"
#include "commands.h"
#include "exit_codes.h"
#include "records.h"
#include "security/packed_records.h"
#include "session.h"
#include "storage/df_format.h"

namespace kvidf {

namespace {

constexpr char kAddressTag[] = "^*($";
constexpr char kSecurityTag[] = "^*%$";
constexpr uint16_t kAddressSection = 100;

std::string Tag(const char (&t)[4]) {
    std::string s;
    for (char c : t) {
        if (c >= 0x20 && c < 0x7F) s += c;
        else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
            s += hex;
        }
    }
    return s;
}

// A directory entry in plain (aligned) fields: the packed ones cannot be
// bound to references, as std::min and the JSON builder do.
struct Entry {
    uint16_t type;
    uint32_t length, count, offset, lastId;
};

class Report {
public:
    void Damage(uint64_t offset, const std::string& what) {
        damage_.push_back({{"offset", offset}, {"message", what}});
        text_ += "DAMAGE at byte " + std::to_string(offset) + ": " + what + "\n";
    }
    void Note(const std::string& what) {
        notes_.push_back(what);
        text_ += "note: " + what + "\n";
    }
    void Line(const std::string& line) { text_ += line + "\n"; }
    bool Damaged() const { return !damage_.empty(); }
    json& Out() { return out_; }
    void Finish() {
        out_["damage"] = damage_;
        out_["notes"] = notes_;
        if (damage_.empty()) text_ += "no damage found\n";
        Print(out_, text_);
    }

private:
    json out_ = json::object();
    json damage_ = json::array();
    json notes_ = json::array();
    std::string text_;
};

// The records of one section: decode is the library's decoder of that
// section, which answers 0 for bytes that are not a record.
template <typename Record, typename Decode>
json Records(Report& report, const std::vector<uint8_t>& file, const Entry& e, Decode decode) {
    json records = json::array();
    const uint8_t* section = file.data() + e.offset;
    uint32_t at = 0;
    for (uint32_t i = 0; i < e.count; ++i) {
        const uint64_t where = uint64_t{e.offset} + at;
        if (at >= e.length) {
            report.Damage(where, "section type " + std::to_string(e.type) + " ends after " + std::to_string(i) +
                                     " of its " + std::to_string(e.count) + " records");
            return records;
        }
        Record r{};
        const uint32_t used = decode(r, section + at, e.length - at);
        if (used == 0) {
            uint32_t length = 0;
            std::memcpy(&length, section + at, std::min<uint32_t>(4, e.length - at));
            report.Damage(where, "record " + std::to_string(i + 1) + " of section type " + std::to_string(e.type) +
                                     " is not a record (its length word says " + std::to_string(length) +
                                     ", the section has " + std::to_string(e.length - at) + " bytes left)");
            return records;
        }
        json j = ToJson(r);
        j["at"] = where;
        j["encoded_length"] = used;
        records.push_back(j);
        report.Line("  @" + std::to_string(where) + "  " + ToText(r));
        at += used;
    }
    if (at < e.length)
        report.Note("section type " + std::to_string(e.type) + ": " + std::to_string(e.length - at) +
                    " bytes after its last record are not read");
    return records;
}

void InspectSection(Report& report, const std::vector<uint8_t>& file, const Entry& e, bool address,
                    json& sections) {
    json s{{"type", e.type}};
    if (address) {
        s["records"] = Records<AddressRecord>(report, file, e, kvi::Decode);
    } else if (e.type == 1) {
        // One raw GlobalSecurity; a shorter section leaves the defaults.
        GlobalSecurity g{};
        std::memcpy(&g, file.data() + e.offset, std::min<uint32_t>(e.length, sizeof g));
        if (e.length < sizeof g)
            report.Note("the global section has " + std::to_string(e.length) + " of 296 bytes; the rest keep their defaults");
        s["global"] = ToJson(g);
        report.Line(ToText(g));
    } else if (e.type == 2 || e.type == 3) {
        s["records"] = Records<AffixEntry>(report, file, e, kvi::DecodeAffix);
    } else if (e.type == 4) {
        s["records"] = Records<SecurityEntry>(report, file, e, kvi::DecodeUser);
    } else {
        s["records"] = Records<FolderSecurityEntry>(report, file, e, kvi::DecodeFolder);
    }
    sections.push_back(s);
}

int Inspect(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure(kFileError, "cannot read " + path);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Report report;
    report.Out()["file"] = path;
    report.Out()["size"] = file.size();
    report.Line(path + ": " + std::to_string(file.size()) + " bytes");
    if (file.size() < kvi::kDfHeaderSize) {
        report.Damage(file.size(), "the file ends inside the 44-byte header");
        report.Finish();
        return kDamaged;
    }
    kvi::DfHeader h;
    std::memcpy(&h, file.data(), sizeof h);
    const bool address = std::memcmp(h.bookTag, kAddressTag, 4) == 0;
    const bool security = std::memcmp(h.bookTag, kSecurityTag, 4) == 0;
    const std::string password = FieldText(h.password);
    report.Out()["book"] = address ? "address" : security ? "security" : "unknown";
    report.Out()["header"] = {{"header_size", uint16_t{h.headerSize}},   {"common_tag", Tag(h.commonTag)},
                              {"book_tag", Tag(h.bookTag)},     {"version", Tag(h.version)},
                              {"entry_count", uint16_t{h.entryCount}}, {"entry_size", uint16_t{h.entrySize}},
                              {"data_length", uint32_t{h.dataLength}}, {"data_offset", uint32_t{h.dataOffset}},
                              {"password", password},           {"password_flag", uint16_t{h.passwordFlag}}};
    report.Line("header: size " + std::to_string(h.headerSize) + ", tags \"" + Tag(h.commonTag) + "\" \"" +
                Tag(h.bookTag) + "\" (" + (address ? "address book" : security ? "security book" : "unknown") +
                "), version \"" + Tag(h.version) + "\", " + std::to_string(h.entryCount) + " directory entries of " +
                std::to_string(h.entrySize) + " bytes, data length " + std::to_string(h.dataLength) +
                ", data offset " + std::to_string(h.dataOffset) + ", password \"" + password + "\" (flag " +
                std::to_string(h.passwordFlag) + ")");
    if (!address && !security) {
        report.Damage(6, "the book tag \"" + Tag(h.bookTag) + "\" is neither the address book's (" + kAddressTag +
                             ") nor the security book's (" + kSecurityTag + "): this is not a book");
        report.Finish();
        return kNotABook;
    }

    json directory = json::array();
    std::vector<Entry> entries;
    for (uint32_t i = 0; i < h.entryCount; ++i) {
        const uint64_t at = kvi::kDfHeaderSize + uint64_t{kvi::kDfEntrySize} * i;
        if (at + kvi::kDfEntrySize > file.size()) {
            report.Damage(at, "directory entry " + std::to_string(i) + " of " + std::to_string(h.entryCount) +
                                  " runs past the end of the file");
            break;
        }
        kvi::DfDirectoryEntry raw;
        std::memcpy(&raw, file.data() + at, sizeof raw);
        const Entry e{raw.type, raw.length, raw.count, raw.offset, raw.lastId};
        entries.push_back(e);
        directory.push_back({{"at", at}, {"type", e.type}, {"length", e.length}, {"count", e.count},
                             {"offset", e.offset}, {"last_id", e.lastId}});
        report.Line("directory[" + std::to_string(i) + "] @" + std::to_string(at) + ": type " +
                    std::to_string(e.type) + ", " + std::to_string(e.count) + " records, " +
                    std::to_string(e.length) + " bytes at " + std::to_string(e.offset) + ", last id " +
                    std::to_string(e.lastId));
    }
    report.Out()["directory"] = directory;

    const std::set<uint16_t> known = address ? std::set<uint16_t>{kAddressSection} : std::set<uint16_t>{1, 2, 3, 4, 5};
    // The library reads the last entry of each type it knows.
    std::map<uint16_t, size_t> bound;
    for (size_t i = 0; i < entries.size(); ++i)
        if (known.count(entries[i].type)) {
            if (bound.count(entries[i].type))
                report.Note("type " + std::to_string(entries[i].type) + " appears more than once; the last entry is read");
            bound[entries[i].type] = i;
        } else {
            report.Note("directory entry " + std::to_string(i) + " has type " + std::to_string(entries[i].type) +
                        ", which this book does not read");
        }
    json sections = json::array();
    uint64_t dataEnd = kvi::DfDataOffset(h.entryCount);
    for (const auto& [type, index] : bound) {
        const Entry& e = entries[index];
        const uint64_t at = kvi::kDfHeaderSize + uint64_t{kvi::kDfEntrySize} * index;
        if (e.length == 0) {
            if (e.count != 0)
                report.Note("section type " + std::to_string(type) + " is empty but counts " + std::to_string(e.count) +
                            " records; an open reads none");
            continue;
        }
        if (uint64_t{e.offset} + e.length > file.size()) {
            report.Damage(at, "section type " + std::to_string(type) + " (" + std::to_string(e.length) +
                                  " bytes at " + std::to_string(e.offset) + ") runs past the end of the file (" +
                                  std::to_string(file.size()) + " bytes)");
            continue;
        }
        dataEnd = std::max<uint64_t>(dataEnd, uint64_t{e.offset} + e.length);
        report.Line("section type " + std::to_string(type) + ":");
        InspectSection(report, file, e, address, sections);
    }
    report.Out()["sections"] = sections;
    if (dataEnd - kvi::DfDataOffset(h.entryCount) != uint32_t{h.dataLength})
        report.Note("the header's data length " + std::to_string(h.dataLength) + " differs from the sections' " +
                    std::to_string(dataEnd - kvi::DfDataOffset(h.entryCount)) + " bytes (never checked on open)");
    const bool damaged = report.Damaged();
    report.Finish();
    return damaged ? kDamaged : kOk;
}

}  // namespace

void AddInspectCommand(CLI::App& app) {
    auto path = std::make_shared<std::string>();
    CLI::App* cmd = app.add_subcommand("inspect", "show a book file's header, directory and records, and its damage");
    cmd->add_option("FILE", *path, "a book file (MERIDOX.PBK or MERIDOX.PWD)")->required();
    OnRun(cmd, [path] {
        const int code = Inspect(*path);
        if (code != kOk)
            throw Failure(static_cast<Exit>(code), code == kNotABook ? *path + " is not a book" : *path + " is damaged",
                          true);
    });
}

}  // namespace kvidf
