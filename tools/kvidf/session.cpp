#include "session.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "exit_codes.h"

namespace kvidf {

namespace {

// Where the library looks when KVI_WINDOWS_DIR is unset.
constexpr const char kLibraryDefaultDir[] = "/var/lib/kviabdb";
constexpr uint32_t kAddressLockerSize = 200;
constexpr uint32_t kSecurityLockerSize = 400;

const char* FileNameOf(Book book) { return book == Book::kAddress ? "MERIDOX.PBK" : "MERIDOX.PWD"; }

[[noreturn]] void ExplainOpenFailure(Book book) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(WindowsDir()) / "KVI32";
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        throw Failure(kNoFolder, "the folder KVI32 is missing: " + folder.string() + " does not exist");
    const fs::path file = folder / FileNameOf(book);
    if (fs::exists(file, ec))
        throw Failure(kNotABook, file.string() + " is not a " + BookWord(book) +
                                     " or is damaged (kvidf inspect " + file.string() + " tells more)");
    throw Failure(kFailed, std::string("the ") + BookWord(book) + " could not be created in " + folder.string());
}

}  // namespace

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

void SetField(char* field, size_t fieldSize, const std::string& text) {
    std::memset(field, 0, fieldSize);
    std::memcpy(field, text.data(), std::min(text.size(), fieldSize - 1));
}

const char* BookWord(Book book) { return book == Book::kAddress ? "address book" : "security book"; }

Library::Library() {
    if (KviDfInitialize() != 1) throw Failure(kFailed, "the library could not start (KviDfInitialize failed)");
}

Library::~Library() { KviDfTerminate(); }

OpenBook::OpenBook(Book book) : book_(book) {
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
    return got == 1 ? FieldText(name) : std::string();
}

BookLock::BookLock(Book book) : book_(book) {
    TextArg locker(LockerName());
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
    {
        OpenBook open(book);  // the locker name is read from an open book
        holder = LockerOf(book);
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
