// kvidf check: would the library open both books, and if not, why (with
// byte offsets). kvidf recover FILE --output NEW: every record that can
// still be decoded from a damaged book, in a new, valid book.
#include <set>
#include <memory>

#include "book_image.h"
#include "commands.h"
#include "exit_codes.h"
#include "records.h"
#include "session.h"

namespace kvidf {

namespace {

json Problems(const std::vector<Problem>& problems) {
    json a = json::array();
    for (const Problem& p : problems) a.push_back({{"offset", p.offset}, {"message", p.message}});
    return a;
}

void Check() {
    json out = json::object();
    std::string text;
    bool damaged = false;
    for (Book book : {Book::kAddress, Book::kSecurity}) {
        const char* key = book == Book::kAddress ? "address" : "security";
        std::vector<uint8_t> bytes;
        try {
            bytes = ReadBookFile(book);
        } catch (const Failure& f) {
            if (f.Code() != kNoBook) throw;
            out[key] = {{"file", BookPath(book)}, {"status", "no-book"}};
            text += std::string(BookWord(book)) + ": no book yet\n";
            continue;
        }
        const BookImage image = ReadBookImage(bytes, book);
        json j{{"file", BookPath(book)},
               {"status", image.Refused() ? "damaged" : "healthy"},
               {"problems", Problems(image.refusals)},
               {"notes", image.notes}};
        text += std::string(BookWord(book)) + ": " + (image.Refused() ? "DAMAGED, the library refuses it" : "healthy") +
                " (" + BookPath(book) + ")\n";
        for (const Problem& p : image.refusals)
            text += "  at byte " + std::to_string(p.offset) + ": " + p.message + "\n";
        for (const std::string& n : image.notes) text += "  note: " + n + "\n";
        damaged = damaged || image.Refused();
        out[key] = j;
    }
    Print(out, text);
    if (damaged) throw Failure(kDamaged, "a book is damaged; kvidf recover salvages its records", true);
}

// Ids stay where they are unique; a record whose id is taken (or 0) gets
// a new one above every id of its section.
template <typename Record>
int Renumber(std::vector<Record>& records, SectionRead& s) {
    std::set<uint32_t> seen;
    uint32_t top = s.lastId;
    for (const Record& r : records) top = std::max<uint32_t>(top, r.id == 0xFFFFFFFFu ? 0 : r.id);
    int changed = 0;
    for (Record& r : records) {
        if (r.id != 0 && r.id != 0xFFFFFFFFu && seen.insert(r.id).second) continue;
        r.id = ++top;
        seen.insert(r.id);
        ++changed;
    }
    s.lastId = top;
    return changed;
}

Book GuessBook(const std::string& path, const std::vector<uint8_t>& bytes, const std::string& given) {
    if (given == "address") return Book::kAddress;
    if (given == "security") return Book::kSecurity;
    if (bytes.size() >= 10 && std::string(bytes.begin() + 6, bytes.begin() + 10) == "^*($") return Book::kAddress;
    if (bytes.size() >= 10 && std::string(bytes.begin() + 6, bytes.begin() + 10) == "^*%$") return Book::kSecurity;
    std::string upper;
    for (char c : path) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.size() >= 4 && upper.substr(upper.size() - 4) == ".PBK") return Book::kAddress;
    if (upper.size() >= 4 && upper.substr(upper.size() - 4) == ".PWD") return Book::kSecurity;
    // The first directory entry's type.
    if (bytes.size() >= 46 && bytes[44] == 100 && bytes[45] == 0) return Book::kAddress;
    if (bytes.size() >= 46 && bytes[44] >= 1 && bytes[44] <= 5 && bytes[45] == 0) return Book::kSecurity;
    throw Failure(kUsage, "cannot tell which book " + path + " is: give --book address or --book security");
}

void Recover(const std::string& path, const std::string& output, const std::string& given) {
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    const Book book = GuessBook(path, bytes, given);
    BookImage image = ReadBookImage(bytes, book, true);
    int renumbered = 0;
    if (book == Book::kAddress) {
        renumbered += Renumber(image.address, image.sections[100]);
    } else {
        renumbered += Renumber(image.prefixes, image.sections[2]) + Renumber(image.suffixes, image.sections[3]) +
                      Renumber(image.users, image.sections[4]);
        renumbered += Renumber(image.folders, image.sections[5]);
    }
    const std::vector<uint8_t> book_bytes = EncodeBook(image);
    if (ReadBookImage(book_bytes, book).Refused())
        throw Failure(kFailed, "the salvaged records did not make a valid book; nothing was written");
    ReplaceFile(output, book_bytes, 0600);

    json saved = json::object();
    std::string text = "recovered " + std::string(BookWord(book)) + " from " + path + " into " + output + ":\n";
    auto count = [&](const char* key, size_t n) {
        saved[key] = n;
        text += "  " + std::to_string(n) + " " + key + "\n";
    };
    if (book == Book::kAddress) {
        count("address entries", image.address.size());
    } else {
        count("prefixes", image.prefixes.size());
        count("suffixes", image.suffixes.size());
        count("users", image.users.size());
        count("folder entries", image.folders.size());
    }
    if (renumbered) text += "  " + std::to_string(renumbered) + " records whose id was taken or missing got new ids\n";
    for (const Problem& p : image.losses) text += "  LOST at byte " + std::to_string(p.offset) + ": " + p.message + "\n";
    for (const Problem& p : image.refusals)
        text += "  damage at byte " + std::to_string(p.offset) + ": " + p.message + "\n";
    for (const std::string& n : image.notes) text += "  note: " + n + "\n";
    if (image.losses.empty()) text += "  nothing was lost\n";
    Print(json{{"file", path},
               {"output", output},
               {"book", book == Book::kAddress ? "address" : "security"},
               {"saved", saved},
               {"renumbered", renumbered},
               {"lost", Problems(image.losses)},
               {"damage", Problems(image.refusals)},
               {"notes", image.notes}},
          text);
}

}  // namespace

void AddCheckCommands(CLI::App& app) {
    OnRun(app.add_subcommand("check", "would the library open both books? every reason it would not (exit 10)"), Check);

    struct RecoverArgs {
        std::string file, output, book;
    };
    auto args = std::make_shared<RecoverArgs>();
    CLI::App* recover =
        app.add_subcommand("recover", "salvage every readable record of a damaged book file into a new, valid book");
    recover->add_option("FILE", args->file, "the damaged book file")->required();
    recover->add_option("--output", args->output, "the new book file to write (mode 0600)")->required();
    recover->add_option("--book", args->book, "address or security (default: from the file)")
        ->check(CLI::IsMember({"address", "security"}));
    OnRun(recover, [args] { Recover(args->file, args->output, args->book); });
}

}  // namespace kvidf
