// The one-time import of the earlier generation's address file into a
// newly created address book. Fixtures are built byte by byte.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "kviabdb.h"
#include "legacy/legacy_address.h"
#include "support/raw_bytes.h"
#include "support/test_support.h"

namespace {

using kvi::test::FileExists;
using kvi::test::TempWindowsDir;
using kvi::test::U16;
using kvi::test::U32;
using kvi::test::WriteFile;

const std::string kFF = "\xFF";
const std::string kNul(1, '\0');

// Address, phone, extra 1, extra 2, ignored text, 4 ignored bytes, name,
// type, ignored value, then the terminator.
std::string FullRecord(const std::string& address, const std::string& phone, const std::string& x1,
                       const std::string& x2, const std::string& name, uint32_t type,
                       const std::string& trailing = "") {
    return address + kNul + phone + kNul + x1 + kNul + x2 + kNul + "ignored" + kNul + "abcd" + name + kNul +
           U32(type) + U32(77) + trailing + kFF;
}

std::string LegacyFile(const std::vector<std::string>& records, uint16_t indexCount = 1,
                       const char* tag = "!(^*", int declaredCount = -1) {
    std::string data;
    for (const auto& r : records) data += r;
    std::string header(30, '\0');
    header.replace(0, 4, tag);
    header.replace(24, 2, U16(indexCount));
    std::string index;
    for (uint16_t i = 0; i < indexCount; ++i) {
        // Only the first entry counts; the others carry nonsense.
        const uint16_t length = i == 0 ? static_cast<uint16_t>(data.size()) : 999;
        const uint16_t count =
            i == 0 ? static_cast<uint16_t>(declaredCount >= 0 ? declaredCount : records.size()) : 999;
        index += U16(length) + U16(count) + U16(0);
    }
    return header + index + data;
}

class LegacyAddressImport : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(dir_.Path() + "/KVI");
        KviDfInitialize();
    }
    void TearDown() override {
        KviDfUnlockAddressBook();
        KviDfCloseAddressBook();
        KviDfTerminate();
    }
    std::string OldFile() const { return dir_.Path() + "/KVI/KVI.DA1"; }

    std::vector<AddressRecord> OpenAndList() {
        std::vector<AddressRecord> out;
        EXPECT_EQ(KviDfOpenAddressBook(0), 1);
        KviListHandle list = KviDfCreateAddressList();
        for (int32_t i = 0; i < KviDfAddressListCount(list); ++i) {
            AddressRecord r;
            KviDfAddressListItem(list, i, &r);
            out.push_back(r);
        }
        KviDfDestroyAddressList(list);
        return out;
    }

    TempWindowsDir dir_;
};

