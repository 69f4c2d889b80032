// kvidf folders list | get ID | add | delete ID | reset-ids | prune
#include <cstring>
#include <memory>
#include <vector>

#include "book_image.h"

#include "commands.h"
#include "exit_codes.h"
#include "lists.h"
#include "records.h"
#include "session.h"

namespace kvidf {

namespace {

FolderSecurityEntry Fetch(uint32_t id) {
    FolderSecurityEntry r{};
    r.id = id;
    if (id == 0 || id == kBlankId || GetFolderSecurity(&r) != 1)
        throw Failure(kNotFound, "the security book has no folder entry #" + std::to_string(id));
    r.id = id;
    return r;
}

}  // namespace

void AddFolderCommands(CLI::App& app) {
    CLI::App* group = app.add_subcommand("folders", "folder security entries: list, get, add, delete, reset-ids, prune");
    group->require_subcommand(1);

    // Listing takes no lock, so the library only leaves out entries whose
    // folder is gone; it deletes them for a caller holding the lock.
    OnRun(group->add_subcommand("list", "list the entries whose folder exists"), [] {
        Library lib;
        OpenBook open(Book::kSecurity);
        PrintRecords(ListItems(CreateFolderSecurityList(), FolderSecurityListCount, FolderSecurityListItem,
                               DestroyFolderSecurityList, "the folder list"),
                     "(no folder entries)", "folder entries");
    });

    auto getId = std::make_shared<uint32_t>(0);
    CLI::App* get = group->add_subcommand("get", "show one entry");
    get->add_option("ID", *getId, "id")->required();
    OnRun(get, [getId] {
        Library lib;
        OpenBook open(Book::kSecurity);
        const FolderSecurityEntry r = Fetch(*getId);
        Print(ToJson(r), ToText(r));
    });

    struct AddArgs {
        std::string path;
        uint32_t extraValue = 0;
        uint16_t extraWord = 0;
    };
    auto addArgs = std::make_shared<AddArgs>();
    CLI::App* add = group->add_subcommand("add", "add an entry (the book gives its id)");
    add->add_option("--path", addArgs->path, "folder path (at most 261 characters)")->required()->check(MaxChars(261));
    add->add_option("--extra-value", addArgs->extraValue, "extra value");
    add->add_option("--extra-word", addArgs->extraWord, "extra word (0 to 65535)");
    OnRun(add, [addArgs] {
        Library lib;
        Change change(Book::kSecurity);
        FolderSecurityEntry r{};
        r.size = sizeof r;
        SetField(r.path, addArgs->path);
        r.extraValue = addArgs->extraValue;
        r.extraWord = addArgs->extraWord;
        if (AddFolderSecurityEntry(&r, 0, nullptr) != 1) throw Failure(kFailed, "the library refused the entry");
        Commit(Book::kSecurity);
        Print(ToJson(r), "added " + ToText(r));
    });

    auto deleteId = std::make_shared<uint32_t>(0);
    CLI::App* del = group->add_subcommand("delete", "delete an entry");
    del->add_option("ID", *deleteId, "id")->required();
    OnRun(del, [deleteId] {
        Library lib;
        Change change(Book::kSecurity);
        Fetch(*deleteId);
        if (DeleteFolderSecurityEntry(*deleteId, 0, 0) != 1) throw Failure(kFailed, "the library refused the delete");
        Commit(Book::kSecurity);
        Print(json{{"deleted", *deleteId}}, "deleted folder entry #" + std::to_string(*deleteId));
    });

    // The one command that removes the entries of absent folders: the
    // library does so for a folder list made under the lock.
    OnRun(group->add_subcommand("prune", "remove the entries whose folder does not exist, naming each"), [] {
        Library lib;
        Change change(Book::kSecurity);
        std::vector<FolderSecurityEntry> before, after;
        auto all = [] {
            std::vector<FolderSecurityEntry> entries;
            for (const FolderSecurityEntry& f :
                 ReadBookImage(ReadBookFile(Book::kSecurity), Book::kSecurity).folders)
                entries.push_back(f);
            return entries;
        };
        before = all();
        const KviListHandle list = CreateFolderSecurityList();
        if (list == 0 || list == ~KviListHandle{0}) throw Failure(kFailed, "the folder list could not be made");
        DestroyFolderSecurityList(list);
        Commit(Book::kSecurity);
        after = all();
        json removed = json::array();
        std::string text;
        for (const FolderSecurityEntry& f : before) {
            bool kept = false;
            for (const FolderSecurityEntry& g : after) kept = kept || (g.id == f.id && !std::memcmp(g.path, f.path, sizeof f.path));
            if (kept) continue;
            removed.push_back(ToJson(f));
            text += "removed " + ToText(f) + "\n";
        }
        Print(json{{"removed", removed}}, text + std::to_string(removed.size()) + " folder entries removed");
    });

    OnRun(group->add_subcommand("reset-ids", "number the entries 1, 2, 3, ... in their order"), [] {
        Library lib;
        Change change(Book::kSecurity);
        if (ResetFolderSecurityId() != 1) throw Failure(kFailed, "the library refused to renumber");
        // The renumbering does not mark the book changed: write it whole.
        Commit(Book::kSecurity, true);
        Print(json{{"reset", true}}, "folder entries renumbered");
    });
}

}  // namespace kvidf
