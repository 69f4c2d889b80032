// kvidf: the command-line client of KVIABDB. It works through the public
// header and the library's exports only, as any client program does;
// `kvidf inspect` alone reads a book file itself (inspect_command.cpp).
#include <cstdlib>
#include <iostream>
#include <map>

#include "commands.h"
#include "exit_codes.h"
#include "session.h"

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

void Print(const nlohmann::json& j, const std::string& text) {
    if (GlobalOptions().json) {
        std::cout << j.dump(2) << "\n";
    } else {
        std::cout << text;
        if (text.empty() || text.back() != '\n') std::cout << "\n";
    }
}

CLI::Validator MaxChars(size_t n) {
    return CLI::Validator(
        [n](std::string& s) {
            return s.size() > n ? "is " + std::to_string(s.size()) + " characters; at most " + std::to_string(n) +
                                      " fit"
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
        std::cout << nlohmann::json{{"error", ExitCodeName(code)}, {"exit", code}, {"message", message}}.dump(2)
                  << "\n";
    std::cerr << "kvidf: " << message << "\n";
    return code;
}

int Run(int argc, char** argv) {
    CLI::App app("kvidf: the address book and the security book from the command line");
    app.footer(ExitCodeHelp());
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

    AddAddressCommands(app);
    AddUserCommands(app);
    AddAffixCommands(app);
    AddFolderCommands(app);
    AddGlobalCommands(app);
    AddLockCommands(app);
    AddTransferCommands(app);
    AddInspectCommand(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kUsage;
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
    }
    return kOk;
}

}  // namespace

}  // namespace kvidf

int main(int argc, char** argv) { return kvidf::Run(argc, argv); }