TEST_F(LegacyAddressImport, DecodesEachRecordShape) {
    struct Case {
        const char* what;
        std::string bytes;
        uint32_t consumed;
        const char* address;
        const char* phone;
        const char* extra1;
        const char* name;
        uint32_t type;
    };
    const std::string twoFields = std::string("host") + kNul + "555" + kNul;
    const Case cases[] = {
        {"a lone terminator", kFF, 1, "", "", "", "", 2},
        {"ffix stands for empty", FullRecord("a", "", "ffix", "x2", "N", 3), 0, "a", "", "", "N", 3},
        {"FFIX is kept", FullRecord("a", "", "FFIX", "x2", "N", 3), 0, "a", "", "FFIX", "N", 3},
        {"ffixx is kept", FullRecord("a", "", "ffixx", "x2", "N", 3), 0, "a", "", "ffixx", "N", 3},
        {"ends after the name, with phone",
         std::string("addr") + kNul + "555" + kNul + kNul + kNul + kNul + "abcd" + "Nm" + kNul + kFF, 0, "addr",
         "555", "", "Nm", 1},
        {"ends after the name, no phone",
         std::string("addr") + kNul + kNul + kNul + kNul + kNul + "abcd" + "Nm" + kNul + kFF, 0, "addr", "", "",
         "Nm", 2},
        {"empty name takes the address", twoFields + kFF, 0, "host", "555", "", "host", 1},
        {"trailing bytes skipped", FullRecord("t", "", "", "", "T", 4, "junk\x01\x02"), 0, "t", "", "", "T", 4},
        {"type beginning with 0xFF ends the record",
         std::string("z") + kNul + kNul + kNul + kNul + kNul + "abcd" + "Z" + kNul + kFF + "\x01\x02\x03", 13, "z",
         "", "", "Z", 2},
        {"texts longer than their fields are cut",
         FullRecord(std::string(40, 'a'), std::string(90, '5'), std::string(30, 'x'), "", std::string(50, 'n'),
                    2),
         0, "aaaaaaaaaaaaaaaaaaaa", "5555555555555555555555555555555555555555555555555555555555555555",
         "xxxxxxxxxxxxxxxxxxxx", "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnn", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        kvi::LegacyAddress legacy;
        const std::string bytes = c.bytes + "NEXT";  // the next record follows
        const uint32_t consumed = kvi::DecodeLegacyAddress(
            legacy, reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
        EXPECT_EQ(consumed, c.consumed ? c.consumed : c.bytes.size());
        EXPECT_STREQ(legacy.address, c.address);
        EXPECT_STREQ(legacy.phoneNumber, c.phone);
        EXPECT_STREQ(legacy.extraText1, c.extra1);
        EXPECT_STREQ(legacy.name, c.name);
        EXPECT_EQ(legacy.connectionType, c.type);
    }
}

TEST_F(LegacyAddressImport, NeverReadsPastTheBytesItHolds) {
    const std::string full = FullRecord("addr", "1", "x", "y", "name", 2);
    for (size_t cut = 0; cut < full.size(); ++cut) {
        // Copy into an exact-size heap block so ASan sees any overread.
        std::vector<uint8_t> bytes(full.begin(), full.begin() + static_cast<long>(cut));
        kvi::LegacyAddress legacy;
        EXPECT_EQ(kvi::DecodeLegacyAddress(legacy, bytes.data(), static_cast<uint32_t>(bytes.size())), 0u)
            << cut;
    }
}

TEST_F(LegacyAddressImport, ImportsInFileOrderWithFreshIdsAndDeletesTheOldFile) {
    // Two index entries: records start after 12 bytes of index.
    WriteFile(OldFile(), LegacyFile({FullRecord("one", "", "", "", "First", 2), kFF,
                                     FullRecord("three", "77", "", "", "", 0)},
                                    2));
    const auto entries = OpenAndList();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_STREQ(entries[0].name, "First");
    EXPECT_EQ(entries[0].id, 1u);
    EXPECT_EQ(entries[0].extraValue, 11u);
    EXPECT_EQ(entries[1].id, 2u);
    EXPECT_EQ(entries[1].connectionType, 2u);
    EXPECT_STREQ(entries[2].name, "three");
    EXPECT_EQ(entries[2].connectionType, 1u);  // no type but a phone number: modem
    EXPECT_EQ(entries[2].id, 3u);
    EXPECT_FALSE(FileExists(OldFile()));

    // The book was written at once, and the next entry gets id 4.
    char me[] = "me";
    ASSERT_EQ(KviDfLockAddressBook(me), 1);
    AddressRecord added{};
    std::strcpy(added.address, "four");
    added.connectionType = 2;
    ASSERT_EQ(KviDfAddAddress(&added, 0, nullptr), 1);
    EXPECT_EQ(added.id, 4u);
}

TEST_F(LegacyAddressImport, ConvertsOemTextsToAnsi) {
    // "Müller" and "Zürich" in code page 850 (ü = 0x81).
    WriteFile(OldFile(), LegacyFile({FullRecord("Z\x81rich", "", "", "", "M\x81ller", 2)}));
    const auto entries = OpenAndList();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_STREQ(entries[0].address, "Z\xFCrich");
    EXPECT_STREQ(entries[0].name, "M\xFCller");
}

TEST_F(LegacyAddressImport, WhatKeepsAndWhatDeletesTheOldFile) {
    struct Case {
        const char* what;
        std::string file;
        size_t imported;
        bool oldFileStays;
    };
    const std::string rec = FullRecord("a", "", "", "", "A", 2);
    std::string truncatedLast = LegacyFile({rec, rec});
    truncatedLast.resize(truncatedLast.size() - 3);  // dataLength now runs past the file
    std::string unterminated = LegacyFile({rec, rec.substr(0, rec.size() - 1)});
    const Case cases[] = {
        {"wrong signature", LegacyFile({rec}, 1, "!(^+"), 0, true},
        {"no index entries", LegacyFile({}, 0), 0, false},
        {"dataLength 0", LegacyFile({}, 1), 0, false},
        {"header cut short", std::string("!(^*", 4), 0, true},
        {"recordCount beyond the data", LegacyFile({rec, rec}, 1, "!(^*", 5), 2, true},
        {"last record without terminator", unterminated, 1, true},
        {"data shorter than dataLength", truncatedLast, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempWindowsDir dir;  // a new machine for each case
        std::filesystem::create_directory(dir.Path() + "/KVI");
        const std::string old = dir.Path() + "/KVI/KVI.DA1";
        WriteFile(old, c.file);
        KviDfCloseAddressBook();
        EXPECT_EQ(OpenAndList().size(), c.imported);
        EXPECT_EQ(FileExists(old), c.oldFileStays);
        EXPECT_TRUE(FileExists(dir.BookPath("MERIDOX.PBK")));  // the book is written all the same
        KviDfCloseAddressBook();
    }
    dir_.Activate();
}

TEST_F(LegacyAddressImport, RunsOnlyWhenTheBookFileIsCreated) {
    ASSERT_EQ(KviDfOpenAddressBook(0), 1);  // creates an empty book
    KviDfCloseAddressBook();
    WriteFile(OldFile(), LegacyFile({FullRecord("late", "", "", "", "Late", 2)}));
    EXPECT_EQ(OpenAndList().size(), 0u);
    EXPECT_TRUE(FileExists(OldFile()));
}

}  // namespace
