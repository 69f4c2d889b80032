// Exports of the address book file and its password. Each makes its
// checks in the library's fixed order (book open, lock, caller buffers,
// list handle, initialized, then its own) and answers 0 at the first that
// fails, changing nothing.
#include <new>

#include "address/address_book_file.h"
#include "frame/book_locks.h"
#include "frame/buffer_check.h"
#include "frame/process_state.h"
#include "kviabdb.h"

namespace {

kvi::AddressBookFile* Book() { return kvi::Process().addressBook; }
bool BookOpen() { return Book() && Book()->IsOpen(); }

}  // namespace

int kvi::IsAddressBookOpen() { return BookOpen() ? 1 : 0; }

extern "C" int32_t KVI_API KviDfOpenAddressBook(uint32_t /*unused*/) {
    if (!kvi::IsInitialized()) return 0;
    if (!Book()) {
        kvi::Process().addressBook = new (std::nothrow) kvi::AddressBookFile();
        if (!Book()) return 0;
    }
    if (Book()->IsOpen()) return 1;
    return Book()->Load();
}

extern "C" void KVI_API KviDfCloseAddressBook() {
    if (!kvi::IsInitialized() || !Book()) return;
    delete Book();
    kvi::Process().addressBook = nullptr;
}

extern "C" int32_t KVI_API KviDfCommitAddressBook(uint32_t force) {
    if (!BookOpen()) return 0;
    if (!kvi::IsAddressBookLocked()) return 0;
    if (!Book() || !kvi::IsInitialized()) return 0;
    return Book()->Commit(force != 0 ? 1 : 0);
}

extern "C" int32_t KVI_API KviDfAddressBookPasswd(char* password, uint32_t* flag) {
    if (!BookOpen()) return 0;
    // The buffer is checked for exactly what is written into it, the
    // password and its NUL, so a buffer shorter than 16 bytes that holds
    // them passes and one that does not is refused before anything is
    // written.
    if (!kvi::IsWritableBuffer(password, Book()->PasswordLength() + 1) || !kvi::IsWritableBuffer(flag, 4)) return 0;
    if (!password || !flag) return 0;  // both are filled
    if (!kvi::IsInitialized() || !Book()) return 0;
    return Book()->GetPassword(password, flag);
}

extern "C" int32_t KVI_API KviDfAddressBookSetPasswd(char* newPassword, uint32_t flag, char* oldPassword) {
    if (!BookOpen()) return 0;
    if (!kvi::IsWritableBuffer(newPassword, 0) || !kvi::IsWritableBuffer(oldPassword, 0)) return 0;
    if (!Book() || !kvi::IsInitialized()) return 0;
    if (!kvi::IsAddressBookLocked()) return 0;
    return Book()->SetPassword(newPassword, static_cast<uint16_t>(flag), oldPassword);
}
