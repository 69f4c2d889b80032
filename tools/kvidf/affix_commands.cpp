// kvidf prefixes|suffixes list | get ID | find NAME | add | update ID | delete ID
#include <memory>

#include "commands.h"
#include "exit_codes.h"
#include "lists.h"
#include "records.h"
#include "session.h"

namespace kvidf {

namespace {

// The exports of one of the two twin tables.
struct AffixTable {
    const char* word;  // "prefix", "suffix"
    KviListHandle (*createList)();
    int32_t (*get)(AffixEntry*);
    int32_t (*getByName)(AffixEntry*);
    int32_t (*add)(AffixEntry*, KviListHandle, uint32_t*);
    int32_t (*update)(AffixEntry*, KviListHandle, int32_t);
    int32_t (*remove)(uint32_t, KviListHandle, int32_t, uint32_t);
};

const AffixTable kPrefixes{"prefix",          KviDfCreatePrefixList, KviDfGetPrefix,       KviDfGetPrefixByName,
                           KviDfAddPrefixEntry, KviDfUpdatePrefix,   KviDfDeletePrefixEntry};
const AffixTable kSuffixes{"suffix",          KviDfCreateSuffixList, KviDfGetSuffix,       KviDfGetSuffixByName,
                           KviDfAddSuffixEntry, KviDfUpdateSuffix,   KviDfDeleteSuffixEntry};

struct AffixFields {
    CLI::Option *name = nullptr, *text = nullptr;
    std::string nameText, affixText;
    void Add(CLI::App* cmd) {
        name = cmd->add_option("--name", nameText, "name (at most 30 characters, unique)")->check(MaxChars(30));
        text = cmd->add_option("--text", affixText, "the dialing text (at most 64 characters)")->check(MaxChars(64));
    }
    void Apply(AffixEntry& r) const {
        if (name->count()) SetField(r.name, nameText);
        if (text->count()) SetField(r.affixText, affixText);
    }
};

AffixEntry Fetch(const AffixTable& t, uint32_t id) {
    AffixEntry r{};
    r.id = id;
    if (id == 0 || id == kBlankId || t.get(&r) != 1)
        throw Failure(kNotFound, std::string("the security book has no ") + t.word + " #" + std::to_string(id));
    return r;
}

[[noreturn]] void Refused(const AffixTable& t, int32_t result, const AffixEntry& r) {
    if (result == 2) throw Failure(kFull, std::string("the ") + t.word + " table is full (800 entries)");
    if (result == 3)
        throw Failure(kDuplicate, std::string("the ") + t.word + " name \"" + FieldText(r.name) + "\" is taken");
    throw Failure(kFailed, "the library refused the change (result " + std::to_string(result) + ")");
}

void AddTable(CLI::App& app, const char* command, const AffixTable& t) {
    const std::string word = t.word;
    CLI::App* group = app.add_subcommand(command, "dialing " + word + "es: list, get, find, add, update, delete");
    group->require_subcommand(1);

    OnRun(group->add_subcommand("list", "list every " + word), [&t] {
        Library lib;
        OpenBook open(Book::kSecurity);
        PrintRecords(ListItems(t.createList(), KviDfAffixListCount, KviDfAffixListItem, KviDfDestroyAffixList,
                               "the list"),
                     std::string("(no ") + t.word + "es)", std::string(t.word) + "es");
    });

    auto getId = std::make_shared<uint32_t>(0);
    CLI::App* get = group->add_subcommand("get", "show one " + word);
    get->add_option("ID", *getId, "id")->required();
    OnRun(get, [&t, getId] {
        Library lib;
        OpenBook open(Book::kSecurity);
        const AffixEntry r = Fetch(t, *getId);
        Print(ToJson(r), ToText(r));
    });

    auto findName = std::make_shared<std::string>();
    CLI::App* find = group->add_subcommand("find", "find a " + word + " by name (case and trailing blanks ignored)");
    find->add_option("NAME", *findName, "name")->required()->check(MaxChars(30));
    OnRun(find, [&t, findName] {
        Library lib;
        OpenBook open(Book::kSecurity);
        AffixEntry r{};
        r.id = kBlankId;  // an id no entry has, so that every entry may match
        SetField(r.name, *findName);
        if (t.getByName(&r) != 1)
            throw Failure(kNotFound, std::string("the security book has no ") + t.word + " named \"" + *findName + "\"");
        Print(ToJson(r), ToText(r));
    });

    auto addFields = std::make_shared<AffixFields>();
    CLI::App* add = group->add_subcommand("add", "add a " + word + " (the book gives its id)");
    addFields->Add(add);
    add->get_option("--name")->required();
    OnRun(add, [&t, addFields] {
        Library lib;
        Change change(Book::kSecurity);
        AffixEntry r{};
        r.size = sizeof r;
        addFields->Apply(r);
        const int32_t result = t.add(&r, 0, nullptr);
        if (result != 1) Refused(t, result, r);
        Commit(Book::kSecurity);
        Print(ToJson(r), "added " + ToText(r));
    });

    auto updateId = std::make_shared<uint32_t>(0);
    auto updateFields = std::make_shared<AffixFields>();
    CLI::App* update = group->add_subcommand("update", "change the fields given of a " + word);
    update->add_option("ID", *updateId, "id")->required();
    updateFields->Add(update);
    OnRun(update, [&t, updateId, updateFields] {
        Library lib;
        Change change(Book::kSecurity);
        AffixEntry r = Fetch(t, *updateId);
        updateFields->Apply(r);
        const int32_t result = t.update(&r, 0, 0);
        if (result != 1) Refused(t, result, r);
        Commit(Book::kSecurity);
        Print(ToJson(r), "updated " + ToText(r));
    });

    auto deleteId = std::make_shared<uint32_t>(0);
    CLI::App* del = group->add_subcommand("delete", "delete a " + word);
    del->add_option("ID", *deleteId, "id")->required();
    OnRun(del, [&t, deleteId] {
        Library lib;
        Change change(Book::kSecurity);
        const AffixEntry r = Fetch(t, *deleteId);
        if (t.remove(*deleteId, 0, 0, 0) != 1) Refused(t, 0, r);
        Commit(Book::kSecurity);
        Print(json{{"deleted", *deleteId}}, std::string("deleted ") + t.word + " #" + std::to_string(*deleteId));
    });
}

}  // namespace

void AddAffixCommands(CLI::App& app) {
    AddTable(app, "prefixes", kPrefixes);
    AddTable(app, "suffixes", kSuffixes);
}

}  // namespace kvidf
