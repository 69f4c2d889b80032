// kvidf export [address|security|all] [--output FILE]
// kvidf import FILE
// The JSON of export is what import reads: "address" (entries), "users",
// "prefixes", "suffixes", "folders" (arrays) and "global" (an object,
// exported only: import adds entries and changes no settings).
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <set>

#include "commands.h"
#include "exit_codes.h"
#include "records.h"
#include "session.h"

namespace kvidf {

namespace {

template <typename Record>
json ListAll(KviListHandle list, int32_t (*count)(KviListHandle), int32_t (*item)(KviListHandle, int32_t, Record*),
             void (*destroy)(KviListHandle)) {
    if (list == 0 || list == ~KviListHandle{0}) throw Failure(kFailed, "a list could not be made");
    json items = json::array();
    const int32_t n = count(list);
    for (int32_t i = 0; i < n; ++i) {
        Record r{};
        if (item(list, i, &r) == 1 && r.id != kBlankId) items.push_back(ToJson(r));
    }
    destroy(list);
    return items;
}

json ExportAddress() {
    OpenBook open(Book::kAddress);
    return ListAll<AddressRecord>(KviDfCreateAddressList(), KviDfAddressListCount, KviDfAddressListItem,
                                  KviDfDestroyAddressList);
}

// Folder entries come from the folder list, which leaves out those whose
// folder no longer exists.
void ExportSecurity(json& out) {
    OpenBook open(Book::kSecurity);
    out["users"] = ListAll<SecurityEntry>(KviDfCreateSecurityList(), KviDfSecurityListCount, KviDfSecurityListItem,
                                          KviDfDestroySecurityList);
    out["prefixes"] = ListAll<AffixEntry>(KviDfCreatePrefixList(), KviDfAffixListCount, KviDfAffixListItem,
                                          KviDfDestroyAffixList);
    out["suffixes"] = ListAll<AffixEntry>(KviDfCreateSuffixList(), KviDfAffixListCount, KviDfAffixListItem,
                                          KviDfDestroyAffixList);
    out["folders"] = ListAll<FolderSecurityEntry>(CreateFolderSecurityList(), FolderSecurityListCount,
                                                  FolderSecurityListItem, DestroyFolderSecurityList);
    GlobalSecurity g{};
    if (KviDfGetGlobalSecurity(&g) != 1) throw Failure(kFailed, "the global security settings could not be read");
    out["global"] = ToJson(g);
}

// What happened to the entries of one table.
struct Outcome {
    int added = 0;
    json duplicates = json::array();
    int full = 0;
    json ToJson() const { return json{{"added", added}, {"duplicates", duplicates}, {"full", full}}; }
};

template <typename Record>
std::vector<Record> Convert(const json& in, const char* key) {
    std::vector<Record> records;
    if (!in.contains(key)) return records;
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
        else if (result == 2) ++o.full;
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
    if (o.full) line += ", " + std::to_string(o.full) + " not added: the table is full (800 entries)";
    return line + "\n";
}

void Import(const std::string& path) {
    std::ifstream file(path);
    if (!file) throw Failure(kFileError, "cannot read " + path);
    json in;
    try {
        in = json::parse(file);
    } catch (const json::parse_error& e) {
        throw Failure(kFileError, path + " is not valid JSON: " + e.what());
    }
    if (!in.is_object()) throw Failure(kFileError, path + " does not hold an object");
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
        anyFull = anyFull || o.full > 0;
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
        for (const json& j : ListAll<AddressRecord>(KviDfCreateAddressList(), KviDfAddressListCount,
                                                    KviDfAddressListItem, KviDfDestroyAddressList))
            held.insert(fields(j));
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
        // skips a path the book lists already, so importing twice adds nothing.
        std::set<std::string> paths;
        for (const json& f : ListAll<FolderSecurityEntry>(CreateFolderSecurityList(), FolderSecurityListCount,
                                                          FolderSecurityListItem, DestroyFolderSecurityList))
            paths.insert(f["path"].get<std::string>());
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
        Library lib;
        json out = json::object();
        if (args->book != "security") out["address"] = ExportAddress();
        if (args->book != "address") ExportSecurity(out);
        if (args->output.empty()) {
            std::cout << out.dump(2) << "\n";
            return;
        }
        std::ofstream file(args->output);
        file << out.dump(2) << "\n";
        if (!file.flush()) throw Failure(kFileError, "cannot write " + args->output);
        Print(json{{"written", args->output}}, "written to " + args->output);
    });

    auto file = std::make_shared<std::string>();
    CLI::App* imp = app.add_subcommand("import", "add the entries of an exported JSON file (ids given by the book)");
    imp->add_option("FILE", *file, "JSON file written by kvidf export")->required();
    OnRun(imp, [file] { Import(*file); });
}

}  // namespace kvidf
