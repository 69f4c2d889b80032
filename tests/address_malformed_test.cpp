// Damaged and hostile book files: every one is refused by the open, left
// exactly as it was, and nothing is read outside its bytes (the suite also
// runs under ASan, which reports overreads and leaks).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "address_book_fixture.h"
#include "kviabdb.h"

namespace kvi::test {
namespace {

std::string Book(const RawEntry& e, const std::string& data, uint16_t entryCount = 1) {
    return RawHeader("^*($", entryCount, static_cast<uint32_t>(data.size())) + RawDirectory(e) + data;
}

TEST(AddressMalformedFile, EveryDamagedFileIsRefusedAndLeftAlone) {
    const std::string rec = Encoded("office", "555", "", "", "Office", 2, 0, 1);
    const uint32_t n = static_cast<uint32_t>(rec.size());
    std::string noNul = rec;
    noNul.replace(4, 7, std::string(7, 'a'));  // "office\0" -> no NUL within the address field
    noNul.insert(4, std::string(20, 'a'));
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"short header", RawHeader("^*($", 1, 0).substr(0, 20)},
        {"directory missing", RawHeader("^*($", 1, 0)},
        {"huge entry count", RawHeader("^*($", 65535, 0) + RawDirectory({100, 0, 0, 62, 0})},
        {"offset past the file", Book({100, n, 1, 1000, 1}, rec)},
        {"length past the file", Book({100, 500, 1, 62, 1}, rec)},
        {"offset and length wrap", Book({100, 0x20, 1, 0xFFFFFFF0u, 1}, rec)},
        {"count above the records", Book({100, n, 3, 62, 1}, rec)},
        {"count with no bytes", Book({100, 0, 2, 62, 1}, "")},
        {"field past the section", Book({100, n - 2, 1, 62, 1}, Bytes(uint32_t(n - 3)) + rec.substr(4, n - 6))},
        {"record past the section", Book({100, n, 1, 62, 1}, Bytes(uint32_t(n + 40)) + rec.substr(4))},
        {"text without NUL in its field", Book({100, static_cast<uint32_t>(noNul.size()), 1, 62, 1}, noNul)},
        {"second record cut", Book({100, n + 10, 2, 62, 2}, rec + rec.substr(0, 10))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempWindowsDir dir;
        const std::string path = dir.BookPath("MERIDOX.PBK");
        WriteFile(path, c.bytes);
        ASSERT_EQ(1, KviDfInitialize());
        EXPECT_EQ(0, KviDfOpenAddressBook(0));
        EXPECT_EQ(0, KviDfCreateAddressList());
        EXPECT_EQ(0, KviDfCommitAddressBook(1));
        EXPECT_EQ(c.bytes, ReadFile(path));
        size_t files = 0;
        for (const auto& f : std::filesystem::directory_iterator(dir.Path() + "/KVI32")) files += f.exists();
        EXPECT_EQ(1u, files);
        KviDfCloseAddressBook();
        KviDfTerminate();
    }
}

// A section that still holds records after `count` of them were read is
// not damaged: what follows is ignored, as the count says.
TEST(AddressMalformedFile, BytesAfterTheCountedRecordsAreIgnored) {
    TempWindowsDir dir;
    const std::string rec = Encoded("office", "", "", "", "Office", 2, 0, 1);
    const std::string bytes = Book({100, static_cast<uint32_t>(rec.size() * 2), 1, 62, 1}, rec + rec);
    WriteFile(dir.BookPath("MERIDOX.PBK"), bytes);
    ASSERT_EQ(1, KviDfInitialize());
    ASSERT_EQ(1, KviDfOpenAddressBook(0));
    const KviListHandle list = KviDfCreateAddressList();
    EXPECT_EQ(1, KviDfAddressListCount(list));
    KviDfDestroyAddressList(list);
    KviDfCloseAddressBook();
    KviDfTerminate();
}

// A record whose length ends inside a field is read field by field up to
// that field, whole; the next record starts after what was read.
TEST(AddressMalformedFile, LengthEndingInsideAFieldOpens) {
    const std::string first = Encoded("office", "555", "", "", "Office", 2, 0, 1);
    const std::string second = Encoded("home", "", "", "", "Home", 3, 0, 2);
    const struct {
        const char* what;
        uint32_t length;    // of the first record
        uint32_t consumed;  // what its fields take
        uint16_t type;      // what it decodes to
        uint32_t id;
    } cases[] = {
        {"inside the address", 6, 11, 1, 0},  // no name: "office (modem)"
        {"inside the type", 25, 26, 2, 0},
        {"inside the id", 33, 34, 2, 1},
        {"length 2", 2, 4, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempWindowsDir dir;
        const std::string data = Bytes(c.length) + first.substr(4, c.consumed - 4) + second;
        // lastId 5 keeps the stored ids.
        WriteFile(dir.BookPath("MERIDOX.PBK"), Book({100, static_cast<uint32_t>(data.size()), 2, 62, 5}, data));
        ASSERT_EQ(1, KviDfInitialize());
        ASSERT_EQ(1, KviDfOpenAddressBook(0));
        const KviListHandle list = KviDfCreateAddressList();
        ASSERT_EQ(2, KviDfAddressListCount(list));
        AddressRecord item;
        ASSERT_EQ(1, KviDfAddressListItem(list, 0, &item));
        EXPECT_EQ(c.type, item.connectionType);
        EXPECT_EQ(c.id, item.id);
        ASSERT_EQ(1, KviDfAddressListItem(list, 1, &item));
        EXPECT_STREQ("Home", item.name);
        EXPECT_EQ(2u, item.id);
        KviDfDestroyAddressList(list);
        KviDfCloseAddressBook();
        KviDfTerminate();
    }
}

}  // namespace
}  // namespace kvi::test
