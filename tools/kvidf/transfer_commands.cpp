// kvidf export [address|security|all] [--output FILE]
// kvidf import FILE|-
// The JSON of export is what import reads: "address" (entries), "users",
// "prefixes", "suffixes", "folders" (arrays) and "global" (an object,
// exported only: import adds entries and changes no settings).
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <set>

#include "book_image.h"
#include "commands.h"
#include "exit_codes.h"
#include "lists.h"
#include "records.h"
#include "session.h"

namespace kvidf {

namespace {

// Export reads the files as an open reads them: no lock, nothing pruned
// (every folder entry, also one whose folder is absent now), nothing made.
// A book the library would refuse is not exported.
constexpr const char* kDamagedAdvice = "kvidf check tells more";

// What happened to the entries of one table; every entry not added is
// named.
struct Outcome {
    int added = 0;
    json duplicates = json::array();
    json full = json::array();
    json ToJson() const { return json{{"added", added}, {"duplicates", duplicates}, {"full", full}}; }
};

template <typename Record>
std::vector<Record> Convert(const json& in, const char* key) {
    std::vector<Record> records;
    if (!in.contains(key)) return records;
    if (in[key].is_null()) return records;
    if (!in[key].is_array()) throw Failure(kFileError, std::string("\"") + key + "\" is not an array");
    for (const json& j : in[key]) {
        Record r{};
        FromJson(j, r);
        records.push_back(r);
    }
    return records;
}

// Adds each record with add (1 added, 2 full, 3 duplicate); name gives the
// text by which a duplicate is reported.
template <typename Record, typename Add, typename Name>
Outcome AddAll(std::vector<Record>& records, Add add, Name name) {
    Outcome o;
    for (Record& r : records) {
        const int32_t result = add(r);
        if (result == 1) ++o.added;
        else if (result == 2) o.full.push_back(name(r));
        else if (result == 3) o.duplicates.push_back(name(r));
        else throw Failure(kFailed, "the library refused an entry (result " + std::to_string(result) + ")");
    }
    return o;
}

std::string Summary(const char* table, const Outcome& o) {
    std::string line = std::string(table) + ": " + std::to_string(o.added) + " added";
    if (!o.duplicates.empty()) {
        line += ", " + std::to_string(o.duplicates.size()) + " duplicates skipped (";
        for (size_t i = 0; i < o.duplicates.size(); ++i) line += (i ? ", " : "") + o.duplicates[i].get<std::string>();
        line += ")";
    }
    if (!o.full.empty()) {
        line += ", " + std::to_string(o.full.size()) + " not added: the table is full (800 entries) (";
        for (size_t i = 0; i < o.full.size(); ++i) line += (i ? ", " : "") + o.full[i].get<std::string>();
        line += ")";
    }
    return line + "\n";
}

void ImportObject(const json& in, const std::string& name);

void Import(const std::string& path) {
    const std::string name = path == "-" ? "standard input" : path;
    json in;
    try {
        if (path == "-") {
            in = json::parse(std::cin);
        } else {
            const std::vector<uint8_t> bytes = ReadFileBytes(path);
            in = json::parse(bytes.begin(), bytes.end());
        }
    } catch (const json::parse_error& e) {
        throw Failure(kFileError, name + " is not valid JSON: " + e.what());
    }
    ImportObject(in, name);
}

void ImportObject(const json& in, const std::string& name) {
    if (!in.is_object()) throw Failure(kFileError, name + " does not hold an object");
    // A misspelt table would otherwise be skipped without a word.
    for (const auto& item : in.items())
        if (item.key() != "address" && item.key() != "users" && item.key() != "prefixes" &&
            item.key() != "suffixes" && item.key() != "folders" && item.key() != "global")
            throw Failure(kFileError, name + ": \"" + item.key() +
                                          "\" is not a table kvidf imports (address, users, prefixes, suffixes, "
                                          "folders; global is left as it is)");
    // Every entry is checked before any book is touched.
    auto address = Convert<AddressRecord>(in, "address");
    auto users = Convert<SecurityEntry>(in, "users");
    auto prefixes = Convert<AffixEntry>(in, "prefixes");
    auto suffixes = Convert<AffixEntry>(in, "suffixes");
    auto folders = Convert<FolderSecurityEntry>(in, "folders");
    const bool security = in.contains("users") || in.contains("prefixes") || in.contains("suffixes") ||
                          in.contains("folders");

    Library lib;
    json out = json::object();
    std::string text;
    bool anyFull = false;
    auto report = [&](const char* key, const Outcome& o) {
        out[key] = o.ToJson();
        text += Summary(key, o);
        anyFull = anyFull || !o.full.empty();
    };
    // Both locks are taken before anything is added, address book first.
    std::optional<Change> addressBook, securityBook;
    if (in.contains("address")) addressBook.emplace(Book::kAddress);
    if (security) securityBook.emplace(Book::kSecurity);
    if (addressBook) {
        // Modem entries never count as duplicates in the book; import also
        // skips an entry equal in every field to one the book holds, so
        // importing a file twice adds nothing.
        std::set<std::string> held;
        auto fields = [](json j) {
            j.erase("id");
            return j.dump();
        };
        for (const AddressRecord& r : ListItems(KviDfCreateAddressList(), KviDfAddressListCount,
                                                KviDfAddressListItem, KviDfDestroyAddressList, "a list"))
            held.insert(fields(ToJson(r)));
        report("address", AddAll(
                              address,
                              [&](AddressRecord& r) {
                                  if (!held.insert(fields(ToJson(r))).second) return 3;
                                  return KviDfAddAddress(&r, 0, nullptr);
                              },
                              [](const AddressRecord& r) {
                                  return "\"" + FieldText(r.name) + "\" at \"" + FieldText(r.address) + "\" (" +
                                         ConnectionTypeName(r.connectionType) + ")";
                              }));
        Commit(Book::kAddress);
    }
    if (securityBook) {
        report("users", AddAll(
                            users, [](SecurityEntry& r) { return KviDfAddSecurityEntry(&r, 0, nullptr); },
                            [](const SecurityEntry& r) { return FieldText(r.name); }));
        auto affixName = [](const AffixEntry& r) { return FieldText(r.name); };
        report("prefixes", AddAll(
                               prefixes, [](AffixEntry& r) { return KviDfAddPrefixEntry(&r, 0, nullptr); }, affixName));
        report("suffixes", AddAll(
                               suffixes, [](AffixEntry& r) { return KviDfAddSuffixEntry(&r, 0, nullptr); }, affixName));
        // The book has no rule against two entries of one folder; import
        // skips a path the book holds already, so importing twice adds
        // nothing. The paths come from the file, which under the lock is the
        // book as opened: the folder list would prune, under our lock, the
        // entries whose folder is absent now.
        std::set<std::string> paths;
        for (const FolderSecurityEntry& f : ReadBookImage(ReadBookFile(Book::kSecurity), Book::kSecurity).folders)
            paths.insert(FieldText(f.path));
        report("folders", AddAll(
                              folders,
                              [&paths](FolderSecurityEntry& r) {
                                  if (!paths.insert(FieldText(r.path)).second) return 3;
                                  return AddFolderSecurityEntry(&r, 0, nullptr);
                              },
                              [](const FolderSecurityEntry& r) { return FieldText(r.path); }));
        Commit(Book::kSecurity);
    }
    if (anyFull) out["error"] = ExitCodeName(kFull);
    Print(out, text.empty() ? "nothing to import" : text);
    if (anyFull) throw Failure(kFull, "some entries were not added: a table is full (800 entries)", true);
}

}  // namespace

json ReadForCsv() {
    std::optional<BookImage> address = ReadIntactBook(Book::kAddress, kDamagedAdvice);
    if (!address) throw Failure(kNoBook, "no address book yet: there is nothing to export");
    return Entries(address->address);
}

void ImportEntries(const json& entries, const std::string& name) { ImportObject(json{{"address", entries}}, name); }

void AddTransferCommands(CLI::App& app) {
    struct ExportArgs {
        std::string book = "all";
        std::string output;
    };
    auto args = std::make_shared<ExportArgs>();
    CLI::App* exp = app.add_subcommand("export", "write a whole book as JSON (to standard output or --output)");
    exp->add_option("BOOK", args->book, "address, security or all (default)")
        ->check(CLI::IsMember({"address", "security", "all"}));
    exp->add_option("--output", args->output, "file to write");
    OnRun(exp, [args] {
        json out = json::object();
        std::optional<BookImage> address, security;
        if (args->book != "security") address = ReadIntactBook(Book::kAddress, kDamagedAdvice);
        if (args->book != "address") security = ReadIntactBook(Book::kSecurity, kDamagedAdvice);
        if (!address && !security) throw Failure(kNoBook, "no book yet: there is nothing to export");
        if (address) out["address"] = Entries(address->address);
        if (security) {
            out["users"] = Entries(security->users);
            out["prefixes"] = Entries(security->prefixes);
            out["suffixes"] = Entries(security->suffixes);
            out["folders"] = Entries(security->folders);
            out["global"] = ToJson(security->global);
        }
        const std::string text = Dump(out) + "\n";
        if (args->output.empty() || args->output == "-") {
            std::cout << text;
            return;
        }
        // The old file stays until the new one is whole; it holds passwords.
        ReplaceFile(args->output, std::vector<uint8_t>(text.begin(), text.end()), 0600, false);
        Print(json{{"written", args->output}}, "written to " + args->output);
    });

    auto file = std::make_shared<std::string>();
    CLI::App* imp = app.add_subcommand("import", "add the entries of an exported JSON file (ids given by the book)");
    imp->add_option("FILE", *file, "JSON file written by kvidf export, or - for standard input")->required();
    OnRun(imp, [file] { Import(*file); });
}

}  // namespace kvidf
