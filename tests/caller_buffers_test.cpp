// Caller buffers at the exports: nothing is written beyond what was
// checked or beyond what the export copies, texts are read through
// read-only pages, and caller scalars may sit at any address.
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "frame/buffer_check.h"
#include "security_book_fixture.h"

namespace kvi::test {
namespace {

const size_t kPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));

// Three pages: read-write, then `second`, then no access.
class PageRun {
public:
    explicit PageRun(int second) {
        base_ = static_cast<char*>(mmap(nullptr, 3 * kPage, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (base_ == MAP_FAILED) return;
        mprotect(base_, kPage, PROT_READ | PROT_WRITE);
        if (second != PROT_NONE) {
            mprotect(base_ + kPage, kPage, PROT_READ | PROT_WRITE);
            std::memset(base_ + kPage, 'z', kPage);
            mprotect(base_ + kPage, kPage, second);
        }
    }
    ~PageRun() {
        if (base_ != MAP_FAILED) munmap(base_, 3 * kPage);
    }
    bool Ok() const { return base_ != MAP_FAILED; }
    // The first byte of the second page.
    char* Boundary() const { return base_ + kPage; }
    // Writes text so that it starts `before` bytes before the boundary and
    // runs on into the second page (made writable for the moment).
    char* Place(const std::string& text, size_t before, int second) const {
        mprotect(Boundary(), kPage, PROT_READ | PROT_WRITE);
        char* at = Boundary() - before;
        std::memcpy(at, text.c_str(), text.size() + 1);
        mprotect(Boundary(), kPage, second);
        return at;
    }

private:
    char* base_;
};

class CallerBuffers : public BothBooksSession {
protected:
    void SetPassword(const char* text) {
        char pw[32], old[32];
        char stored[16];
        uint32_t flag = 0;
        ASSERT_EQ(1, KviDfAddressBookPasswd(stored, &flag));
        std::strcpy(pw, text);
        std::strcpy(old, stored);
        ASSERT_EQ(1, KviDfAddressBookSetPasswd(pw, 1, old));
    }
};

// The password buffer is checked for the password and its NUL, and only
// those bytes are written.
TEST_F(CallerBuffers, PasswordReadWritesOnlyThePasswordAndItsNul) {
    PageRun pages(PROT_NONE);
    ASSERT_TRUE(pages.Ok());
    struct Case {
        const char* stored;
        size_t room;  // bytes before the inaccessible page
        int expected;
    } const cases[] = {
        {"abc", 4, 1},                // exactly the text and its NUL
        {"abc", 3, 0},                // no room for the NUL
        {"Secret", 4, 0},             // the crash of a 16-byte write
        {"", 1, 1},                   // an empty password needs one byte
        {"FifteenCharsXYZ", 16, 1},   // the longest password
        {"FifteenCharsXYZ", 15, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.stored) + " in " + std::to_string(c.room));
        SetPassword(c.stored);
        char* buffer = pages.Boundary() - c.room;
        std::memset(buffer, 'x', c.room);
        uint32_t flag = 77;
        ASSERT_EQ(c.expected, KviDfAddressBookPasswd(buffer, &flag));
        if (c.expected) {
            EXPECT_STREQ(c.stored, buffer);
            EXPECT_EQ(1u, flag);
        } else {
            EXPECT_EQ(std::string(c.room, 'x'), std::string(buffer, c.room));  // nothing written
            EXPECT_EQ(77u, flag);
        }
    }
    // Bytes after the NUL stay as the caller left them.
    SetPassword("abc");
    char wide[16];
    std::memset(wide, 'x', sizeof wide);
    uint32_t flag = 0;
    ASSERT_EQ(1, KviDfAddressBookPasswd(wide, &flag));
    EXPECT_EQ(std::string("abc\0xxxxxxxxxxxx", 16), std::string(wide, 16));
    // A flag that runs into the inaccessible page refuses the call before
    // the password is written.
    EXPECT_EQ(0, KviDfAddressBookPasswd(wide + 8, reinterpret_cast<uint32_t*>(pages.Boundary() - 2)));
    EXPECT_EQ('x', wide[8]);
}

// A caller's text is read up to its NUL through pages that are readable,
// writable or not; only unreadable memory cuts it.
TEST_F(CallerBuffers, TextsAreReadOnIntoReadOnlyPages) {
    const std::string text(40, 'n');
    struct Case {
        const char* what;
        int second;
        size_t before;
        uint32_t expected;  // BoundedLength with a limit of 100
    } const cases[] = {
        {"into a read-only page", PROT_READ, 10, 40},
        {"into a read-write page", PROT_READ | PROT_WRITE, 10, 40},
        {"into an inaccessible page", PROT_NONE, 10, 10},
        {"ending on the last byte before it", PROT_NONE, 41, 40},
    };
    for (const Case& c : cases) {
        PageRun pages(c.second);
        ASSERT_TRUE(pages.Ok());
        char* at = c.second == PROT_NONE ? pages.Boundary() - c.before : pages.Place(text, c.before, c.second);
        if (c.second == PROT_NONE) {
            std::memset(at, 'n', c.before);
            if (c.before > text.size()) at[text.size()] = '\0';
        }
        EXPECT_EQ(c.expected, BoundedLength(at, 100)) << c.what;
    }
    // Through the exports: a locker name and a password that start in a
    // writable page and end in a read-only one are kept whole.
    PageRun pages(PROT_READ);
    ASSERT_TRUE(pages.Ok());
    KviDfUnlockAddressBook();
    char* name = pages.Place("locker-across-pages", 6, PROT_READ);
    ASSERT_EQ(1, KviDfLockAddressBook(name));
    char got[64];
    ASSERT_EQ(1, KviDfGetAddressLocker(got, sizeof got));
    EXPECT_STREQ("locker-across-pages", got);
    char* pw = pages.Place("pass-across", 4, PROT_READ);
    char none[] = "";
    ASSERT_EQ(1, KviDfAddressBookSetPasswd(pw, 1, none));
    uint32_t flag = 0;
    ASSERT_EQ(1, KviDfAddressBookPasswd(got, &flag));
    EXPECT_STREQ("pass-across", got);
}

// Index and flag out-pointers at odd addresses are written whole (the
// sanitizer build would abort on a misaligned u32 store).
TEST_F(CallerBuffers, ScalarsAtUnalignedAddresses) {
    alignas(8) uint8_t raw[16];
    uint32_t* odd = reinterpret_cast<uint32_t*>(raw + 1);
    auto value = [&] {
        uint32_t v;
        std::memcpy(&v, raw + 1, 4);
        return v;
    };
    AddressRecord address;
    std::memset(&address, 0, sizeof address);
    std::strcpy(address.name, "a");
    std::strcpy(address.address, "a");
    address.connectionType = 2;
    SecurityEntry user = User("u");
    AffixEntry prefix = Affix("p"), suffix = Affix("s");
    FolderSecurityEntry folder = Folder("");
    const KviListHandle lists[] = {KviDfCreateAddressList(), KviDfCreateSecurityList(), KviDfCreatePrefixList(),
                                   KviDfCreateSuffixList(), CreateFolderSecurityList()};
    struct Case {
        const char* what;
        std::function<int32_t()> add;
    } const cases[] = {
        {"address", [&] { return KviDfAddAddress(&address, lists[0], odd); }},
        {"user", [&] { return KviDfAddSecurityEntry(&user, lists[1], odd); }},
        {"prefix", [&] { return KviDfAddPrefixEntry(&prefix, lists[2], odd); }},
        {"suffix", [&] { return KviDfAddSuffixEntry(&suffix, lists[3], odd); }},
        {"folder", [&] { return AddFolderSecurityEntry(&folder, lists[4], odd); }},
    };
    for (const Case& c : cases) {
        std::memset(raw, 0xEE, sizeof raw);
        ASSERT_EQ(1, c.add()) << c.what;
        EXPECT_EQ(0u, value()) << c.what;  // the first position of an empty list
        EXPECT_EQ(0xEE, raw[0]) << c.what;
        EXPECT_EQ(0xEE, raw[5]) << c.what;
    }
    SetPassword("pw");
    std::memset(raw, 0xEE, sizeof raw);
    char pw[16];
    ASSERT_EQ(1, KviDfAddressBookPasswd(pw, odd));
    EXPECT_EQ(1u, value());
    EXPECT_EQ(0xEE, raw[5]);
    KviDfDestroyAddressList(lists[0]);
    KviDfDestroySecurityList(lists[1]);
    KviDfDestroyAffixList(lists[2]);
    KviDfDestroyAffixList(lists[3]);
    DestroyFolderSecurityList(lists[4]);
}

// The get exports copy each text with its NUL and nothing after it.
TEST_F(CallerBuffers, GetsLeaveTheBytesAfterEachTextAlone) {
    AddressRecord address;
    std::memset(&address, 0, sizeof address);
    std::strcpy(address.name, "n");
    std::strcpy(address.address, "a");
    std::strcpy(address.phoneNumber, "p");
    std::strcpy(address.extraText1, "1");
    std::strcpy(address.extraText2, "2");
    address.connectionType = 2;
    ASSERT_EQ(1, KviDfAddAddress(&address, 0, nullptr));
    SecurityEntry user = User("u", "pw");
    std::strcpy(user.extraText, "x");
    ASSERT_EQ(1, KviDfAddSecurityEntry(&user, 0, nullptr));
    FolderSecurityEntry folder = Folder("");
    ASSERT_EQ(1, AddFolderSecurityEntry(&folder, 0, nullptr));

    // Each field's first bytes as the book holds them, then the filler.
    auto expectKept = [](const char* field, size_t size, const char* text, const char* what) {
        const size_t n = std::strlen(text);
        EXPECT_EQ(std::string(text, n + 1), std::string(field, n + 1)) << what;
        EXPECT_EQ(std::string(size - n - 1, '\x5A'), std::string(field + n + 1, size - n - 1)) << what;
    };
    AddressRecord a;
    std::memset(&a, 0x5A, sizeof a);
    a.id = address.id;
    ASSERT_EQ(1, KviDfGetAddress(&a));
    expectKept(a.name, sizeof a.name, "n", "address name");
    expectKept(a.address, sizeof a.address, "a", "address");
    expectKept(a.phoneNumber, sizeof a.phoneNumber, "p", "phone number");
    expectKept(a.extraText1, sizeof a.extraText1, "1", "extra text 1");
    expectKept(a.extraText2, sizeof a.extraText2, "2", "extra text 2");
    EXPECT_EQ(2, a.connectionType);

    for (bool byName : {false, true}) {
        SecurityEntry u;
        std::memset(&u, 0x5A, sizeof u);
        if (byName)
            std::strcpy(u.name, "U");
        else
            u.id = user.id;
        ASSERT_EQ(1, byName ? KviDfGetSecurityByName(&u) : KviDfGetSecurity(&u));
        expectKept(u.name, sizeof u.name, "u", "user name");
        expectKept(u.password, sizeof u.password, "pw", "password");
        expectKept(u.extraText, sizeof u.extraText, "x", "user extra text");
        EXPECT_EQ(user.id, u.id);
    }

    FolderSecurityEntry f;
    std::memset(&f, 0x5A, sizeof f);
    f.id = folder.id;
    ASSERT_EQ(1, GetFolderSecurity(&f));
    expectKept(f.path, sizeof f.path, "", "path");
    EXPECT_EQ(7u, f.extraValue);
}

}  // namespace
}  // namespace kvi::test
