// kvidf locks: who holds each book, from the locker names the holders
// left, checked by trying each lock for an instant.
#include "commands.h"
#include "exit_codes.h"
#include "records.h"
#include "session.h"

namespace kvidf {

namespace {

struct LockState {
    bool held = false;
    std::string locker;  // as the holder left it
};

// Reads the locker name, then tries the lock with no name of ours: a lock
// we win was free (a name then is one left by a holder that ended without
// unlocking; winning the abandoned lock clears it). Unlocking the security
// book commits it, which writes nothing here: nothing was changed.
LockState Probe(Book book) {
    LockState state;
    OpenBook open(book);
    state.locker = LockerOf(book);
    const bool won = book == Book::kAddress ? KviDfLockAddressBook(nullptr) == 1 : KviDfLockSecurityBook(nullptr, 0) == 1;
    if (won) {
        if (book == Book::kAddress) KviDfUnlockAddressBook();
        else KviDfUnlockSecurityBook();
    }
    state.held = !won;
    return state;
}

std::string Describe(Book book, const LockState& s) {
    std::string line = BookWord(book);
    line += ": ";
    if (s.held) line += s.locker.empty() ? "locked (no locker name left)" : "locked by \"" + s.locker + "\"";
    else if (!s.locker.empty()) line += "free (\"" + s.locker + "\" ended without unlocking)";
    else line += "free";
    return line + "\n";
}

}  // namespace

void AddLockCommands(CLI::App& app) {
    OnRun(app.add_subcommand("locks", "who holds each book's lock"), [] {
        Library lib;
        json out = json::object();
        std::string text;
        for (Book book : {Book::kAddress, Book::kSecurity}) {
            const char* key = book == Book::kAddress ? "address" : "security";
            try {
                const LockState s = Probe(book);
                out[key] = {{"locked", s.held}, {"locker", s.locker}};
                text += Describe(book, s);
            } catch (const Failure& f) {
                // The other book may still be told.
                out[key] = {{"error", ExitCodeName(f.Code())}, {"message", f.what()}};
                text += std::string(BookWord(book)) + ": " + f.what() + "\n";
            }
        }
        Print(out, text);
    });
}

}  // namespace kvidf
