// kvidf inspect FILE: reads a book file itself, without the library's
// exports, and shows the header, the directory and every readable record,
// with the byte offset of whatever would make the library refuse the file
// (as kvidf check finds it). The records are decoded by the library's own
// decoders (linked in from its sources), so what inspect reads is what an
// open reads.
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>

#include "book_image.h"
#include "commands.h"
#include "exit_codes.h"
#include "records.h"
#include "session.h"
#include "storage/df_format.h"

namespace kvidf {

namespace {

constexpr char kAddressTag[] = "^*($";
constexpr char kSecurityTag[] = "^*%$";

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

// The records of one section as salvage reads them: the intact records of
// a section cut short, and those after a record that is not one.
template <typename Record>
json Records(Report& report, const SectionRead& section, const std::vector<Record>& records) {
    json out = json::array();
    for (size_t i = 0; i < records.size() && i < section.at.size(); ++i) {
        json j = ToJson(records[i]);
        j["at"] = section.at[i];
        out.push_back(j);
        report.Line("  @" + std::to_string(section.at[i]) + "  " + ToText(records[i]));
    }
    return out;
}

void InspectSections(Report& report, const std::vector<uint8_t>& file, Book book) {
    // What an open refuses is damage; salvage shows every readable record.
    const BookImage strict = ReadBookImage(file, book);
    for (const Problem& p : strict.refusals) report.Damage(p.offset, p.message);
    const BookImage image = ReadBookImage(file, book, true);
    for (const Problem& p : image.losses) report.Note("at byte " + std::to_string(p.offset) + ": " + p.message);
    for (const std::string& n : strict.notes) report.Note(n);
    json sections = json::array();
    for (const auto& [type, s] : image.sections) {
        json j{{"type", type}, {"name", SectionName(type)}, {"last_id", s.lastId}};
        report.Line(std::string(SectionName(type)) + " section (type " + std::to_string(type) + "):");
        switch (type) {
            case 100: j["records"] = Records(report, s, image.address); break;
            case 1:
                j["global"] = ToJson(image.global);
                report.Line(ToText(image.global));
                break;
            case 2: j["records"] = Records(report, s, image.prefixes); break;
            case 3: j["records"] = Records(report, s, image.suffixes); break;
            case 4: j["records"] = Records(report, s, image.users); break;
            default: j["records"] = Records(report, s, image.folders); break;
        }
        sections.push_back(j);
    }
    report.Out()["sections"] = sections;
}

int Inspect(const std::string& path, const std::string& given) {
    const std::vector<uint8_t> file = ReadFileBytes(path);
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
    if (!address && !security && given.empty()) {
        report.Damage(6, "the book tag \"" + Tag(h.bookTag) + "\" is neither the address book's (" + kAddressTag +
                             ") nor the security book's (" + kSecurityTag +
                             "): this is not a book (--book reads it as one all the same)");
        report.Finish();
        return kNotABook;
    }
    // --book names the book of a file whose header is gone.
    const Book book = given == "address" ? Book::kAddress
                      : given == "security" ? Book::kSecurity
                      : address ? Book::kAddress
                                : Book::kSecurity;

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

    InspectSections(report, file, book);
    const bool damaged = report.Damaged();
    report.Finish();
    return damaged ? kDamaged : kOk;
}

}  // namespace

void AddInspectCommand(CLI::App& app) {
    auto path = std::make_shared<std::string>();
    auto book = std::make_shared<std::string>();
    CLI::App* cmd = app.add_subcommand("inspect", "show a book file's header, directory and records, and its damage");
    cmd->add_option("FILE", *path, "a book file (MERIDOX.PBK or MERIDOX.PWD)")->required();
    cmd->add_option("--book", *book, "address or security: read the file as that book whatever its header says")
        ->check(CLI::IsMember({"address", "security"}));
    OnRun(cmd, [path, book] {
        const int code = Inspect(*path, *book);
        if (code != kOk)
            throw Failure(static_cast<Exit>(code), code == kNotABook ? *path + " is not a book" : *path + " is damaged",
                          true);
    });
}

}  // namespace kvidf
