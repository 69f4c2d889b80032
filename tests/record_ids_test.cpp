// Ids never wrap: an add that would need an id above 0xFFFFFFFE (which
// would be read as a blank list item, then wrap to 0 and to ids records
// carry) answers its failure value and changes nothing, in every table of
// the security book (the address book's is in address_entries_test).
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "kviabdb.h"
#include "security_book_fixture.h"

namespace kvi::test {
namespace {

constexpr uint32_t kNearlyAll = 0xFFFFFFFDu;  // one id left

// Adds an entry of this name and reports the id it got.
using AddFn = std::function<int32_t(const char* name, uint32_t* id)>;

template <class T, class Make>
AddFn Adder(Make make, int32_t (*add)(T*, KviListHandle, uint32_t*)) {
    return [make, add](const char* name, uint32_t* id) {
        T e = make(name);
        const int32_t r = add(&e, 0, nullptr);
        *id = e.id;
        return r;
    };
}

TEST(RecordIds, SecurityBookAddsNeverWrap) {
    const auto affix = [](const char* name) { return Affix(name); };
    const struct {
        const char* what;
        int section;  // position of the section in the directory
        AddFn add;
    } cases[] = {
        {"prefix", 1, Adder<AffixEntry>(affix, KviDfAddPrefixEntry)},
        {"suffix", 2, Adder<AffixEntry>(affix, KviDfAddSuffixEntry)},
        {"user", 3, Adder<SecurityEntry>([](const char* name) { return User(name); }, KviDfAddSecurityEntry)},
        {"folder", 4, Adder<FolderSecurityEntry>([](const char* name) { return Folder(name); }, AddFolderSecurityEntry)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempWindowsDir dir;
        std::vector<RawSection> sections = {{1, RawGlobal(), 1, 0}, {2, "", 0, 0}, {3, "", 0, 0}, {4, "", 0, 0},
                                            {5, "", 0, 0}};
        sections[c.section].lastId = kNearlyAll;
        WriteFile(dir.BookPath("MERIDOX.PWD"), RawSecurityBook(sections));
        ASSERT_EQ(1, KviDfInitialize());
        ASSERT_EQ(1, KviDfOpenSecurityBook(nullptr));
        char locker[] = "ids";
        ASSERT_EQ(1, KviDfLockSecurityBook(locker, 1000));
        uint32_t id = 0;
        ASSERT_EQ(1, c.add("first", &id));
        EXPECT_EQ(0xFFFFFFFEu, id);
        EXPECT_EQ(0, c.add("second", &id));  // another name: only the id refuses it
        EXPECT_EQ(0u, id);
        ASSERT_EQ(1, KviDfUnlockSecurityBook());  // commits
        KviDfCloseSecurityBook();
        const DirEntry e = DirectoryEntry(ReadFile(dir.BookPath("MERIDOX.PWD")), c.section);
        EXPECT_EQ(1u, e.count);
        EXPECT_EQ(0xFFFFFFFEu, e.lastId);
        KviDfTerminate();
    }
}

}  // namespace
}  // namespace kvi::test
