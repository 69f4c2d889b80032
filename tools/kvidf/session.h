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
};

Options& GlobalOptions();

// The Windows directory this run uses, as the library will see it.
std::string WindowsDir();
std::string LockerName();

// The library refuses texts in read-only memory, and may write through
// the pointers it is given: every text goes to it from a buffer of ours.
class TextArg {
public:
    explicit TextArg(const std::string& text) : bytes_(text.begin(), text.end()) { bytes_.push_back('\0'); }
    char* get() { return bytes_.data(); }

private:
    std::vector<char> bytes_;
};

// Copies text into a fixed field of the library's records; the command
// line has already refused texts that do not fit.
void SetField(char* field, size_t fieldSize, const std::string& text);
template <size_t N>
void SetField(char (&field)[N], const std::string& text) {
    SetField(field, N, text);
}
// A field read back, never past its end even when unterminated.
template <size_t N>
std::string FieldText(const char (&field)[N]) {
    size_t n = 0;
    while (n < N && field[n] != '\0') ++n;
    return std::string(field, n);
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

// Opens the book (reading needs no lock) and closes it at the end. A
// failed open is told precisely: no KVI32 folder, a file that is not that
// book, or a file that could not be created.
class OpenBook {
public:
    explicit OpenBook(Book book);
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

// The name the holder of a book's lock left, "" when none; the book must
// be open.
std::string LockerOf(Book book);

// Commits the book (which must be locked and open); a failure throws.
void Commit(Book book, bool force = false);

// Lock, then open: the guards of one change.
struct Change {
    explicit Change(Book book) : lock(book), open(book) {}
    BookLock lock;
    OpenBook open;
};

}  // namespace kvidf

#endif
