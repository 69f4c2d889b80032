// The record encoding, the normalisation of what is read, the text rule
// of duplicates, and sections read through the buffered reader.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "address/address_record.h"
#include "address/compare_padded.h"
#include "address_book_fixture.h"

namespace kvi::test {
namespace {

TEST(AddressRecordEncoding, EmptyAndFullRecords) {
    AddressRecord r;
    Clear(r);
    r.id = 0x01020304;
    r.connectionType = 2;
    r.extraValue = 9;
    uint8_t out[kMaxAddressEncoding];
    ASSERT_EQ(19u, Encode(r, out));
    EXPECT_EQ(19u, r.size);
    EXPECT_EQ(Encoded("", "", "", "", "", 2, 9, 0x01020304), std::string(reinterpret_cast<char*>(out), 19));

    std::memset(&r, 'z', sizeof r);  // every text unterminated: cut by the setters
    BuildFromEntry(r, AddressRecord(r), 7);
    ASSERT_EQ(163u, Encode(r, out));
    EXPECT_EQ(Encoded(std::string(20, 'z'), std::string(64, 'z'), std::string(20, 'z'), std::string(10, 'z'),
                      std::string(30, 'z'), 0x7a7a, 0x7a7a7a7a, 7),
              std::string(reinterpret_cast<char*>(out), 163));
    AddressRecord back;
    ASSERT_EQ(163u, Decode(back, out, 163));
    EXPECT_EQ(0, std::memcmp(&back, &r, sizeof r));
}

TEST(AddressRecordDecoding, Normalisation) {
    const std::string addr20(20, 'a');
    struct Case {
        const char* what;
        std::string bytes;
        std::string name;
        uint16_t type;
        uint32_t id;
        uint32_t consumed;
    } cases[] = {
        {"wireless name cut to 30", Encoded(addr20, "", "", "", "", 3, 0, 4), addr20 + " (wireless", 3, 4, 0},
        {"type 0 becomes modem", Encoded("pc", "", "", "", "", 0, 0, 1), "pc (modem)", 1, 1, 0},
        {"type 7 becomes modem", Encoded("pc", "", "", "", "", 7, 0, 1), "pc (modem)", 1, 1, 0},
        {"network", Encoded("pc", "", "", "", "", 2, 0, 1), "pc (network)", 2, 1, 0},
        {"cable", Encoded("pc", "", "", "", "", 4, 0, 1), "pc (cable)", 4, 1, 0},
        {"phone makes modem", Encoded("pc", "555", "", "", "Named", 0, 0, 1), "Named", 1, 1, 0},
        {"no phone stays unset", Encoded("pc", "", "", "", "Named", 0, 0, 1), "Named", 0, 1, 0},
        // length ends after the name: type, value and id stay 0
        {"short record", Bytes(uint32_t(4 + 3 + 1 + 1 + 1 + 4)) + std::string("pc\0\0\0\0Nam\0", 10), "Nam", 0, 0, 14},
        {"length 4", Bytes(uint32_t(4)), " (modem)", 1, 0, 4},
        {"length 0", Bytes(uint32_t(0)), " (modem)", 1, 0, 4},
        {"length 3", Bytes(uint32_t(3)), " (modem)", 1, 0, 4},
        // A length that ends inside a field: that field is read whole and
        // the consumed count, not the length, places the next record.
        {"length inside the address", Bytes(uint32_t(6)) + std::string("abc\0", 4), "abc (modem)", 1, 0, 8},
        {"length inside the name", Bytes(uint32_t(12)) + std::string("pc\0\0\0\0Name\0", 11), "Name", 0, 0, 15},
        {"length inside the id", Bytes(uint32_t(20)) + Encoded("pc", "", "", "", "N", 2, 5, 9).substr(4), "N", 2, 9,
         22},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Another record follows: consumed must not reach into it.
        const std::string bytes = c.bytes + Encoded("next", "", "", "", "n", 2, 0, 9);
        AddressRecord r;
        const uint32_t consumed =
            Decode(r, reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
        EXPECT_EQ(c.consumed ? c.consumed : c.bytes.size(), consumed);
        EXPECT_EQ(c.name, r.name);
        EXPECT_EQ(c.type, r.connectionType);
        EXPECT_EQ(c.id, r.id);
    }
}

TEST(AddressRecordDecoding, BytesThatAreNotARecordAreRefused) {
    const std::string good = Encoded("pc", "555", "x", "y", "Name", 2, 5, 3);
    struct Case {
        const char* what;
        std::string bytes;
        uint32_t available;
    } cases[] = {
        {"fewer than 4 bytes", good.substr(0, 3), 3},
        {"text runs out of the bytes", good.substr(0, 6), 6},
        {"address without NUL in 21 bytes", Encoded(std::string(21, 'a'), "", "", "", "", 2, 0, 1), 200},
        {"name without NUL in 31 bytes", Encoded("a", "", "", "", std::string(31, 'n'), 2, 0, 1), 200},
        // The length ends inside the id, and the section ends there too.
        {"id past the bytes", Bytes(uint32_t(good.size() - 2)) + good.substr(4), uint32_t(good.size() - 2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = c.bytes;
        bytes.resize(200 > bytes.size() ? 200 : bytes.size(), 'q');  // no NULs after it
        AddressRecord r;
        EXPECT_EQ(0u, Decode(r, reinterpret_cast<const uint8_t*>(bytes.data()), c.available));
    }
}

TEST(ComparePadded, CaseAndTrailingBlanks) {
    const struct {
        const char* a;
        const char* b;
        bool equal;
    } cases[] = {
        {"Office  ", "OFFICE", true}, {"Office", "Office 2", false}, {"Office", "Offic", false},
        {"", "", true},               {"   ", "", true},              {" a", "a", false},
        {"a b ", "A B", true},
    };
    for (const auto& c : cases) EXPECT_EQ(c.equal, ComparePadded(c.a, c.b) == 0) << c.a << "|" << c.b;
}

TEST(AddressDuplicates, Rule) {
    AddressRecord stored, other;
    BuildFromEntry(stored, Entry("x", "Office", 2), 1);
    BuildFromEntry(other, Entry("y", "office  ", 2), 2);
    EXPECT_TRUE(IsDuplicateOf(stored, other));
    other.id = 1;
    EXPECT_FALSE(IsDuplicateOf(stored, other));  // the same entry
    stored.connectionType = other.connectionType = 1;
    other.id = 2;
    EXPECT_FALSE(IsDuplicateOf(stored, other));  // modem
    stored.connectionType = 3;
    EXPECT_FALSE(IsDuplicateOf(stored, other));  // types differ
}

// Stored ids are kept when lastId is set, numbered in file order when it
// is 0; a section of more than the reader's buffer (256 KiB) is read whole
// through its refills (records of every length straddle them).
TEST(AddressSectionLoad, NumberingAndLongSections) {
    const uint32_t kRecords = 5000;
    for (const uint32_t lastId : {0u, 20000u}) {
        SCOPED_TRACE(lastId);
        TempWindowsDir dir;
        std::vector<std::string> records;
        for (uint32_t i = 0; i < kRecords; ++i) {
            const std::string text(i % 64, static_cast<char>('a' + i % 26));
            records.push_back(Encoded("a" + std::to_string(i), text, "", "", "n" + std::to_string(i), 2, i,
                                      1000 + 3 * i));
        }
        WriteFile(dir.BookPath("MERIDOX.PBK"), RawBook(records, lastId));
        ASSERT_EQ(1, KviDfInitialize());
        ASSERT_EQ(1, KviDfOpenAddressBook(0));
        const KviListHandle list = KviDfCreateAddressList();
        ASSERT_EQ(int32_t(kRecords), KviDfAddressListCount(list));
        for (int32_t i = 0; i < int32_t(kRecords); ++i) {
            AddressRecord item;
            ASSERT_EQ(1, KviDfAddressListItem(list, i, &item));
            ASSERT_EQ(lastId == 0 ? uint32_t(i + 1) : uint32_t(1000 + 3 * i), item.id);
            ASSERT_EQ("a" + std::to_string(i), item.address);
            ASSERT_EQ(std::string(i % 64, static_cast<char>('a' + i % 26)), item.phoneNumber);
            ASSERT_EQ(uint32_t(i), item.extraValue);
        }
        KviDfDestroyAddressList(list);
        char name[] = "t";
        ASSERT_EQ(1, KviDfLockAddressBook(name));
        AddressRecord e = Entry("n", "new", 2);
        EXPECT_EQ(2, KviDfAddAddress(&e, 0, nullptr));  // a loaded book may hold more than 800
        KviDfUnlockAddressBook();
        KviDfCloseAddressBook();
        KviDfTerminate();
    }
}

}  // namespace
}  // namespace kvi::test
