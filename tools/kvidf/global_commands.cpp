// kvidf global show | set ...; kvidf password address|security show | set
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

#include "commands.h"
#include "exit_codes.h"
#include "records.h"
#include "session.h"

namespace kvidf {

namespace {

GlobalSecurity ReadGlobal() {
    GlobalSecurity g{};
    if (KviDfGetGlobalSecurity(&g) != 1) throw Failure(kFailed, "the global security settings could not be read");
    return g;
}

void WriteGlobal(GlobalSecurity& g) {
    if (KviDfSetGlobalSecurity(&g) != 1) throw Failure(kFailed, "the library refused the global security settings");
    Commit(Book::kSecurity);
}

void SetPasswordIn(GlobalSecurity& g, const std::string& utf8) {
    // The password is the text at the start of the area; the bytes after
    // it are kept as they are. Every byte of the old password goes (and
    // the whole 16 bytes a book header holds), so no tail of it is left
    // behind a shorter new one.
    const std::string password = ToBookText(utf8, "the password");
    size_t old = 0;
    while (old < sizeof g.password && g.password[old] != '\0') ++old;
    std::memset(g.password, 0, std::max<size_t>({old, password.size() + 1, 16}));
    std::memcpy(g.password, password.data(), password.size());
}

struct AddressPassword {
    std::string password;
    bool protection = false;
};

AddressPassword ReadAddressPassword() {
    char password[16] = {};
    uint32_t flag = 0;
    if (KviDfAddressBookPasswd(password, &flag) != 1) throw Failure(kFailed, "the address book password could not be read");
    return {FieldText(password), flag != 0};
}

json PasswordJson(const std::string& password, bool protection) {
    return json{{"protection", protection}, {"password", password}};
}

std::string PasswordText(const std::string& password, bool protection) {
    return std::string("protection  ") + (protection ? "on" : "off") + "\npassword    \"" + password + "\"";
}

struct GlobalArgs {
    CLI::Option *mode = nullptr, *flags = nullptr, *protection = nullptr, *password = nullptr, *word1 = nullptr,
                *word2 = nullptr;
    uint32_t modeValue = 0, flagsValue = 0;
    bool protectionValue = false;
    std::string passwordText;
    uint16_t word1Value = 0, word2Value = 0;
};

void AddGlobal(CLI::App& app) {
    CLI::App* group = app.add_subcommand("global", "the book-wide security settings: show, set");
    group->require_subcommand(1);
    OnRun(group->add_subcommand("show", "show the settings"), [] {
        Library lib;
        OpenBook open(Book::kSecurity);
        const GlobalSecurity g = ReadGlobal();
        Print(ToJson(g), ToText(g));
    });

    auto args = std::make_shared<GlobalArgs>();
    CLI::App* set = group->add_subcommand(
        "set", "change the settings given; a password or protection change reaches both books' headers");
    args->mode = set->add_option("--mode", args->modeValue, "mode");
    args->flags = set->add_option("--flags", args->flagsValue, "all flag bits (0x... accepted)");
    args->protection = set->add_option("--protection", args->protectionValue, "password protection: on or off")
                           ->transform(OnOff());
    args->password = set->add_option("--password", args->passwordText, "the books' password (at most 15 characters)")
                         ->check(MaxChars(15));
    args->word1 = set->add_option("--extra-word1", args->word1Value, "extra word 1");
    args->word2 = set->add_option("--extra-word2", args->word2Value, "extra word 2");
    OnRun(set, [args] {
        Library lib;
        const bool passwordChange = args->protection->count() || args->password->count();
        // The library hands a new password to every book this process holds:
        // hold the address book too (lock first, as for any change of it).
        std::optional<Change> addressBook;
        if (passwordChange) addressBook.emplace(Book::kAddress);
        Change change(Book::kSecurity);
        GlobalSecurity g = ReadGlobal();
        if (args->mode->count()) g.mode = args->modeValue;
        if (args->flags->count()) g.flags = args->flagsValue;
        if (args->protection->count())
            g.flags = args->protectionValue ? (g.flags | kProtectionBit) : (g.flags & ~kProtectionBit);
        if (args->password->count()) SetPasswordIn(g, args->passwordText);
        if (args->word1->count()) g.extraWord1 = args->word1Value;
        if (args->word2->count()) g.extraWord2 = args->word2Value;
        WriteGlobal(g);
        const GlobalSecurity now = ReadGlobal();
        json out = ToJson(now);
        std::string text = ToText(now);
        if (passwordChange) {
            const AddressPassword address = ReadAddressPassword();
            const bool reached = address.password == FieldText(now.password) &&
                                 address.protection == ((now.flags & kProtectionBit) != 0);
            out["address_book_password_changed"] = reached;
            if (!reached)
                text += "the address book kept its own password: it is protected by another one than the settings held\n";
        }
        Print(out, text);
    });
}

struct PasswordArgs {
    std::string newPassword, oldPassword;
    bool protection = true;
};

void AddPassword(CLI::App& app) {
    CLI::App* group = app.add_subcommand("password", "a book's password: password address|security show|set");
    group->require_subcommand(1);

    CLI::App* address = group->add_subcommand("address", "the address book's password");
    address->require_subcommand(1);
    OnRun(address->add_subcommand("show", "show protection and password"), [] {
        Library lib;
        OpenBook open(Book::kAddress);
        const AddressPassword p = ReadAddressPassword();
        Print(PasswordJson(p.password, p.protection), PasswordText(p.password, p.protection));
    });
    auto addressArgs = std::make_shared<PasswordArgs>();
    CLI::App* addressSet = address->add_subcommand("set", "set the password (the current one is needed when protected)");
    addressSet->add_option("--new", addressArgs->newPassword, "the new password (at most 15 characters)")
        ->required()
        ->check(MaxChars(15));
    addressSet->add_option("--old", addressArgs->oldPassword, "the current password")->check(MaxChars(15));
    addressSet->add_option("--protection", addressArgs->protection, "on (default) or off")->transform(OnOff());
    OnRun(addressSet, [addressArgs] {
        Library lib;
        Change change(Book::kAddress);
        const AddressPassword before = ReadAddressPassword();
        TextArg newPassword(addressArgs->newPassword, "the new password"),
            oldPassword(addressArgs->oldPassword, "the current password");
        if (KviDfAddressBookSetPasswd(newPassword.get(), addressArgs->protection ? 1 : 0, oldPassword.get()) != 1) {
            if (before.protection) throw Failure(kPassword, "the current password given (--old) is wrong");
            throw Failure(kFailed, "the address book password could not be written");
        }
        const AddressPassword p = ReadAddressPassword();
        Print(PasswordJson(p.password, p.protection), PasswordText(p.password, p.protection));
    });

    CLI::App* security = group->add_subcommand("security", "the security book's password (kept in the global settings)");
    security->require_subcommand(1);
    OnRun(security->add_subcommand("show", "show protection and password"), [] {
        Library lib;
        OpenBook open(Book::kSecurity);
        const GlobalSecurity g = ReadGlobal();
        const bool on = (g.flags & kProtectionBit) != 0;
        Print(PasswordJson(FieldText(g.password), on), PasswordText(FieldText(g.password), on));
    });
    auto securityArgs = std::make_shared<PasswordArgs>();
    CLI::App* securitySet = security->add_subcommand("set", "set the password and the protection switch");
    securitySet->add_option("--new", securityArgs->newPassword, "the new password (at most 15 characters)")
        ->required()
        ->check(MaxChars(15));
    securitySet->add_option("--protection", securityArgs->protection, "on (default) or off")->transform(OnOff());
    OnRun(securitySet, [securityArgs] {
        Library lib;
        Change change(Book::kSecurity);
        GlobalSecurity g = ReadGlobal();
        SetPasswordIn(g, securityArgs->newPassword);
        g.flags = securityArgs->protection ? (g.flags | kProtectionBit) : (g.flags & ~kProtectionBit);
        WriteGlobal(g);
        const GlobalSecurity now = ReadGlobal();
        const bool on = (now.flags & kProtectionBit) != 0;
        Print(PasswordJson(FieldText(now.password), on), PasswordText(FieldText(now.password), on));
    });
}

}  // namespace

void AddGlobalCommands(CLI::App& app) {
    AddGlobal(app);
    AddPassword(app);
}

}  // namespace kvidf
