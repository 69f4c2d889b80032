// The indexed tables and one-pass decoders answer exactly as the plain
// walks and the former decoders: a fixed, long, seeded sequence of calls
// of every export runs twice from the same damaged books (repeated ids and
// names, a record whose length ends inside a field), once on each path,
// and every answer, every structure filled and the books' bytes after
// every commit must be the same.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "address/address_record.h"
#include "kviabdb.h"
#include "security/packed_records.h"
#include "security_book_fixture.h"
#include "storage/book_table.h"
#include "support/reference_decoders.h"

namespace kvi::test {
namespace {

std::string AddressRecordBytes(const std::string& address, const std::string& name, uint16_t type, uint32_t id,
                               const std::string& phone = "") {
    const std::string body = address + '\0' + phone + '\0' + "x1" + '\0' + "" + '\0' + name + '\0' + Bytes(type) +
                             Bytes(uint32_t{5}) + Bytes(id);
    return Bytes(static_cast<uint32_t>(body.size() + 4)) + body;
}

// The damaged address book both runs start from.
std::string SeedAddressBook() {
    std::string data = AddressRecordBytes("office", "Office", 2, 1) + AddressRecordBytes("home", "Home", 2, 1) +
                       AddressRecordBytes("OFFICE  ", "Office again", 2, 3) +
                       AddressRecordBytes("modem", "", 1, 4, "555") + AddressRecordBytes("modem", "", 1, 5);
    data += Bytes(uint32_t{6}) + std::string("short\0", 6);  // length ends inside the address
    data += AddressRecordBytes("last", "Last", 3, 7);
    std::string h(44, '\0');
    h.replace(0, 2, Bytes(uint16_t{44}));
    h.replace(2, 4, "^*$%");
    h.replace(6, 4, "^*($");
    h.replace(10, 4, "DF10");
    h.replace(14, 2, Bytes(uint16_t{1}));
    h.replace(16, 2, Bytes(uint16_t{18}));
    h.replace(18, 4, Bytes(static_cast<uint32_t>(data.size())));
    h.replace(22, 4, Bytes(uint32_t{62}));
    const std::string dir = Bytes(uint16_t{100}) + Bytes(static_cast<uint32_t>(data.size())) + Bytes(uint32_t{7}) +
                            Bytes(uint32_t{62}) + Bytes(uint32_t{9});
    return h + dir + data;
}

// The damaged security book: repeated names and ids in every table.
std::string SeedSecurityBook() {
    const std::string prefixes = PackedAffix(1, "out", "9,") + PackedAffix(2, "OUT ", "0,") + PackedAffix(2, "far", "1");
    const std::string suffixes = PackedAffix(4, "end", "#") + PackedAffix(4, "end2", "*");
    const std::string users = PackedUser(1, "bob", "a") + PackedUser(2, "BOB  ", "b") + PackedUser(2, "eve", "c") +
                              PackedUser(5, "ann", "d");
    // The last folder record ends before its path.
    const std::string folders = PackedFolder(1, ".") + PackedFolder(1, "no_such_kvi_folder") + PackedFolder(3, "") +
                                PackedFolder(4, "no_such_kvi_folder/x") + Bytes(uint32_t{14}) + Bytes(uint32_t{6}) +
                                Bytes(uint32_t{7}) + Bytes(uint16_t{1});
    return RawSecurityBook({{1, RawGlobal(), 1, 0},
                            {2, prefixes, 3, 6},
                            {3, suffixes, 2, 4},
                            {4, users, 4, 5},
                            {5, folders, 5, 6}});
}

const char* const kNames[] = {"alpha", "ALPHA", "alpha  ", " alpha", "beta", "Beta ", "gamma", "bob", "Bob ",
                              "out",   "far",   "end",     "a long shared prefix one", "a long shared prefix two",
                              "",      "   ",   "delta"};
const char* const kPaths[] = {".", "no_such_kvi_folder", "", "./", "no_such_kvi_folder/y"};

class Recorder {
public:
    explicit Recorder(const TempWindowsDir& dir) : dir_(dir) {}
    template <class T>
    void Answer(const char* what, int64_t r, const T* filled = nullptr) {
        std::string line = std::string(what) + " " + std::to_string(r);
        if (filled) line += " " + Bytes(*filled);
        log.push_back(line);
    }
    void Answer(const char* what, int64_t r) { Answer<int>(what, r, nullptr); }
    void Files() {
        log.push_back("PBK " + ReadFile(dir_.BookPath("MERIDOX.PBK")));
        log.push_back("PWD " + ReadFile(dir_.BookPath("MERIDOX.PWD")));
    }
    std::vector<std::string> log;

private:
    const TempWindowsDir& dir_;
};

template <class T>
void PutName(T& e, const char* name) {
    Put(e.name, sizeof e.name, name);
}

std::vector<std::string> RunSequence(bool reference) {
    TempWindowsDir dir;
    WriteFile(dir.BookPath("MERIDOX.PBK"), SeedAddressBook());
    WriteFile(dir.BookPath("MERIDOX.PWD"), SeedSecurityBook());
    const AddressDecoder addressDecoder = SectionDecoder();
    const PackedDecoders packedDecoders = SectionDecoders();
    if (reference) {
        SectionDecoder() = reference::DecodeAddress;
        SectionDecoders() = {reference::DecodeAffix, reference::DecodeUser, reference::DecodeFolder};
    }
    IndexedLookups() = !reference;

    Recorder rec(dir);
    std::mt19937 rng(20261210);
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    auto name = [&] { return kNames[pick(sizeof kNames / sizeof kNames[0])]; };
    auto id = [&] { return pick(14); };  // ids of the seeds, of adds, and unknown ones
    char locker[] = "reference";
    char buffer[64];
    uint32_t flag = 0;
    KviListHandle addressList = 0, userList = 0, affixList = 0, folderList = 0;

    rec.Answer("init", KviDfInitialize());
    rec.Answer("open pbk", KviDfOpenAddressBook(0));
    rec.Answer("open pwd", KviDfOpenSecurityBook(nullptr));
    rec.Answer("lock pbk", KviDfLockAddressBook(locker));
    rec.Answer("lock pwd", KviDfLockSecurityBook(locker, 1000));
    for (int step = 0; step < 4000; ++step) {
        const uint32_t op = pick(44);
        const KviListHandle maybeAddressList = pick(3) == 0 ? addressList : 0;
        switch (op) {
            case 0: case 1: case 2: {
                AddressRecord e = Zeroed<AddressRecord>();
                PutName(e, name());
                Put(e.address, sizeof e.address, name());
                e.connectionType = static_cast<uint16_t>(pick(5));
                uint32_t index = 0xDEAD;
                rec.Answer("add address", KviDfAddAddress(&e, maybeAddressList, &index), &e);
                rec.Answer("index", index);
                break;
            }
            case 3: case 4: {
                AddressRecord e = Zeroed<AddressRecord>();
                e.id = id();
                PutName(e, name());
                Put(e.address, sizeof e.address, name());
                e.connectionType = static_cast<uint16_t>(pick(5));
                rec.Answer("update address", KviDfUpdateAddress(&e, maybeAddressList, pick(8)), &e);
                break;
            }
            case 5: rec.Answer("delete address", KviDfDeleteAddress(id(), maybeAddressList, pick(8))); break;
            case 6: case 7: {
                AddressRecord e = Zeroed<AddressRecord>();
                e.id = id();
                rec.Answer("get address", KviDfGetAddress(&e), &e);
                break;
            }
            case 8: {
                KviDfDestroyAddressList(addressList);
                addressList = KviDfCreateAddressList();
                rec.Answer("address list", addressList != 0);
                break;
            }
            case 9: {
                AddressRecord e = Zeroed<AddressRecord>();
                const int32_t i = static_cast<int32_t>(pick(12));
                rec.Answer("address item", KviDfAddressListItem(addressList, i, &e), &e);
                rec.Answer("address valid", KviDfAddressListValidAt(addressList, i));
                rec.Answer("address count", KviDfAddressListCount(addressList));
                break;
            }
            case 10: {
                rec.Answer("commit pbk", KviDfCommitAddressBook(pick(2)));
                rec.Files();
                break;
            }
            case 11: {
                KviDfCloseAddressBook();
                rec.Answer("reopen pbk", KviDfOpenAddressBook(0));
                break;
            }
            case 12: {
                char fresh[16], old[16];
                std::snprintf(fresh, sizeof fresh, "pw%u", pick(3));
                std::snprintf(old, sizeof old, "pw%u", pick(3));
                rec.Answer("set passwd", KviDfAddressBookSetPasswd(fresh, pick(2), old));
                std::memset(buffer, 0, sizeof buffer);
                rec.Answer("passwd", KviDfAddressBookPasswd(buffer, &flag));
                rec.log.push_back(std::string(buffer) + " " + std::to_string(flag));
                break;
            }
            case 13: {
                std::memset(buffer, 0, sizeof buffer);
                rec.Answer("address locker", KviDfGetAddressLocker(buffer, sizeof buffer));
                rec.Answer("security locker", KviDfGetSecurityLocker(buffer, sizeof buffer));
                rec.log.push_back(buffer);
                break;
            }
            case 14: case 15: {
                SecurityEntry e = User(name(), "pw");
                uint32_t index = 0xDEAD;
                rec.Answer("add user", KviDfAddSecurityEntry(&e, pick(2) ? userList : 0, &index), &e);
                rec.Answer("index", index);
                break;
            }
            case 16: {
                SecurityEntry e = User(name(), "new");
                e.id = id();
                rec.Answer("update user", KviDfUpdateSecurity(&e, pick(3) == 0 ? userList : 0, pick(8)), &e);
                break;
            }
            case 17: rec.Answer("delete user", KviDfDeleteSecurityEntry(id(), pick(3) == 0 ? userList : 0, pick(8))); break;
            case 18: {
                SecurityEntry e = Zeroed<SecurityEntry>();
                e.id = id();
                rec.Answer("get user", KviDfGetSecurity(&e), &e);
                SecurityEntry n = User(name());
                rec.Answer("user by name", KviDfGetSecurityByName(&n), &n);
                break;
            }
            case 19: {
                KviDfDestroySecurityList(userList);
                userList = KviDfCreateSecurityList();
                SecurityEntry e = Zeroed<SecurityEntry>();
                const int32_t i = static_cast<int32_t>(pick(10));
                rec.Answer("user item", KviDfSecurityListItem(userList, i, &e), &e);
                rec.Answer("user valid", KviDfSecurityListValidAt(userList, i));
                rec.Answer("user count", KviDfSecurityListCount(userList));
                break;
            }
            case 20: case 21: case 22: {
                AffixEntry e = Affix(name(), "7");
                uint32_t index = 0xDEAD;
                const bool prefix = pick(2);
                const KviListHandle list = pick(2) ? affixList : 0;
                rec.Answer("add affix",
                           prefix ? KviDfAddPrefixEntry(&e, list, &index) : KviDfAddSuffixEntry(&e, list, &index), &e);
                rec.Answer("index", index);
                break;
            }
            case 23: {
                AffixEntry e = Affix(name(), "8");
                e.id = id();
                const KviListHandle list = pick(3) == 0 ? affixList : 0;
                const int32_t i = static_cast<int32_t>(pick(8));
                rec.Answer("update affix", pick(2) ? KviDfUpdatePrefix(&e, list, i) : KviDfUpdateSuffix(&e, list, i), &e);
                break;
            }
            case 24: {
                const KviListHandle list = pick(3) == 0 ? affixList : 0;
                const int32_t i = static_cast<int32_t>(pick(8));
                const uint32_t compact = pick(2);
                rec.Answer("delete affix", pick(2) ? KviDfDeletePrefixEntry(id(), list, i, compact)
                                                   : KviDfDeleteSuffixEntry(id(), list, i, compact));
                break;
            }
            case 25: case 26: {
                AffixEntry e = Zeroed<AffixEntry>();
                e.id = id();
                const bool prefix = pick(2);
                rec.Answer("get affix", prefix ? KviDfGetPrefix(&e) : KviDfGetSuffix(&e), &e);
                AffixEntry n = Affix(name());
                n.id = pick(2) ? 0xFFFFFFFFu : id();
                rec.Answer("affix by name", prefix ? KviDfGetPrefixByName(&n) : KviDfGetSuffixByName(&n), &n);
                break;
            }
            case 27: {
                KviDfDestroyAffixList(affixList);
                affixList = pick(2) ? KviDfCreatePrefixList() : KviDfCreateSuffixList();
                AffixEntry e = Zeroed<AffixEntry>();
                const int32_t i = static_cast<int32_t>(pick(10));
                rec.Answer("affix item", KviDfAffixListItem(affixList, i, &e), &e);
                rec.Answer("affix valid", KviDfAffixListValidAt(affixList, i));
                rec.Answer("affix count", KviDfAffixListCount(affixList));
                rec.Answer("affix index of", KviDfAffixListIndexOf(affixList, id()));
                break;
            }
            case 28: case 29: {
                FolderSecurityEntry e = Folder(kPaths[pick(sizeof kPaths / sizeof kPaths[0])]);
                uint32_t index = 0xDEAD;
                rec.Answer("add folder", AddFolderSecurityEntry(&e, pick(2) ? folderList : 0, &index), &e);
                rec.Answer("index", index);
                break;
            }
            case 30: rec.Answer("delete folder", DeleteFolderSecurityEntry(id(), pick(3) == 0 ? folderList : 0, pick(8))); break;
            case 31: {
                FolderSecurityEntry e = Zeroed<FolderSecurityEntry>();
                e.id = id();
                rec.Answer("get folder", GetFolderSecurity(&e), &e);
                break;
            }
            case 32: rec.Answer("reset folder ids", ResetFolderSecurityId()); break;
            case 33: {
                DestroyFolderSecurityList(folderList);
                folderList = CreateFolderSecurityList();  // prunes the missing folders
                FolderSecurityEntry e = Zeroed<FolderSecurityEntry>();
                const int32_t i = static_cast<int32_t>(pick(10));
                rec.Answer("folder item", FolderSecurityListItem(folderList, i, &e), &e);
                rec.Answer("folder valid", FolderSecurityListValidAt(folderList, i));
                rec.Answer("folder count", FolderSecurityListCount(folderList));
                break;
            }
            case 34: {
                GlobalSecurity g = Zeroed<GlobalSecurity>();
                rec.Answer("get global", KviDfGetGlobalSecurity(&g), &g);
                g.mode = pick(4);
                if (pick(4) == 0) std::snprintf(g.password, sizeof g.password, "g%u", pick(3));
                rec.Answer("set global", KviDfSetGlobalSecurity(&g));
                rec.Files();
                break;
            }
            case 35: {
                rec.Answer("commit pwd", KviDfCommitSecurityBook(pick(2)));
                rec.Files();
                break;
            }
            case 36: {
                rec.Answer("unlock pwd", KviDfUnlockSecurityBook());  // commits
                rec.Files();
                rec.Answer("lock pwd", KviDfLockSecurityBook(locker, 1000));
                break;
            }
            case 37: {
                KviDfCloseSecurityBook();
                rec.Answer("reopen pwd", KviDfOpenSecurityBook(nullptr));
                break;
            }
            case 38: {
                rec.Answer("unlock pbk", KviDfUnlockAddressBook());
                if (pick(2)) rec.Answer("add unlocked", [] {
                    AddressRecord e = Zeroed<AddressRecord>();
                    return KviDfAddAddress(&e, 0, nullptr);
                }());
                rec.Answer("lock pbk", KviDfLockAddressBook(locker));
                break;
            }
            default: {
                // Many adds of names that share a long prefix, as a client
                // filling a book does.
                const std::string text = "a long shared prefix " + std::to_string(pick(60));
                AddressRecord e = Zeroed<AddressRecord>();
                PutName(e, text.c_str());
                Put(e.address, sizeof e.address, text.c_str());
                e.connectionType = 2;
                rec.Answer("add prefixed", KviDfAddAddress(&e, 0, nullptr), &e);
                SecurityEntry u = User(text.c_str());
                rec.Answer("add prefixed user", KviDfAddSecurityEntry(&u, 0, nullptr), &u);
                break;
            }
        }
    }
    rec.Answer("final commit pbk", KviDfCommitAddressBook(1));
    rec.Answer("final commit pwd", KviDfCommitSecurityBook(1));
    rec.Files();
    KviDfDestroyAddressList(addressList);
    KviDfDestroySecurityList(userList);
    KviDfDestroyAffixList(affixList);
    DestroyFolderSecurityList(folderList);
    KviDfUnlockSecurityBook();
    KviDfUnlockAddressBook();
    KviDfCloseAddressBook();
    KviDfCloseSecurityBook();
    KviDfTerminate();

    SectionDecoder() = addressDecoder;
    SectionDecoders() = packedDecoders;
    IndexedLookups() = true;
    return rec.log;
}

TEST(ReferencePaths, EveryExportAnswersAsThePlainWalksAndFormerDecoders) {
    const std::vector<std::string> fresh = RunSequence(false);
    const std::vector<std::string> former = RunSequence(true);
    ASSERT_EQ(former.size(), fresh.size());
    for (size_t i = 0; i < fresh.size(); ++i) ASSERT_EQ(former[i], fresh[i]) << "answer " << i;
    // The run did reach the rules it compares.
    size_t duplicates = 0, done = 0;
    for (const std::string& line : fresh) {
        duplicates += line.rfind("add address 3", 0) == 0 || line.rfind("add user 3", 0) == 0;
        done += line.rfind("update user 1", 0) == 0 || line.rfind("delete affix 1", 0) == 0;
    }
    EXPECT_GT(duplicates, 50u);
    EXPECT_GT(done, 20u);
}

}  // namespace
}  // namespace kvi::test
