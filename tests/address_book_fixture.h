// Helpers of the address book tests: a client session (initialized, book
// open, lock held) in a private Windows directory, entries, and raw book
// files built byte by byte.
#ifndef KVI_TESTS_ADDRESS_BOOK_FIXTURE_H
#define KVI_TESTS_ADDRESS_BOOK_FIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kviabdb.h"
#include "support/raw_bytes.h"
#include "support/test_support.h"

namespace kvi::test {

inline AddressRecord Entry(const char* name, const char* address, uint16_t type, const char* phone = "") {
    AddressRecord e;
    std::memset(&e, 0, sizeof e);
    e.size = sizeof e;
    Put(e.name, sizeof e.name, name);
    Put(e.address, sizeof e.address, address);
    Put(e.phoneNumber, sizeof e.phoneNumber, phone);
    e.connectionType = type;
    return e;
}


// One record's encoding: length, five texts, type, value, id.
inline std::string Encoded(const std::string& address, const std::string& phone, const std::string& x1,
                           const std::string& x2, const std::string& name, uint16_t type, uint32_t value,
                           uint32_t id) {
    std::string body = address + '\0' + phone + '\0' + x1 + '\0' + x2 + '\0' + name + '\0' + Bytes(type) +
                       Bytes(value) + Bytes(id);
    return Bytes(static_cast<uint32_t>(body.size() + 4)) + body;
}

struct RawEntry {
    uint16_t type;
    uint32_t length, count, offset, lastId;
};

inline std::string RawHeader(const char* bookTag, uint16_t entryCount, uint32_t dataLength,
                             const char* password = "", uint16_t flag = 0) {
    std::string h(44, '\0');
    const uint16_t size = 44, entrySize = 18;
    h.replace(0, 2, Bytes(size));
    h.replace(2, 4, "^*$%");
    h.replace(6, 4, bookTag);
    h.replace(10, 4, "DF10");
    h.replace(14, 2, Bytes(entryCount));
    h.replace(16, 2, Bytes(entrySize));
    h.replace(18, 4, Bytes(dataLength));
    h.replace(22, 4, Bytes(static_cast<uint32_t>(44 + 18 * entryCount)));
    h.replace(26, std::strlen(password), password);
    h.replace(42, 2, Bytes(flag));
    return h;
}

inline std::string RawDirectory(const RawEntry& e) {
    return Bytes(e.type) + Bytes(e.length) + Bytes(e.count) + Bytes(e.offset) + Bytes(e.lastId);
}

// An address book file with one type-100 section holding these records.
inline std::string RawBook(const std::vector<std::string>& records, uint32_t lastId) {
    std::string data;
    for (const auto& r : records) data += r;
    const RawEntry e{100, static_cast<uint32_t>(data.size()), static_cast<uint32_t>(records.size()), 62, lastId};
    return RawHeader("^*($", 1, static_cast<uint32_t>(data.size())) + RawDirectory(e) + data;
}

// A client of the address book: initialized, book open, lock held.
class AddressBookSession : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(1, KviDfInitialize());
        ASSERT_EQ(1, KviDfOpenAddressBook(0));
        ASSERT_EQ(1, KviDfLockAddressBook(locker_));
    }
    void TearDown() override {
        KviDfUnlockAddressBook();
        KviDfCloseAddressBook();
        KviDfTerminate();
    }
    // Closes and opens again: the book as last committed.
    void Reopen() {
        KviDfCloseAddressBook();
        ASSERT_EQ(1, KviDfOpenAddressBook(0));
    }
    uint32_t Add(const char* name, const char* address, uint16_t type) {
        AddressRecord e = Entry(name, address, type);
        EXPECT_EQ(1, KviDfAddAddress(&e, 0, nullptr));
        return e.id;
    }
    std::string BookPath() const { return dir_.BookPath("MERIDOX.PBK"); }

    TempWindowsDir dir_;
    char locker_[16] = "tester";
};

}  // namespace kvi::test

#endif
