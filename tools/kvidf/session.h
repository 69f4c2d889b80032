// What every command shares: the global options, the library's start-up
// and the book sessions. A change runs as lock, open (so the book read is
// the one last committed), change, commit, close, unlock; the guards here
// release in that order whatever way the command ends.
#ifndef KVIDF_SESSION_H
#define KVIDF_SESSION_H

#include <cstdint>
#include <string>
#include <vector>

#include "kviabdb.h"

namespace kvidf {

struct Options {
    std::string windowsDir;  // empty: the library's own (KVI_WINDOWS_DIR or its default)
    bool json = false;
    std::string locker;      // empty: the login name
    uint32_t waitMs = 0;
    bool showPasswords = false;  // lists mask passwords unless asked
};

Options& GlobalOptions();

// The Windows directory this run uses, as the library will see it.
std::string WindowsDir();
std::string LockerName();

// The books' encoding of a UTF-8 text; a text it cannot hold throws
// Failure(kUsage) naming what.
std::string ToBookText(const std::string& utf8, const std::string& what);

// The library refuses texts in read-only memory, and may write through
// the pointers it is given: every text goes to it from a buffer of ours,
// in the books' encoding.
class TextArg {
public:
    TextArg(const std::string& utf8, const std::string& what);
    char* get() { return bytes_.data(); }

private:
    std::vector<char> bytes_;
};

// Copies a UTF-8 text into a fixed field of the library's records, in the
// books' encoding; the command line has already refused texts that do not
// fit. The whole field is cleared first.
void SetField(char* field, size_t fieldSize, const std::string& utf8);
template <size_t N>
void SetField(char (&field)[N], const std::string& utf8) {
    SetField(field, N, utf8);
}
// A field's bytes, never past its end even when unterminated.
template <size_t N>
std::string RawFieldText(const char (&field)[N]) {
    size_t n = 0;
    while (n < N && field[n] != '\0') ++n;
    return std::string(field, n);
}
// A field read back as UTF-8.
std::string Utf8Field(const char* field, size_t n);
template <size_t N>
std::string FieldText(const char (&field)[N]) {
    return Utf8Field(field, N);
}

// KviDfInitialize for the whole run, KviDfTerminate at its end.
class Library {
public:
    Library();
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
};

enum class Book { kAddress, kSecurity };
const char* BookWord(Book book);  // "address book", "security book"
const char* BookFileName(Book book);  // "MERIDOX.PBK", "MERIDOX.PWD"
// WindowsDir()/KVI32/name
std::string BookPath(Book book);

// Opens the book (reading needs no lock) and closes it at the end. A
// failed open is told precisely: no KVI32 folder, a file that cannot be
// read, a file that is not that book, or a file that could not be created.
// A read-only open never creates the book (which would also consume the
// earlier generation's file): a missing book throws kNoBook.
enum class Access { kReadOnly, kChange };
class OpenBook {
public:
    explicit OpenBook(Book book, Access access = Access::kReadOnly);
    ~OpenBook();
    OpenBook(const OpenBook&) = delete;
    OpenBook& operator=(const OpenBook&) = delete;

private:
    Book book_;
};

// Takes the book's lock with our locker name: the address book lock is
// tried until --wait has passed, the security lock waits up to --wait in
// the library. When another process holds it, says who (the locker name
// it left). Unlocking the security book commits it.
class BookLock {
public:
    explicit BookLock(Book book);
    ~BookLock();
    BookLock(const BookLock&) = delete;
    BookLock& operator=(const BookLock&) = delete;

private:
    Book book_;
};

// Throws kNoBook unless the book's file exists (after the folder check).
void RequireBook(Book book);

// The name the holder of a book's lock left (UTF-8), "" when none; the
// book must be open.
std::string LockerOf(Book book);

// Commits the book (which must be locked and open); a failure throws.
void Commit(Book book, bool force = false);

// Lock, then open: the guards of one change.
struct Change {
    explicit Change(Book book) : lock(book), open(book, Access::kChange) {}
    BookLock lock;
    OpenBook open;
};

}  // namespace kvidf

#endif
