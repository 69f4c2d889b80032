// kvidf backup [--output FILE]; kvidf restore FILE|- [--force]
// A backup is both books whole, as JSON: every record with its id, each
// section's lastId, both headers' passwords and flags, and every byte of
// the global record that a book keeps. It is read from the files as an
// open reads them, with no lock and no pruning; a restore writes exactly
// those books back, through the library's codecs, under both locks, each
// file replaced in one rename as a commit replaces it (mode and owner
// kept). Restore, then backup, gives the same JSON.
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>

#include "book_image.h"
#include "commands.h"
#include "exit_codes.h"
#include "records.h"
#include "session.h"
#include "text_1252.h"

namespace kvidf {

namespace {

constexpr const char* kFormat = "kvidf-backup";
constexpr int kFormatVersion = 1;

std::string Hex(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) s += digits[p[i] >> 4], s += digits[p[i] & 15];
    return s;
}

bool Unhex(const std::string& s, std::vector<uint8_t>& out) {
    if (s.size() % 2) return false;
    out.clear();
    for (size_t i = 0; i < s.size(); i += 2) {
        auto v = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
        const int hi = v(s[i]), lo = v(s[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return true;
}

json GlobalJson(const GlobalSecurity& g) {
    // The password is the text at the start of the area; what follows its
    // NUL is kept byte for byte.
    size_t n = 0;
    while (n < sizeof g.password && g.password[n] != '\0') ++n;
    const auto* area = reinterpret_cast<const uint8_t*>(g.password);
    const size_t rest = n < sizeof g.password ? n + 1 : n;
    return json{{"mode", uint32_t{g.mode}},
                {"flags", uint32_t{g.flags}},
                {"password", Utf8From1252(std::string(g.password, n))},
                {"password_area_rest", Hex(area + rest, sizeof g.password - rest)},
                {"extra_word1", uint16_t{g.extraWord1}},
                {"extra_word2", uint16_t{g.extraWord2}},
                {"reserved", Hex(reinterpret_cast<const uint8_t*>(g.reserved), sizeof g.reserved)}};
}

json BookJson(const BookImage& image) {
    json out{{"password", Utf8Field(image.header.password, sizeof image.header.password)},
             {"password_flag", uint16_t{image.header.passwordFlag}}};
    if (image.book == Book::kAddress) {
        out["last_id"] = image.sections.at(100).lastId;
        out["entries"] = Entries(image.address);
        return out;
    }
    out["global"] = GlobalJson(image.global);
    out["prefixes"] = {{"last_id", image.sections.at(2).lastId}, {"entries", Entries(image.prefixes)}};
    out["suffixes"] = {{"last_id", image.sections.at(3).lastId}, {"entries", Entries(image.suffixes)}};
    out["users"] = {{"last_id", image.sections.at(4).lastId}, {"entries", Entries(image.users)}};
    out["folders"] = {{"last_id", image.sections.at(5).lastId}, {"entries", Entries(image.folders)}};
    return out;
}

// A book the library would refuse cannot be backed up faithfully: kvidf
// recover salvages it.
constexpr const char* kDamagedAdvice = "kvidf recover can salvage its records into a new book";

void Backup(const std::string& output) {
    std::optional<BookImage> address = ReadIntactBook(Book::kAddress, kDamagedAdvice, true);
    std::optional<BookImage> security = ReadIntactBook(Book::kSecurity, kDamagedAdvice, true);
    if (!address && !security) throw Failure(kNoBook, "no book yet: there is nothing to back up");
    json out{{"format", kFormat}, {"version", kFormatVersion}};
    out["address"] = address ? BookJson(*address) : json(nullptr);
    out["security"] = security ? BookJson(*security) : json(nullptr);
    const std::string text = Dump(out) + "\n";
    if (output.empty() || output == "-") {
        std::cout << text;
        return;
    }
    // It holds every password: readable by its owner only.
    ReplaceFile(output, std::vector<uint8_t>(text.begin(), text.end()), 0600, false);
    Print(json{{"written", output}}, "both books written to " + output);
}

// ---- restore ----

[[noreturn]] void Bad(const std::string& where, const std::string& why) {
    throw Failure(kFileError, "the backup's " + where + " " + why);
}

void OnlyKeys(const json& j, const std::string& where, std::initializer_list<const char*> keys) {
    if (!j.is_object()) Bad(where, "is not an object");
    for (const auto& item : j.items()) {
        bool known = false;
        for (const char* k : keys) known = known || item.key() == k;
        if (!known) Bad(where, "has an unknown field \"" + item.key() + "\"");
    }
    for (const char* k : keys)
        if (!j.contains(k)) Bad(where, std::string("lacks its field \"") + k + "\"");
}

template <typename T>
T Number(const json& j, const char* key, const std::string& where) {
    const json& v = j.at(key);
    if (!v.is_number_unsigned() || v.get<uint64_t>() > static_cast<T>(-1))
        Bad(where + "." + key, "is not a number from 0 to " + std::to_string(static_cast<T>(-1)));
    return v.get<T>();
}

void HeaderFrom(const json& j, BookImage& image, const std::string& where) {
    std::string why;
    const auto password = Utf8To1252(j.at("password").is_string() ? j.at("password").get<std::string>() : "", &why);
    if (!j.at("password").is_string() || !password) Bad(where + ".password", j.at("password").is_string() ? why : "is not a text");
    if (password->size() > 15) Bad(where + ".password", "is longer than 15 characters");
    std::memcpy(image.header.password, password->data(), password->size());
    image.header.passwordFlag = Number<uint16_t>(j, "password_flag", where);
}

template <typename Record>
void TableFrom(const json& j, std::vector<Record>& records, SectionRead& s, const std::string& where) {
    OnlyKeys(j, where, {"last_id", "entries"});
    s.lastId = Number<uint32_t>(j, "last_id", where);
    if (!j.at("entries").is_array()) Bad(where + ".entries", "is not an array");
    for (const json& e : j.at("entries")) {
        Record r{};
        FromJson(e, r);
        if (!e.contains("id")) Bad(where + ".entries", "has an entry without its id");
        r.id = Number<uint32_t>(e, "id", where + ".entries");
        if (r.id == 0 || r.id == 0xFFFFFFFFu) Bad(where + ".entries", "has an entry with id " + std::to_string(r.id));
        records.push_back(r);
    }
}

BookImage AddressFrom(const json& j) {
    BookImage image;
    image.book = Book::kAddress;
    OnlyKeys(j, "address", {"password", "password_flag", "last_id", "entries"});
    HeaderFrom(j, image, "address");
    SectionRead& s = image.sections[100];
    s.type = 100;
    TableFrom(json{{"last_id", j.at("last_id")}, {"entries", j.at("entries")}}, image.address, s, "address");
    return image;
}

void GlobalFrom(const json& j, GlobalSecurity& g) {
    OnlyKeys(j, "security.global",
             {"mode", "flags", "password", "password_area_rest", "extra_word1", "extra_word2", "reserved"});
    std::memset(&g, 0, sizeof g);
    g.size = sizeof g;
    g.mode = Number<uint32_t>(j, "mode", "security.global");
    g.flags = Number<uint32_t>(j, "flags", "security.global");
    g.extraWord1 = Number<uint16_t>(j, "extra_word1", "security.global");
    g.extraWord2 = Number<uint16_t>(j, "extra_word2", "security.global");
    std::string why;
    const json& p = j.at("password");
    const auto password = p.is_string() ? Utf8To1252(p.get<std::string>(), &why) : std::nullopt;
    if (!password) Bad("security.global.password", p.is_string() ? why : "is not a text");
    std::vector<uint8_t> rest, reserved;
    if (!j.at("password_area_rest").is_string() || !Unhex(j.at("password_area_rest").get<std::string>(), rest))
        Bad("security.global.password_area_rest", "is not hexadecimal bytes");
    if (!j.at("reserved").is_string() || !Unhex(j.at("reserved").get<std::string>(), reserved) ||
        reserved.size() != sizeof g.reserved)
        Bad("security.global.reserved", "is not 4 hexadecimal bytes");
    const size_t text = password->size() + (password->size() < sizeof g.password ? 1 : 0);
    if (password->find('\0') != std::string::npos || text + rest.size() != sizeof g.password)
        Bad("security.global", "password and password_area_rest do not make the 276 bytes of the area");
    std::memcpy(g.password, password->data(), password->size());
    std::memcpy(reinterpret_cast<uint8_t*>(g.password) + text, rest.data(), rest.size());
    std::memcpy(g.reserved, reserved.data(), reserved.size());
}

BookImage SecurityFrom(const json& j) {
    BookImage image;
    image.book = Book::kSecurity;
    OnlyKeys(j, "security", {"password", "password_flag", "global", "prefixes", "suffixes", "users", "folders"});
    HeaderFrom(j, image, "security");
    GlobalFrom(j.at("global"), image.global);
    for (uint16_t t = 1; t <= 5; ++t) image.sections[t].type = t;
    TableFrom(j.at("prefixes"), image.prefixes, image.sections[2], "security.prefixes");
    TableFrom(j.at("suffixes"), image.suffixes, image.sections[3], "security.suffixes");
    TableFrom(j.at("users"), image.users, image.sections[4], "security.users");
    TableFrom(j.at("folders"), image.folders, image.sections[5], "security.folders");
    return image;
}

// Whether the book in place holds anything a restore would lose.
bool HoldsSomething(Book book) {
    std::vector<uint8_t> bytes;
    try {
        bytes = ReadBookFile(book);
    } catch (const Failure& f) {
        if (f.Code() == kNoBook) return false;
        throw;
    }
    const BookImage image = ReadBookImage(bytes, book);
    if (image.Refused()) return true;  // damaged: overwriting it is a decision
    return !image.address.empty() || !image.users.empty() || !image.prefixes.empty() || !image.suffixes.empty() ||
           !image.folders.empty() || image.header.passwordFlag != 0;
}

void Restore(const std::string& path, bool force) {
    json in;
    try {
        in = path == "-" ? json::parse(std::cin) : [&] {
            const std::vector<uint8_t> bytes = ReadFileBytes(path);
            return json::parse(bytes.begin(), bytes.end());
        }();
    } catch (const json::parse_error& e) {
        throw Failure(kFileError, (path == "-" ? std::string("standard input") : path) + " is not valid JSON: " + e.what());
    }
    OnlyKeys(in, "top level", {"format", "version", "address", "security"});
    if (in["format"] != kFormat) Bad("format", "is not \"" + std::string(kFormat) + "\": this is not a kvidf backup");
    if (in["version"] != kFormatVersion) Bad("version", "is not " + std::to_string(kFormatVersion));
    // Everything is checked before a lock is taken or a file written.
    std::optional<BookImage> address, security;
    if (!in["address"].is_null()) address = AddressFrom(in["address"]);
    if (!in["security"].is_null()) security = SecurityFrom(in["security"]);
    if (!address && !security) Bad("books", "are both missing");

    Library lib;
    try {
        RequireBook(Book::kAddress);  // the folder must exist; a missing book is made here
    } catch (const Failure& f) {
        if (f.Code() != kNoBook) throw;
    }
    // Both locks, address book first as every change takes them; no book is
    // opened in this process, so the unlocks commit nothing over our files.
    BookLock addressLock(Book::kAddress);
    BookLock securityLock(Book::kSecurity);
    std::vector<std::pair<Book, std::vector<uint8_t>>> files;
    for (const std::optional<BookImage>* image : {&address, &security}) {
        if (!*image) continue;
        const Book book = (*image)->book;
        if (!force && HoldsSomething(book))
            throw Failure(kFailed, std::string("the ") + BookWord(book) +
                                       " holds entries (or a password, or is damaged); restore --force replaces it");
        std::vector<uint8_t> bytes = EncodeBook(**image);
        if (ReadBookImage(bytes, book).Refused())
            throw Failure(kFailed, std::string("the ") + BookWord(book) + " made from the backup would not open");
        files.emplace_back(book, std::move(bytes));
    }
    json out = json::object();
    std::string text;
    for (const auto& [book, bytes] : files) {
        PutBookFile(book, bytes);
        const BookImage& image = book == Book::kAddress ? *address : *security;
        const std::string key = book == Book::kAddress ? "address" : "security";
        if (book == Book::kAddress) {
            out[key] = {{"entries", image.address.size()}};
            text += "address book restored: " + std::to_string(image.address.size()) + " entries\n";
        } else {
            out[key] = {{"users", image.users.size()}, {"prefixes", image.prefixes.size()},
                        {"suffixes", image.suffixes.size()}, {"folders", image.folders.size()}};
            text += "security book restored: " + std::to_string(image.users.size()) + " users, " +
                    std::to_string(image.prefixes.size()) + " prefixes, " + std::to_string(image.suffixes.size()) +
                    " suffixes, " + std::to_string(image.folders.size()) + " folder entries, the global settings\n";
        }
    }
    Print(out, text);
}

}  // namespace

void AddBackupCommands(CLI::App& app) {
    auto output = std::make_shared<std::string>();
    CLI::App* backup = app.add_subcommand("backup", "write both books whole as JSON (ids, passwords, settings)");
    backup->add_option("--output", *output, "file to write (mode 0600; default: standard output)");
    OnRun(backup, [output] { Backup(*output); });

    struct RestoreArgs {
        std::string file;
        bool force = false;
    };
    auto args = std::make_shared<RestoreArgs>();
    CLI::App* restore = app.add_subcommand("restore", "put the books of a backup in place, exactly as backed up");
    restore->add_option("FILE", args->file, "a file written by kvidf backup, or - for standard input")->required();
    restore->add_flag("--force", args->force, "overwrite books that hold entries");
    OnRun(restore, [args] { Restore(args->file, args->force); });
}

}  // namespace kvidf
