#include "stress/stress_books.h"

#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "frame/book_locks.h"
#include "frame/buffer_check.h"
#include "frame/process_state.h"
#include "kviabdb.h"
#include "support/raw_bytes.h"

namespace kvi::stress {
namespace {

using kvi::test::Put;
using kvi::test::U16;
using kvi::test::U32;

std::string AddressOf(int slot, uint32_t key) { return "a" + std::to_string(slot) + "." + std::to_string(key); }

AddressRecord AddressEntry(uint32_t id, int slot, uint32_t key, uint32_t version) {
    AddressRecord e;
    std::memset(&e, 0, sizeof e);
    e.size = sizeof e;
    e.id = id;
    Put(e.name, sizeof e.name, EntryName(slot, key));
    // Network entries: the address must stay unique, so the book's
    // duplicate test runs on every add and update.
    Put(e.address, sizeof e.address, AddressOf(slot, key));
    Put(e.phoneNumber, sizeof e.phoneNumber, std::to_string(version));
    e.connectionType = 2;
    return e;
}

SecurityEntry User(uint32_t id, int slot, uint32_t key, uint32_t version) {
    SecurityEntry e;
    std::memset(&e, 0, sizeof e);
    e.size = sizeof e;
    e.id = id;
    Put(e.name, sizeof e.name, EntryName(slot, key));
    Put(e.password, sizeof e.password, std::to_string(version));
    return e;
}

}  // namespace

void LockBook(Book book, uint32_t timeoutMs) {
    if (book == kAddressBook) {
        // The address lock never waits: poll it.
        while (KviDfLockAddressBook(nullptr) != 1) usleep(100 + static_cast<useconds_t>(getpid() % 7) * 40);
    } else {
        while (KviDfLockSecurityBook(nullptr, timeoutMs) != 1) {
        }
    }
}

std::string StaleLocker(Book book) {
    char name[400];
    const LockerSlot slot = book == kAddressBook ? LockerSlot::kAddress : LockerSlot::kSecurity;
    return GetLocker(slot, name, sizeof name) ? std::string(name) : std::string();
}

void StampLocker(Book book, const char* name) {
    char text[sizeof platform::SharedBlock::securityLocker] = {};
    if (book == kAddressBook) {
        CopyText(text, sizeof platform::SharedBlock::addressLocker, name);
        platform::WriteSharedBlock(offsetof(platform::SharedBlock, addressLocker), text,
                                   sizeof platform::SharedBlock::addressLocker);
    } else {
        CopyText(text, sizeof text, name);
        platform::WriteSharedBlock(offsetof(platform::SharedBlock, securityLocker), text, sizeof text);
    }
}

void UnlockBook(Book book) {
    if (book == kAddressBook) {
        KviDfUnlockAddressBook();
    } else {
        KviDfUnlockSecurityBook();
    }
}

int OpenBook(Book book) { return book == kAddressBook ? KviDfOpenAddressBook(0) : KviDfOpenSecurityBook(nullptr); }

void CloseBook(Book book) {
    if (book == kAddressBook) {
        KviDfCloseAddressBook();
    } else {
        KviDfCloseSecurityBook();
    }
}

int CommitBook(Book book, uint32_t force) {
    return book == kAddressBook ? KviDfCommitAddressBook(force) : KviDfCommitSecurityBook(force);
}

bool ReadEntries(Book book, std::vector<BookEntry>* entries) {
    entries->clear();
    if (book == kAddressBook) {
        const KviListHandle list = KviDfCreateAddressList();
        if (list == 0 || list == ~KviListHandle{0}) return false;
        const int32_t count = KviDfAddressListCount(list);
        for (int32_t i = 0; i < count; ++i) {
            AddressRecord e;
            if (KviDfAddressListItem(list, i, &e) != 1) {
                KviDfDestroyAddressList(list);
                return false;
            }
            if (e.id != 0xFFFFFFFFu) entries->push_back({e.id, e.name, e.phoneNumber});
        }
        KviDfDestroyAddressList(list);
        return true;
    }
    const KviListHandle list = KviDfCreateSecurityList();
    if (list == 0 || list == ~KviListHandle{0}) return false;
    const int32_t count = KviDfSecurityListCount(list);
    for (int32_t i = 0; i < count; ++i) {
        SecurityEntry e;
        if (KviDfSecurityListItem(list, i, &e) != 1) {
            KviDfDestroySecurityList(list);
            return false;
        }
        if (e.id != 0xFFFFFFFFu) entries->push_back({e.id, e.name, e.password});
    }
    KviDfDestroySecurityList(list);
    return true;
}

std::string EntryName(int slot, uint32_t key) { return "w" + std::to_string(slot) + "-k" + std::to_string(key); }

bool ParseEntryName(const std::string& name, int* slot, uint32_t* key) {
    char rest = 0;
    unsigned k = 0;
    int s = -1;
    if (std::sscanf(name.c_str(), "w%d-k%u%c", &s, &k, &rest) != 2) return false;
    if (EntryName(s, k) != name) return false;  // no leading zeros, signs or blanks
    *slot = s;
    *key = k;
    return true;
}

int AddEntry(Book book, int slot, uint32_t key, uint32_t version, uint32_t* id) {
    if (book == kAddressBook) {
        AddressRecord e = AddressEntry(0, slot, key, version);
        const int32_t r = KviDfAddAddress(&e, 0, nullptr);
        *id = e.id;
        return r;
    }
    SecurityEntry e = User(0, slot, key, version);
    const int32_t r = KviDfAddSecurityEntry(&e, 0, nullptr);
    *id = e.id;
    return r;
}

int UpdateEntry(Book book, uint32_t id, int slot, uint32_t key, uint32_t version) {
    if (book == kAddressBook) {
        AddressRecord e = AddressEntry(id, slot, key, version);
        return KviDfUpdateAddress(&e, 0, 0);
    }
    SecurityEntry e = User(id, slot, key, version);
    return KviDfUpdateSecurity(&e, 0, 0);
}

int DeleteEntry(Book book, uint32_t id) {
    return book == kAddressBook ? KviDfDeleteAddress(id, 0, 0) : KviDfDeleteSecurityEntry(id, 0, 0);
}

std::string LegacyAddresses(uint32_t n) {
    std::string data;
    for (uint32_t k = 1; k <= n; ++k) {
        const std::string name = EntryName(9, k);
        data += "old" + std::to_string(k) + '\0' + std::string("555") + '\0' + '\0' + '\0' + "x" + '\0' + "abcd" +
                name + '\0' + U32(2) + U32(0) + "\xFF";
    }
    std::string header(30, '\0');
    header.replace(0, 4, "!(^*");
    header.replace(24, 2, U16(1));
    return header + U16(static_cast<uint16_t>(data.size())) + U16(static_cast<uint16_t>(n)) + U16(0) + data;
}

std::string LegacyUsers(uint32_t n) {
    std::string f = U32(0) + U32(0) + U32(n) + std::string(10, '\0');
    for (uint32_t k = 1; k <= n; ++k) {
        std::string user(40, '\0');
        const std::string name = EntryName(9, k);
        user.replace(0, name.size(), name);
        user.replace(21, 2, "pw");
        f += user;
    }
    return f;
}

}  // namespace kvi::stress
