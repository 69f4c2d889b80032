// kvidf locks: who holds each book, from the locker names the holders
// left, and whether each lock is free, without changing either. Taking a
// lock whose holder ended without unlocking consumes that news (the next
// taker would hear the lock was simply free), so the attempt is made by a
// child process: a lock it wins free it gives back; one it wins abandoned
// it keeps until it ends, which leaves it abandoned again, as it was.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "commands.h"
#include "exit_codes.h"
#include "records.h"
#include "session.h"

namespace kvidf {

namespace {

enum ChildAnswer { kWonFree = 0, kHeld = 1, kWonAbandoned = 2, kNoStart = 3 };

struct LockState {
    bool held = false;
    std::string locker;  // as the holder left it
};

[[noreturn]] void TryLockAndExit(Book book, bool nameLeft) {
    // A child of a process that holds no lock; it starts the library as
    // any process does.
    if (KviDfInitialize() != 1) _exit(kNoStart);
    const bool won = book == Book::kAddress ? KviDfLockAddressBook(nullptr) == 1
                                            : KviDfLockSecurityBook(nullptr, 0) == 1;
    if (!won) {
        KviDfTerminate();
        _exit(kHeld);
    }
    if (nameLeft) {
        // Won with a name left: its holder ended without unlocking.
        KviDfTerminate();
        _exit(kWonAbandoned);
    }
    // Free: give it back. This process changed nothing, so the security
    // book's unlock has nothing to commit.
    if (book == Book::kAddress) KviDfUnlockAddressBook();
    else KviDfUnlockSecurityBook();
    KviDfTerminate();
    _exit(kWonFree);
}

LockState Probe(Book book) {
    LockState state;
    {
        Library lib;
        OpenBook open(book);
        state.locker = LockerOf(book);
    }
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw Failure(kFailed, "could not start a process to try the lock");
    if (pid == 0) TryLockAndExit(book, !state.locker.empty());
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    const int answer = WIFEXITED(status) ? WEXITSTATUS(status) : kNoStart;
    if (answer == kNoStart) throw Failure(kFailed, "the library could not start to try the lock");
    state.held = answer == kHeld;
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
    OnRun(app.add_subcommand("locks", "who holds each book's lock (changes nothing)"), [] {
        json out = json::object();
        std::string text;
        int failed = kOk;
        for (Book book : {Book::kAddress, Book::kSecurity}) {
            const char* key = book == Book::kAddress ? "address" : "security";
            try {
                const LockState s = Probe(book);
                out[key] = {{"locked", s.held}, {"locker", s.locker}, {"abandoned", !s.held && !s.locker.empty()}};
                text += Describe(book, s);
            } catch (const Failure& f) {
                // The other book may still be told; the run fails all the same.
                out[key] = {{"error", ExitCodeName(f.Code())}, {"message", f.what()}};
                text += std::string(BookWord(book)) + ": " + f.what() + "\n";
                if (failed == kOk) failed = f.Code();
            }
        }
        if (failed != kOk) out["error"] = ExitCodeName(failed);
        Print(out, text);
        if (failed != kOk)
            throw Failure(static_cast<Exit>(failed), "the lock of a book could not be told", true);
    });
}

}  // namespace kvidf
