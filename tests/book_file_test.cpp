// The container as it lands on disk: header fields, directory arrangement,
// the book tag check, commits that must not touch the file, passwords.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "address_book_fixture.h"
#include "kviabdb.h"
#include "kviabio.h"
#include "support/test_support.h"

namespace kvi::test {
namespace {

uint32_t FileCalls() {
    uint32_t n = 0;
    for (uint32_t op = KVIO_OP_CREATE; op <= KVIO_OP_LAST; ++op) n += KvioCallCount(op);
    return n;
}

using BookFileTest = AddressBookSession;

TEST_F(BookFileTest, NewBookIsSixtyTwoBytesWithTheHeaderFields) {
    const std::string f = ReadFile(BookPath());
    ASSERT_EQ(62u, f.size());
    EXPECT_EQ(44, At<uint16_t>(f, 0));
    EXPECT_EQ("^*$%", f.substr(2, 4));
    EXPECT_EQ("^*($", f.substr(6, 4));
    EXPECT_EQ("DF10", f.substr(10, 4));
    EXPECT_EQ(1, At<uint16_t>(f, 14));
    EXPECT_EQ(18, At<uint16_t>(f, 16));
    EXPECT_EQ(0u, At<uint32_t>(f, 18));                 // dataLength
    EXPECT_EQ(62u, At<uint32_t>(f, 22));                // dataOffset
    EXPECT_EQ(std::string(18, '\0'), f.substr(26, 18));  // password and flag
    EXPECT_EQ(100, At<uint16_t>(f, 44));
    EXPECT_EQ(0u, At<uint32_t>(f, 46));   // length
    EXPECT_EQ(0u, At<uint32_t>(f, 50));   // count
    EXPECT_EQ(62u, At<uint32_t>(f, 54));  // offset
    EXPECT_EQ(0u, At<uint32_t>(f, 58));   // lastId
    EXPECT_EQ(0, TemporaryFileCount(dir_.Path() + "/KVI32"));
}

TEST_F(BookFileTest, CommitWithoutChangeDoesNotTouchTheFile) {
    const uint32_t before = FileCalls();
    EXPECT_EQ(1, KviDfCommitAddressBook(0));
    EXPECT_EQ(before, FileCalls());
    // A change, then a commit: written; the next one without change is free again.
    Add("One", "one", 2);
    EXPECT_EQ(1, KviDfCommitAddressBook(0));
    const uint32_t after = FileCalls();
    EXPECT_EQ(1, KviDfCommitAddressBook(0));
    EXPECT_EQ(after, FileCalls());
}

TEST_F(BookFileTest, ForceRewritesAnUnchangedBook) {
    const uint32_t replaces = KvioCallCount(KVIO_OP_REPLACE);
    EXPECT_EQ(1, KviDfCommitAddressBook(1));
    EXPECT_EQ(replaces + 1, KvioCallCount(KVIO_OP_REPLACE));
    EXPECT_EQ(62u, ReadFile(BookPath()).size());
}

// Directories as other writers may leave them; after open and a full
// commit the address section is the first entry, other entries survive
// emptied (length 0, count 0, offset at the end of the data).
struct ArrangeCase {
    const char* what;
    std::vector<RawEntry> entries;  // offsets are filled in
    int addressAt;                  // index of the type-100 entry, -1 none
    std::vector<uint16_t> typesAfter;
};

TEST(BookFileArrange, AddressSectionComesFirstAndOthersAreKeptEmpty) {
    const std::string rec = Encoded("office", "", "", "", "Office", 2, 7, 5);
    const ArrangeCase cases[] = {
        {"no entries", {}, -1, {100}},
        {"second entry", {{9, 6, 1, 0, 3}, {100, 0, 1, 0, 5}}, 1, {100, 9}},
        {"missing", {{5, 6, 1, 0, 3}}, -1, {100, 5}},
        {"first of three", {{100, 0, 1, 0, 5}, {7, 0, 0, 0, 0}, {8, 6, 1, 0, 2}}, 0, {100, 7, 8}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempWindowsDir dir;
        const uint32_t dataOffset = static_cast<uint32_t>(44 + 18 * c.entries.size());
        std::string dirBytes, data;
        for (size_t i = 0; i < c.entries.size(); ++i) {
            RawEntry e = c.entries[i];
            e.offset = dataOffset + static_cast<uint32_t>(data.size());
            if (static_cast<int>(i) == c.addressAt) {
                e.length = static_cast<uint32_t>(rec.size());
                data += rec;
            } else {
                data += std::string(e.length, 'x');
            }
            dirBytes += RawDirectory(e);
        }
        WriteFile(dir.BookPath("MERIDOX.PBK"),
                  RawHeader("^*($", static_cast<uint16_t>(c.entries.size()), static_cast<uint32_t>(data.size())) +
                      dirBytes + data);
        ASSERT_EQ(1, KviDfInitialize());
        ASSERT_EQ(1, KviDfOpenAddressBook(0));
        char name[] = "t";
        ASSERT_EQ(1, KviDfLockAddressBook(name));
        AddressRecord e;
        std::memset(&e, 0, sizeof e);
        e.id = 5;
        EXPECT_EQ(c.addressAt >= 0 ? 1 : 0, KviDfGetAddress(&e));
        ASSERT_EQ(1, KviDfCommitAddressBook(1));
        const std::string f = ReadFile(dir.BookPath("MERIDOX.PBK"));
        const size_t n = c.typesAfter.size();
        ASSERT_EQ(n, At<uint16_t>(f, 14));
        const uint32_t sectionLength = c.addressAt >= 0 ? static_cast<uint32_t>(rec.size()) : 0;
        const uint32_t end = static_cast<uint32_t>(44 + 18 * n) + sectionLength;
        ASSERT_EQ(end, f.size());
        for (size_t i = 0; i < n; ++i) {
            const size_t d = 44 + 18 * i;
            EXPECT_EQ(c.typesAfter[i], At<uint16_t>(f, d));
            if (i == 0) {
                EXPECT_EQ(sectionLength, At<uint32_t>(f, d + 2));
                EXPECT_EQ(44 + 18 * n, At<uint32_t>(f, d + 10));
                if (c.addressAt >= 0) {
                    EXPECT_EQ(rec, f.substr(44 + 18 * n));
                }
            } else {
                EXPECT_EQ(0u, At<uint32_t>(f, d + 2));
                EXPECT_EQ(0u, At<uint32_t>(f, d + 6));
                EXPECT_EQ(end, At<uint32_t>(f, d + 10));
            }
        }
        KviDfUnlockAddressBook();
        KviDfCloseAddressBook();
        KviDfTerminate();
    }
}

TEST(BookFileOpen, AnotherBooksTagIsRefusedAndTheFileLeftAlone) {
    TempWindowsDir dir;
    const std::string bytes = RawHeader("^*%$", 1, 0) + RawDirectory({100, 0, 0, 62, 0});
    WriteFile(dir.BookPath("MERIDOX.PBK"), bytes);
    ASSERT_EQ(1, KviDfInitialize());
    EXPECT_EQ(0, KviDfOpenAddressBook(0));
    EXPECT_EQ(0, KviDfOpenAddressBook(0));  // a failed open can be tried again
    EXPECT_EQ(bytes, ReadFile(dir.BookPath("MERIDOX.PBK")));
    EXPECT_EQ(0, KviDfCreateAddressList());
    KviDfCloseAddressBook();
    KviDfTerminate();
}

TEST(BookFileOpen, NoKvi32FolderFailsAndCreatesNothing) {
    TempWindowsDir dir(false);
    ASSERT_EQ(1, KviDfInitialize());
    EXPECT_EQ(0, KviDfOpenAddressBook(0));
    EXPECT_FALSE(FileExists(dir.Path() + "/KVI32"));
    KviDfCloseAddressBook();
    KviDfTerminate();
}

TEST(BookFileOpen, ANewBookWhoseFirstCommitFailsLeavesNothing) {
    TempWindowsDir dir;
    ASSERT_EQ(1, KviDfInitialize());
    KvioInjectFault(KVIO_OP_PLACE, 1, 1);
    EXPECT_EQ(0, KviDfOpenAddressBook(0));
    KvioInjectFault(KVIO_OP_NONE, 0, 0);
    EXPECT_FALSE(FileExists(dir.BookPath("MERIDOX.PBK")));
    EXPECT_EQ(0, TemporaryFileCount(dir.Path() + "/KVI32"));
    EXPECT_EQ(1, KviDfOpenAddressBook(0));
    EXPECT_EQ(62u, ReadFile(dir.BookPath("MERIDOX.PBK")).size());
    KviDfCloseAddressBook();
    KviDfTerminate();
}

// Password of the book: header bytes 26..41 and the flag at 42, written
// in place at once.
TEST_F(BookFileTest, PasswordRules) {
    char pw[32], old[32], out[16];
    uint32_t flag = 7;
    auto set = [&](const char* n, uint32_t f, const char* o) {
        std::strcpy(pw, n);
        std::strcpy(old, o);
        return KviDfAddressBookSetPasswd(pw, f, old);
    };
    ASSERT_EQ(1, KviDfAddressBookPasswd(out, &flag));
    EXPECT_STREQ("", out);
    EXPECT_EQ(0u, flag);

    EXPECT_EQ(1, set("Secret", 1, "ignored while no flag"));
    std::string f = ReadFile(BookPath());
    EXPECT_EQ(62u, f.size());
    EXPECT_EQ(std::string("Secret\0", 7), f.substr(26, 7));
    EXPECT_EQ(1, At<uint16_t>(f, 42));

    EXPECT_EQ(0, set("Other", 1, "secreT!"));  // wrong current password
    EXPECT_EQ(1, set("ThisIsLongerThanFifteen", 1, "sECRET"));
    ASSERT_EQ(1, KviDfAddressBookPasswd(out, &flag));
    EXPECT_STREQ("ThisIsLongerTha", out);  // cut to 15
    EXPECT_EQ(1u, flag);
    // The same long text as the current password matches what was kept.
    EXPECT_EQ(1, set("", 0, "thisislongerthanfifteen"));
    f = ReadFile(BookPath());
    EXPECT_EQ(std::string(18, '\0'), f.substr(26, 18));

    EXPECT_EQ(0, KviDfAddressBookSetPasswd(nullptr, 0, old));  // null new password
    EXPECT_EQ(1, set("A", 1, "x"));
    EXPECT_EQ(0, KviDfAddressBookSetPasswd(pw, 1, nullptr));  // null current while in force
    EXPECT_EQ(0, KviDfAddressBookPasswd(nullptr, &flag));
    EXPECT_EQ(0, KviDfAddressBookPasswd(out, nullptr));
    KviDfUnlockAddressBook();
    EXPECT_EQ(0, set("B", 1, "a"));  // the lock is required
    ASSERT_EQ(1, KviDfAddressBookPasswd(out, &flag));
    EXPECT_STREQ("A", out);
}

TEST_F(BookFileTest, HeaderOnlyCommitAfterAFailedPasswordWrite) {
    Add("One", "one", 2);
    ASSERT_EQ(1, KviDfCommitAddressBook(0));
    const std::string committed = ReadFile(BookPath());
    char pw[] = "Secret", old[] = "";
    KvioInjectFault(KVIO_OP_WRITE, 1, 1);
    EXPECT_EQ(0, KviDfAddressBookSetPasswd(pw, 1, old));
    KvioInjectFault(KVIO_OP_NONE, 0, 0);
    EXPECT_EQ(committed, ReadFile(BookPath()));

    const uint32_t creates = KvioCallCount(KVIO_OP_CREATE_TEMPORARY), replaces = KvioCallCount(KVIO_OP_REPLACE);
    EXPECT_EQ(1, KviDfCommitAddressBook(0));
    EXPECT_EQ(creates, KvioCallCount(KVIO_OP_CREATE_TEMPORARY));  // in place, no rewrite
    EXPECT_EQ(replaces, KvioCallCount(KVIO_OP_REPLACE));
    std::string expected = committed;
    expected.replace(26, 7, std::string("Secret\0", 7));
    expected.replace(42, 2, Bytes(static_cast<uint16_t>(1)));
    EXPECT_EQ(expected, ReadFile(BookPath()));
}

// A password change while record changes are pending must not put the
// in-memory directory (one more record than the file holds) on the file.
TEST_F(BookFileTest, PasswordChangeWithPendingChangesKeepsTheFileReadable) {
    Add("One", "one", 2);
    ASSERT_EQ(1, KviDfCommitAddressBook(0));
    const std::string committed = ReadFile(BookPath());
    Add("Two", "two", 2);
    char pw[] = "Secret", old[] = "";
    ASSERT_EQ(1, KviDfAddressBookSetPasswd(pw, 1, old));
    std::string expected = committed;
    expected.replace(26, 7, std::string("Secret\0", 7));
    expected.replace(42, 2, Bytes(static_cast<uint16_t>(1)));
    EXPECT_EQ(expected, ReadFile(BookPath()));
    Reopen();  // the second entry was never committed
    const KviListHandle list = KviDfCreateAddressList();
    EXPECT_EQ(1, KviDfAddressListCount(list));
    KviDfDestroyAddressList(list);
}

}  // namespace
}  // namespace kvi::test
