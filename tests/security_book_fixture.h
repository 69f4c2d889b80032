// Helpers of the security book tests: a client session (initialized, book
// open, security lock held) in a private Windows directory, entries, and
// raw security book files built byte by byte.
#ifndef KVI_TESTS_SECURITY_BOOK_FIXTURE_H
#define KVI_TESTS_SECURITY_BOOK_FIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kviabdb.h"
#include "support/raw_bytes.h"
#include "support/test_support.h"

namespace kvi::test {

template <class T>
T Zeroed() {
    T value;
    std::memset(&value, 0, sizeof value);
    return value;
}

inline SecurityEntry User(const char* name, const char* password = "pw") {
    SecurityEntry e = Zeroed<SecurityEntry>();
    e.size = sizeof e;
    std::strncpy(e.name, name, sizeof e.name - 1);
    std::strncpy(e.password, password, sizeof e.password - 1);
    e.extraValue = 11;
    e.extraWord = 1;
    return e;
}

inline AffixEntry Affix(const char* name, const char* text = "9,") {
    AffixEntry e = Zeroed<AffixEntry>();
    e.size = sizeof e;
    std::strncpy(e.name, name, sizeof e.name - 1);
    std::strncpy(e.affixText, text, sizeof e.affixText - 1);
    return e;
}

inline FolderSecurityEntry Folder(const std::string& path, uint32_t value = 7) {
    FolderSecurityEntry e = Zeroed<FolderSecurityEntry>();
    e.size = sizeof e;
    e.extraValue = value;
    e.extraWord = 3;
    std::strncpy(e.path, path.c_str(), sizeof e.path - 1);
    return e;
}

// Packed records: length, id, then the fields of the type.
inline std::string Packed(uint32_t id, const std::string& fields) {
    return Bytes(static_cast<uint32_t>(fields.size() + 8)) + Bytes(id) + fields;
}
inline std::string PackedAffix(uint32_t id, const std::string& name, const std::string& text) {
    return Packed(id, name + '\0' + text + '\0');
}
inline std::string PackedUser(uint32_t id, const std::string& name, const std::string& password) {
    return Packed(id, name + '\0' + password + '\0' + Bytes(uint32_t{11}) + Bytes(uint16_t{1}) + '\0');
}
inline std::string PackedFolder(uint32_t id, const std::string& path) {
    return Packed(id, Bytes(uint32_t{7}) + Bytes(uint16_t{3}) + path + '\0');
}

struct RawSection {
    uint16_t type;
    std::string bytes;
    uint32_t count;
    uint32_t lastId;
};

// A security book file with these sections, in this directory order, laid
// out back to back after the directory.
inline std::string RawSecurityBook(const std::vector<RawSection>& sections) {
    const uint16_t n = static_cast<uint16_t>(sections.size());
    const uint32_t dataOffset = 44 + 18 * n;
    std::string data, dir;
    for (const auto& s : sections) {
        dir += Bytes(s.type) + Bytes(static_cast<uint32_t>(s.bytes.size())) + Bytes(s.count) +
               Bytes(static_cast<uint32_t>(dataOffset + data.size())) + Bytes(s.lastId);
        data += s.bytes;
    }
    std::string h(44, '\0');
    h.replace(0, 2, Bytes(uint16_t{44}));
    h.replace(2, 4, "^*$%");
    h.replace(6, 4, "^*%$");
    h.replace(10, 4, "DF10");
    h.replace(14, 2, Bytes(n));
    h.replace(16, 2, Bytes(uint16_t{18}));
    h.replace(18, 4, Bytes(static_cast<uint32_t>(data.size())));
    h.replace(22, 4, Bytes(dataOffset));
    return h + dir + data;
}

// A 296-byte global section of defaults with this mode.
inline std::string RawGlobal(uint32_t mode = 1) {
    GlobalSecurity g = Zeroed<GlobalSecurity>();
    g.size = 296;
    g.mode = mode;
    g.flags = 0x0032C00B;
    g.extraWord1 = 18;
    g.extraWord2 = 1;
    return Bytes(g);
}

struct DirEntry {
    uint16_t type;
    uint32_t length, count, offset, lastId;
};
inline DirEntry DirectoryEntry(const std::string& file, int i) {
    const size_t at = 44 + 18 * static_cast<size_t>(i);
    return {At<uint16_t>(file, at), At<uint32_t>(file, at + 2), At<uint32_t>(file, at + 6),
            At<uint32_t>(file, at + 10), At<uint32_t>(file, at + 14)};
}

// A client of the security book: initialized, book open, lock held.
class SecuritySession : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(1, KviDfInitialize());
        ASSERT_EQ(1, KviDfOpenSecurityBook(nullptr));
        ASSERT_EQ(1, KviDfLockSecurityBook(locker_, 1000));
    }
    void TearDown() override {
        while (KviDfUnlockSecurityBook() == 1) {
        }
        KviDfCloseSecurityBook();
        KviDfTerminate();
    }
    // Commits, closes and opens again: the book as the file holds it.
    void CommitAndReopen() {
        ASSERT_EQ(1, KviDfCommitSecurityBook(0));
        KviDfCloseSecurityBook();
        ASSERT_EQ(1, KviDfOpenSecurityBook(nullptr));
    }
    std::string BookPath() const { return dir_.BookPath("MERIDOX.PWD"); }
    std::string BookBytes() const { return ReadFile(BookPath()); }

    TempWindowsDir dir_;
    char locker_[16] = "tester";
};

// A client of both books, holding both locks.
class BothBooksSession : public SecuritySession {
protected:
    void SetUp() override {
        SecuritySession::SetUp();
        ASSERT_EQ(1, KviDfOpenAddressBook(0));
        ASSERT_EQ(1, KviDfLockAddressBook(locker_));
    }
    void TearDown() override {
        KviDfUnlockAddressBook();
        KviDfCloseAddressBook();
        SecuritySession::TearDown();
    }
};

}  // namespace kvi::test

#endif
