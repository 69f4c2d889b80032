// kvidf's exit statuses: one per kind of failure, so that scripts can tell
// a locked book from a full one without reading the message.
#ifndef KVIDF_EXIT_CODES_H
#define KVIDF_EXIT_CODES_H

#include <stdexcept>
#include <string>

namespace kvidf {

enum Exit : int {
    kOk = 0,
    kFailed = 1,        // the library refused or failed (a commit, the start-up)
    kUsage = 2,         // bad command line
    kLocked = 3,        // the book is locked by another process
    kFull = 4,          // the table already holds 800 entries
    kDuplicate = 5,     // the name or address is taken
    kNotFound = 6,      // no entry has that id or name
    kNotABook = 7,      // the book file is not a book (or is damaged)
    kNoFolder = 8,      // the folder KVI32 is missing
    kPassword = 9,      // the current password given is wrong
    kDamaged = 10,      // inspect found damage
    kFileError = 11,    // a file named on the command line cannot be read or written, or is not valid JSON
    kNoBook = 12,       // a read-only command found no book (it never creates one)
};

// The table printed by kvidf --help.
const char* ExitCodeHelp();
// Short machine name of a code ("locked", "full", ...), for --json.
const char* ExitCodeName(int code);

// Thrown by any command; main prints the message and exits with the code.
// A quiet failure has already been reported in the command's output; main
// then only writes its message to standard error.
class Failure : public std::runtime_error {
public:
    Failure(Exit code, const std::string& message, bool quiet = false)
        : std::runtime_error(message), code_(code), quiet_(quiet) {}
    Exit Code() const { return code_; }
    bool Quiet() const { return quiet_; }

private:
    Exit code_;
    bool quiet_;
};

}  // namespace kvidf

#endif
