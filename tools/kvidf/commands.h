// The command groups of kvidf, each adding its subcommands to the app.
// A subcommand's work is registered with OnRun and runs after the whole
// command line has been parsed (and --windows-dir applied).
#ifndef KVIDF_COMMANDS_H
#define KVIDF_COMMANDS_H

#include <functional>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

namespace kvidf {

void OnRun(CLI::App* command, std::function<void()> work);
// The work of the command the user named; null when there is none.
const std::function<void()>* WorkOf(CLI::App* command);

// --json: the object; otherwise the text (a newline is added when missing).
void Print(const nlohmann::json& j, const std::string& text);

// A text option's limit: the field's width minus its NUL.
CLI::Validator MaxChars(size_t n);
// on|off as a bool option.
CLI::Transformer OnOff();

void AddAddressCommands(CLI::App& app);
void AddCsvCommands(CLI::App& address);  // address export|import --csv
void AddUserCommands(CLI::App& app);
void AddAffixCommands(CLI::App& app);
void AddFolderCommands(CLI::App& app);
void AddGlobalCommands(CLI::App& app);     // global, password
void AddLockCommands(CLI::App& app);       // locks
void AddTransferCommands(CLI::App& app);   // export, import
void AddInspectCommand(CLI::App& app);
void AddBackupCommands(CLI::App& app);     // backup, restore
void AddCheckCommands(CLI::App& app);      // check, recover

// The address book's entries as export writes them; adds entries as
// import does (for the CSV forms of both).
nlohmann::json ReadForCsv();
void ImportEntries(const nlohmann::json& entries, const std::string& name);

// The JSON text kvidf prints and writes.
std::string Dump(const nlohmann::json& j);

}  // namespace kvidf

#endif
