// kvidf address list | get ID | find TEXT | add | update ID | delete ID
// (export and import --csv: csv_commands.cpp)
#include <cctype>
#include <map>
#include <vector>
#include <memory>

#include "address/address_record.h"
#include "commands.h"
#include "exit_codes.h"
#include "lists.h"
#include "records.h"
#include "session.h"

namespace kvidf {

namespace {

// The fields an add or update may set; an option not given keeps the
// entry's value (empty for an add).
struct AddressFields {
    CLI::Option* name = nullptr;
    CLI::Option* address = nullptr;
    CLI::Option* phone = nullptr;
    CLI::Option* text1 = nullptr;
    CLI::Option* text2 = nullptr;
    CLI::Option* type = nullptr;
    CLI::Option* value = nullptr;
    std::string nameText, addressText, phoneText, text1Text, text2Text;
    uint16_t typeValue = 0;
    uint32_t valueValue = 0;

    void Add(CLI::App* cmd) {
        static const std::map<std::string, uint16_t> kTypes{
            {"unset", 0}, {"modem", 1}, {"network", 2}, {"wireless", 3}, {"cable", 4}};
        name = cmd->add_option("--name", nameText, "display name (at most 30 characters)")->check(MaxChars(30));
        address = cmd->add_option("--address", addressText, "address (at most 20 characters)")->check(MaxChars(20));
        phone = cmd->add_option("--phone", phoneText, "phone number (at most 64 characters)")->check(MaxChars(64));
        text1 = cmd->add_option("--text1", text1Text, "first extra text (at most 20 characters)")->check(MaxChars(20));
        text2 = cmd->add_option("--text2", text2Text, "second extra text (at most 10 characters)")->check(MaxChars(10));
        type = cmd->add_option("--type", typeValue, "connection type: modem, network, wireless or cable")
                   ->transform(CLI::CheckedTransformer(kTypes, CLI::ignore_case));
        value = cmd->add_option("--extra-value,--value", valueValue, "extra value (0 to 4294967295)");
    }
    void Apply(AddressRecord& r) const {
        if (name->count()) SetField(r.name, nameText);
        if (address->count()) SetField(r.address, addressText);
        if (phone->count()) SetField(r.phoneNumber, phoneText);
        if (text1->count()) SetField(r.extraText1, text1Text);
        if (text2->count()) SetField(r.extraText2, text2Text);
        if (type->count()) r.connectionType = typeValue;
        if (value->count()) r.extraValue = valueValue;
    }
};

// The entry with that id; throws kNotFound.
AddressRecord Fetch(uint32_t id) {
    AddressRecord r{};
    r.size = sizeof r;
    r.id = id;
    if (id == 0 || id == kBlankId || KviDfGetAddress(&r) != 1)
        throw Failure(kNotFound, "the address book has no entry #" + std::to_string(id));
    r.id = id;
    return r;
}

// The entry as every later reader of the book sees it: the book makes a
// missing name (and the modem type of an entry with a phone number) when
// it reads its file, through the same codec as here.
AddressRecord AsStored(AddressRecord r) {
    uint8_t bytes[kvi::kMaxAddressEncoding];
    const uint32_t length = kvi::Encode(r, bytes);
    AddressRecord stored{};
    if (kvi::Decode(stored, bytes, length) == 0) return r;
    stored.size = sizeof stored;
    return stored;
}

[[noreturn]] void Refused(int32_t result, const AddressRecord& r) {
    if (result == 2) throw Failure(kFull, "the address book is full (800 entries)");
    if (result == 3)
        throw Failure(kDuplicate, "the address \"" + FieldText(r.address) + "\" (" +
                                      ConnectionTypeName(r.connectionType) + ") is taken by another entry");
    throw Failure(kFailed, "the library refused the change (result " + std::to_string(result) + ")");
}

std::vector<AddressRecord> Entries() {
    return ListItems(KviDfCreateAddressList(), KviDfAddressListCount, KviDfAddressListItem, KviDfDestroyAddressList,
                     "the address list");
}

void List() {
    Library lib;
    OpenBook open(Book::kAddress);
    PrintRecords(Entries(), "(the address book is empty)", "entries");
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Entries whose name, address, phone number or texts contain the text,
// ignoring case (in the books' encoding, as the library compares).
void Find(const std::string& text) {
    Library lib;
    OpenBook open(Book::kAddress);
    const std::string needle = Lower(ToBookText(text, "the text searched"));
    std::vector<AddressRecord> found;
    for (const AddressRecord& r : Entries()) {
        for (const std::string& field : {RawFieldText(r.name), RawFieldText(r.address), RawFieldText(r.phoneNumber),
                                         RawFieldText(r.extraText1), RawFieldText(r.extraText2)})
            if (Lower(field).find(needle) != std::string::npos) {
                found.push_back(r);
                break;
            }
    }
    PrintRecords(found, "(no entry matches)", "entries");
}

}  // namespace

void AddAddressCommands(CLI::App& app) {
    CLI::App* group = app.add_subcommand("address", "the address book: list, get, find, add, update, delete, export, import");
    group->require_subcommand(1);

    OnRun(group->add_subcommand("list", "list every entry"), List);
    AddCsvCommands(*group);

    auto findText = std::make_shared<std::string>();
    CLI::App* find = group->add_subcommand("find", "list the entries whose texts contain TEXT (case ignored)");
    find->add_option("TEXT", *findText, "text to look for")->required();
    OnRun(find, [findText] { Find(*findText); });

    auto getId = std::make_shared<uint32_t>(0);
    CLI::App* get = group->add_subcommand("get", "show one entry");
    get->add_option("ID", *getId, "entry id")->required();
    OnRun(get, [getId] {
        Library lib;
        OpenBook open(Book::kAddress);
        const AddressRecord r = Fetch(*getId);
        Print(ToJson(r), ToText(r));
    });

    auto addFields = std::make_shared<AddressFields>();
    CLI::App* add = group->add_subcommand("add", "add an entry (the book gives its id)");
    addFields->Add(add);
    OnRun(add, [addFields] {
        Library lib;
        Change change(Book::kAddress);
        AddressRecord r{};
        r.size = sizeof r;
        addFields->Apply(r);
        const int32_t result = KviDfAddAddress(&r, 0, nullptr);
        if (result != 1) Refused(result, r);
        Commit(Book::kAddress);
        const AddressRecord stored = AsStored(Fetch(r.id));
        Print(ToJson(stored), "added " + ToText(stored));
    });

    auto updateId = std::make_shared<uint32_t>(0);
    auto updateFields = std::make_shared<AddressFields>();
    CLI::App* update = group->add_subcommand("update", "change the fields given of an entry");
    update->add_option("ID", *updateId, "entry id")->required();
    updateFields->Add(update);
    OnRun(update, [updateId, updateFields] {
        Library lib;
        Change change(Book::kAddress);
        AddressRecord r = Fetch(*updateId);
        updateFields->Apply(r);
        const int32_t result = KviDfUpdateAddress(&r, 0, 0);
        if (result != 1) Refused(result, r);
        Commit(Book::kAddress);
        const AddressRecord stored = AsStored(Fetch(r.id));
        Print(ToJson(stored), "updated " + ToText(stored));
    });

    auto deleteId = std::make_shared<uint32_t>(0);
    CLI::App* del = group->add_subcommand("delete", "delete an entry");
    del->add_option("ID", *deleteId, "entry id")->required();
    OnRun(del, [deleteId] {
        Library lib;
        Change change(Book::kAddress);
        const AddressRecord r = Fetch(*deleteId);
        if (KviDfDeleteAddress(*deleteId, 0, 0) != 1) Refused(0, r);
        Commit(Book::kAddress);
        Print(json{{"deleted", *deleteId}}, "deleted #" + std::to_string(*deleteId));
    });
}

}  // namespace kvidf
