// kvidf users list | get ID | find NAME | add | update ID | delete ID
#include <memory>

#include "commands.h"
#include "exit_codes.h"
#include "lists.h"
#include "records.h"
#include "session.h"

namespace kvidf {

namespace {

struct UserFields {
    CLI::Option *name = nullptr, *password = nullptr, *value = nullptr, *word = nullptr, *text = nullptr;
    std::string nameText, passwordText, extraText;
    uint32_t extraValue = 0;
    uint16_t extraWord = 0;

    void Add(CLI::App* cmd) {
        name = cmd->add_option("--name", nameText, "user name (at most 20 characters, unique)")->check(MaxChars(20));
        password = cmd->add_option("--password", passwordText, "password (at most 10 characters)")->check(MaxChars(10));
        value = cmd->add_option("--extra-value", extraValue, "extra value");
        word = cmd->add_option("--extra-word", extraWord, "extra word (0 to 65535)");
        text = cmd->add_option("--extra-text", extraText, "extra text (at most 64 characters)")->check(MaxChars(64));
    }
    void Apply(SecurityEntry& r) const {
        if (name->count()) SetField(r.name, nameText);
        if (password->count()) SetField(r.password, passwordText);
        if (value->count()) r.extraValue = extraValue;
        if (word->count()) r.extraWord = extraWord;
        if (text->count()) SetField(r.extraText, extraText);
    }
};

SecurityEntry Fetch(uint32_t id) {
    SecurityEntry r{};
    r.id = id;
    if (id == 0 || id == kBlankId || KviDfGetSecurity(&r) != 1)
        throw Failure(kNotFound, "the security book has no user #" + std::to_string(id));
    r.id = id;
    return r;
}

[[noreturn]] void Refused(int32_t result, const SecurityEntry& r) {
    if (result == 2) throw Failure(kFull, "the security book is full (800 users)");
    if (result == 3) throw Failure(kDuplicate, "the user name \"" + FieldText(r.name) + "\" is taken");
    throw Failure(kFailed, "the library refused the change (result " + std::to_string(result) + ")");
}

}  // namespace

void AddUserCommands(CLI::App& app) {
    CLI::App* group = app.add_subcommand("users", "users of the security book: list, get, find, add, update, delete");
    group->require_subcommand(1);

    OnRun(group->add_subcommand("list", "list every user"), [] {
        Library lib;
        OpenBook open(Book::kSecurity);
        std::vector<SecurityEntry> users = ListItems(KviDfCreateSecurityList(), KviDfSecurityListCount,
                                                     KviDfSecurityListItem, KviDfDestroySecurityList, "the user list");
        // A list goes to screens and logs: passwords only when asked.
        for (SecurityEntry& user : users)
            if (!GlobalOptions().showPasswords && user.password[0]) SetField(user.password, "********");
        PrintRecords(users, "(no users)", "users");
    });

    auto getId = std::make_shared<uint32_t>(0);
    CLI::App* get = group->add_subcommand("get", "show one user");
    get->add_option("ID", *getId, "user id")->required();
    OnRun(get, [getId] {
        Library lib;
        OpenBook open(Book::kSecurity);
        const SecurityEntry r = Fetch(*getId);
        Print(ToJson(r), ToText(r));
    });

    auto findName = std::make_shared<std::string>();
    CLI::App* find = group->add_subcommand("find", "find a user by name (case and trailing blanks ignored)");
    find->add_option("NAME", *findName, "user name")->required()->check(MaxChars(20));
    OnRun(find, [findName] {
        Library lib;
        OpenBook open(Book::kSecurity);
        SecurityEntry r{};
        SetField(r.name, *findName);
        if (KviDfGetSecurityByName(&r) != 1)
            throw Failure(kNotFound, "the security book has no user named \"" + *findName + "\"");
        Print(ToJson(r), ToText(r));
    });

    auto addFields = std::make_shared<UserFields>();
    CLI::App* add = group->add_subcommand("add", "add a user (the book gives its id)");
    addFields->Add(add);
    add->get_option("--name")->required();
    OnRun(add, [addFields] {
        Library lib;
        Change change(Book::kSecurity);
        SecurityEntry r{};
        r.size = sizeof r;
        addFields->Apply(r);
        const int32_t result = KviDfAddSecurityEntry(&r, 0, nullptr);
        if (result != 1) Refused(result, r);
        Commit(Book::kSecurity);
        Print(ToJson(r), "added " + ToText(r));
    });

    auto updateId = std::make_shared<uint32_t>(0);
    auto updateFields = std::make_shared<UserFields>();
    CLI::App* update = group->add_subcommand("update", "change the fields given of a user");
    update->add_option("ID", *updateId, "user id")->required();
    updateFields->Add(update);
    OnRun(update, [updateId, updateFields] {
        Library lib;
        Change change(Book::kSecurity);
        SecurityEntry r = Fetch(*updateId);
        updateFields->Apply(r);
        const int32_t result = KviDfUpdateSecurity(&r, 0, 0);
        if (result != 1) Refused(result, r);
        Commit(Book::kSecurity);
        Print(ToJson(r), "updated " + ToText(r));
    });

    auto deleteId = std::make_shared<uint32_t>(0);
    CLI::App* del = group->add_subcommand("delete", "delete a user");
    del->add_option("ID", *deleteId, "user id")->required();
    OnRun(del, [deleteId] {
        Library lib;
        Change change(Book::kSecurity);
        const SecurityEntry r = Fetch(*deleteId);
        if (KviDfDeleteSecurityEntry(*deleteId, 0, 0) != 1) Refused(0, r);
        Commit(Book::kSecurity);
        Print(json{{"deleted", *deleteId}}, "deleted user #" + std::to_string(*deleteId));
    });
}

}  // namespace kvidf
