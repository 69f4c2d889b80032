// kvidf: the command-line client of KVIABDB. It works through the public
// header and the library's exports only, as any client program does;
// `kvidf inspect` alone reads a book file itself (inspect_command.cpp).
#include <cstdlib>
#include <iostream>
#include <algorithm>
#include <map>
#include <vector>

#include "commands.h"
#include "exit_codes.h"
#include "session.h"
#include "text_1252.h"

// The library's version comes from its header; a header without it is an
// older one of the same 1.x line, named by the build.
#ifndef KVIDF_VERSION
#define KVIDF_VERSION "1.0.0"
#endif
#ifdef KVIABDB_VERSION
#define KVIDF_LIBRARY_VERSION KVIABDB_VERSION
#else
#define KVIDF_LIBRARY_VERSION KVIDF_VERSION
#endif

namespace kvidf {

namespace {

std::map<CLI::App*, std::function<void()>>& Works() {
    static std::map<CLI::App*, std::function<void()>> works;
    return works;
}

}  // namespace

void OnRun(CLI::App* command, std::function<void()> work) { Works()[command] = std::move(work); }

const std::function<void()>* WorkOf(CLI::App* command) {
    auto it = Works().find(command);
    return it == Works().end() ? nullptr : &it->second;
}

std::string Dump(const nlohmann::json& j) {
    // Every text is converted to UTF-8 on its way in; replacing what is
    // not keeps a slip from ending the run with an exception.
    return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

void Print(const nlohmann::json& j, const std::string& text) {
    if (GlobalOptions().json) {
        std::cout << Dump(j) << "\n";
    } else {
        std::cout << text;
        if (text.empty() || text.back() != '\n') std::cout << "\n";
    }
}

CLI::Validator MaxChars(size_t n) {
    return CLI::Validator(
        [n](std::string& s) {
            // Counted in the books' encoding, one byte per character.
            std::string why;
            const auto bytes = Utf8To1252(s, &why);
            if (!bytes) return why;
            return bytes->size() > n ? "is " + std::to_string(bytes->size()) + " characters; at most " +
                                           std::to_string(n) + " fit"
                                     : std::string();
        },
        "TEXT(<=" + std::to_string(n) + ")");
}

CLI::Transformer OnOff() {
    return CLI::Transformer(std::map<std::string, std::string>{{"on", "1"}, {"off", "0"}}, CLI::ignore_case);
}

namespace {

int Fail(int code, const std::string& message, bool quiet = false) {
    if (GlobalOptions().json && !quiet)
        std::cout << Dump(nlohmann::json{{"error", ExitCodeName(code)}, {"exit", code}, {"message", message}})
                  << "\n";
    std::cerr << "kvidf: " << message << "\n";
    return code;
}

size_t Distance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1] ? 1 : 0)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

// "did you mean ..." for a word that is no command of the deepest command
// given, when one is close.
std::string Suggestion(CLI::App& app) {
    CLI::App* command = &app;
    while (!command->get_subcommands().empty()) command = command->get_subcommands().front();
    const std::vector<std::string> rest = command->remaining();
    if (rest.empty() || rest.front().empty() || rest.front()[0] == '-') return "";
    std::string best;
    size_t bestDistance = 3;  // at most two edits away
    for (const CLI::App* sub : command->get_subcommands({})) {
        const size_t d = Distance(rest.front(), sub->get_name());
        if (d < bestDistance) bestDistance = d, best = sub->get_name();
    }
    return best.empty() ? "" : "\"" + rest.front() + "\" is not a command; did you mean \"" + best + "\"?";
}

int Run(int argc, char** argv) {
    CLI::App app("kvidf: the address book and the security book from the command line");
    app.set_version_flag("--version", std::string("kvidf ") + KVIDF_VERSION + "\nKVIABDB library " +
                                          KVIDF_LIBRARY_VERSION,
                         "show kvidf's and the library's versions");
    app.require_subcommand(1);
    app.fallthrough();  // the global options may follow the command
    Options& options = GlobalOptions();
    app.add_option("--windows-dir", options.windowsDir,
                   "the Windows directory (the books are in its KVI32 folder); default: $KVI_WINDOWS_DIR, "
                   "else the library's default");
    app.add_flag("--json", options.json, "machine-readable output");
    app.add_option("--locker", options.locker, "locker name left while kvidf holds a lock (default: login name)")
        ->check(MaxChars(199));
    app.add_option("--wait", options.waitMs, "milliseconds to wait for a book lock held elsewhere (default 0)");
    app.add_flag("--show-passwords", options.showPasswords, "show the users' passwords in lists (masked otherwise)");

    AddAddressCommands(app);
    AddUserCommands(app);
    AddAffixCommands(app);
    AddFolderCommands(app);
    AddGlobalCommands(app);
    AddLockCommands(app);
    AddTransferCommands(app);
    AddInspectCommand(app);
    AddBackupCommands(app);
    AddCheckCommands(app);
    // Set last, so that the subcommands' help does not repeat the table.
    app.footer(ExitCodeHelp());

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        std::cout << e.what() << "\n";
        return kOk;
    } catch (const CLI::ParseError& e) {
        std::string message = e.what();
        const std::string hint = Suggestion(app);
        if (!hint.empty()) message = hint;
        // --json may not have been parsed: look for it.
        for (int i = 1; i < argc; ++i)
            if (std::string(argv[i]) == "--json") options.json = true;
        return Fail(kUsage, message + (hint.empty() ? "; see kvidf --help" : ""));
    }
    if (!options.windowsDir.empty()) setenv("KVI_WINDOWS_DIR", options.windowsDir.c_str(), 1);

    CLI::App* command = &app;
    while (!command->get_subcommands().empty()) command = command->get_subcommands().front();
    const std::function<void()>* work = WorkOf(command);
    if (!work) return Fail(kUsage, "no command given; see kvidf --help");
    try {
        (*work)();
    } catch (const Failure& f) {
        return Fail(f.Code(), f.what(), f.Quiet());
    } catch (const std::exception& e) {
        return Fail(kFailed, e.what());
    } catch (...) {
        return Fail(kFailed, "an unexpected error ended the command");
    }
    return kOk;
}

}  // namespace

}  // namespace kvidf

int main(int argc, char** argv) {
    try {
        return kvidf::Run(argc, argv);
    } catch (...) {
        // Nothing escapes main: not even a failure to print a failure.
        std::cerr << "kvidf: an unexpected error ended the command\n";
        return kvidf::kFailed;
    }
}
