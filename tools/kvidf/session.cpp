#include "session.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "exit_codes.h"
#include "text_1252.h"

namespace kvidf {

namespace {

// Where the library looks when KVI_WINDOWS_DIR is unset.
constexpr const char kLibraryDefaultDir[] = "/var/lib/kviabdb";
constexpr uint32_t kAddressLockerSize = 200;
constexpr uint32_t kSecurityLockerSize = 400;

void RequireFolder() {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(WindowsDir()) / "KVI32";
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        throw Failure(kNoFolder, "the folder KVI32 is missing: " + folder.string() + " does not exist");
}

[[noreturn]] void ExplainOpenFailure(Book book) {
    namespace fs = std::filesystem;
    RequireFolder();
    const fs::path file = BookPath(book);
    std::error_code ec;
    const auto status = fs::status(file, ec);
    if (fs::exists(status)) {
        if (fs::is_directory(status))
            throw Failure(kNotABook, file.string() + " is a folder, not the " + BookWord(book));
        if (access(file.c_str(), R_OK) != 0) {
            const int error = errno;
            throw Failure(kFailed, "cannot read the " + std::string(BookWord(book)) + " " + file.string() + ": " +
                                       std::strerror(error));
        }
        throw Failure(kNotABook, file.string() + " is not " + (book == Book::kAddress ? "an " : "a ") +
                                     BookWord(book) + " or is damaged (kvidf check tells why)");
    }
    throw Failure(kFailed, std::string("the ") + BookWord(book) + " could not be created in " +
                               file.parent_path().string());
}

}  // namespace

std::string ToBookText(const std::string& utf8, const std::string& what) {
    std::string why;
    if (auto bytes = Utf8To1252(utf8, &why)) return *bytes;
    throw Failure(kUsage, what + " " + why);
}

TextArg::TextArg(const std::string& utf8, const std::string& what) {
    const std::string bytes = ToBookText(utf8, what);
    bytes_.assign(bytes.begin(), bytes.end());
    bytes_.push_back('\0');
}

std::string Utf8Field(const char* field, size_t n) {
    size_t len = 0;
    while (len < n && field[len] != '\0') ++len;
    return Utf8From1252(std::string(field, len));
}

const char* BookFileName(Book book) { return book == Book::kAddress ? "MERIDOX.PBK" : "MERIDOX.PWD"; }

std::string BookPath(Book book) {
    return (std::filesystem::path(WindowsDir()) / "KVI32" / BookFileName(book)).string();
}

void RequireBook(Book book) {
    RequireFolder();
    std::error_code ec;
    if (!std::filesystem::exists(BookPath(book), ec))
        throw Failure(kNoBook, std::string("no ") + BookWord(book) + " yet: " + BookPath(book) +
                                   " does not exist (read-only commands never create it)");
}

Options& GlobalOptions() {
    static Options options;
    return options;
}

std::string WindowsDir() {
    const char* dir = std::getenv("KVI_WINDOWS_DIR");
    return dir && *dir ? dir : kLibraryDefaultDir;
}

std::string LockerName() {
    if (!GlobalOptions().locker.empty()) return GlobalOptions().locker;
    if (const char* login = getlogin()) return login;
    if (const char* user = std::getenv("USER")) return user;
    return "kvidf";
}

void SetField(char* field, size_t fieldSize, const std::string& utf8) {
    const std::string text = ToBookText(utf8, "the text \"" + utf8 + "\"");
    std::memset(field, 0, fieldSize);
    std::memcpy(field, text.data(), std::min(text.size(), fieldSize - 1));
}

const char* BookWord(Book book) { return book == Book::kAddress ? "address book" : "security book"; }

Library::Library() {
    if (KviDfInitialize() != 1) throw Failure(kFailed, "the library could not start (KviDfInitialize failed)");
}

Library::~Library() { KviDfTerminate(); }

OpenBook::OpenBook(Book book, Access access) : book_(book) {
    if (access == Access::kReadOnly) RequireBook(book);
    const int32_t opened = book == Book::kAddress ? KviDfOpenAddressBook(0) : KviDfOpenSecurityBook(nullptr);
    if (opened != 1) {
        if (book == Book::kAddress) KviDfCloseAddressBook();
        else KviDfCloseSecurityBook();
        ExplainOpenFailure(book);
    }
}

OpenBook::~OpenBook() {
    if (book_ == Book::kAddress) KviDfCloseAddressBook();
    else KviDfCloseSecurityBook();
}

std::string LockerOf(Book book) {
    char name[kSecurityLockerSize] = {};
    const int32_t got = book == Book::kAddress ? KviDfGetAddressLocker(name, kAddressLockerSize)
                                               : KviDfGetSecurityLocker(name, kSecurityLockerSize);
    return got == 1 ? Utf8Field(name, sizeof name) : std::string();
}

BookLock::BookLock(Book book) : book_(book) {
    TextArg locker(LockerName(), "the locker name");
    const uint32_t wait = GlobalOptions().waitMs;
    bool locked = false;
    if (book == Book::kAddress) {
        // The address book lock never waits; --wait is honoured by trying again.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait);
        while (!(locked = KviDfLockAddressBook(locker.get()) == 1) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } else {
        locked = KviDfLockSecurityBook(locker.get(), wait) == 1;
    }
    if (locked) return;
    std::string holder;
    try {
        OpenBook open(book);  // the locker name is read from an open book
        holder = LockerOf(book);
    } catch (const Failure&) {
        // Who holds it stays unknown; the lock is the news.
    }
    throw Failure(kLocked, std::string("the ") + BookWord(book) + " is locked by " +
                               (holder.empty() ? std::string("another process (it left no locker name)")
                                               : "\"" + holder + "\""));
}

BookLock::~BookLock() {
    if (book_ == Book::kAddress) KviDfUnlockAddressBook();
    else KviDfUnlockSecurityBook();
}

void Commit(Book book, bool force) {
    const int32_t done = book == Book::kAddress ? KviDfCommitAddressBook(force) : KviDfCommitSecurityBook(force);
    if (done != 1)
        throw Failure(kFailed, std::string("the ") + BookWord(book) +
                                   " could not be written; the file holds what was last committed");
}

}  // namespace kvidf
