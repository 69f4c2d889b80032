#include "exit_codes.h"

namespace kvidf {

const char* ExitCodeHelp() {
    return "Exit status:\n"
           "  0   success\n"
           "  1   the library refused or failed (start-up, commit)\n"
           "  2   bad command line\n"
           "  3   the book is locked by another process\n"
           "  4   the book is full (800 entries)\n"
           "  5   the name or address is taken\n"
           "  6   the entry does not exist\n"
           "  7   the book file is not a book of that kind (or is damaged)\n"
           "  8   the folder KVI32 is missing from the Windows directory\n"
           "  9   wrong current password\n"
           "  10  check, inspect, backup: the book is damaged (the library would refuse it)\n"
           "  11  a file given on the command line cannot be read or written, or is not valid JSON\n"
           "  12  no book yet: read-only commands never create a book\n";
}

const char* ExitCodeName(int code) {
    switch (code) {
        case kOk: return "ok";
        case kFailed: return "failed";
        case kUsage: return "usage";
        case kLocked: return "locked";
        case kFull: return "full";
        case kDuplicate: return "duplicate";
        case kNotFound: return "not-found";
        case kNotABook: return "not-a-book";
        case kNoFolder: return "no-kvi32-folder";
        case kPassword: return "wrong-password";
        case kDamaged: return "damaged";
        case kFileError: return "file-error";
        case kNoBook: return "no-book";
        default: return "unknown";
    }
}

}  // namespace kvidf
