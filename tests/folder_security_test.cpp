// Folder security: stale-entry pruning with and without the lock, ids and
// their renumbering, and the folder list.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "security_book_fixture.h"

namespace kvi::test {
namespace {

class FolderSecurity : public SecuritySession {
protected:
    // The table of the pruning cases: a directory, a missing path, a
    // file, an empty path.
    void AddFourKinds() {
        const std::string folder = dir_.Path() + "/existing";
        ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
        WriteFile(dir_.Path() + "/plain.txt", "x");
        for (const std::string& path : {folder, dir_.Path() + "/missing", dir_.Path() + "/plain.txt", std::string()})
            ids_.push_back(Add(Folder(path)));
    }
    uint32_t Add(FolderSecurityEntry e) {
        EXPECT_EQ(1, AddFolderSecurityEntry(&e, 0, nullptr));
        return e.id;
    }
    bool InBook(uint32_t id) {
        FolderSecurityEntry e = Zeroed<FolderSecurityEntry>();
        e.id = id;
        return GetFolderSecurity(&e) == 1;
    }
    std::vector<uint32_t> ListedIds(KviListHandle list) {
        std::vector<uint32_t> ids;
        FolderSecurityEntry item = Zeroed<FolderSecurityEntry>();
        for (int32_t i = 0; i < FolderSecurityListCount(list); ++i) {
            EXPECT_EQ(1, FolderSecurityListItem(list, i, &item));
            EXPECT_EQ(276u, item.size);
            ids.push_back(item.id);
        }
        return ids;
    }
    std::vector<uint32_t> ids_;
};

// The entries are read from the file (pruning tests the paths of entries
// not yet decoded); those added in memory are pruned below.
TEST_F(FolderSecurity, PruningWithAndWithoutTheLock) {
    AddFourKinds();
    CommitAndReopen();
    for (const bool locked : {false, true}) {
        if (locked) {
            ASSERT_EQ(1, KviDfLockSecurityBook(locker_, 1000));
        } else {
            ASSERT_EQ(1, KviDfUnlockSecurityBook());
        }
        const KviListHandle list = CreateFolderSecurityList();
        ASSERT_NE(0u, list);
        EXPECT_EQ((std::vector<uint32_t>{ids_[0], ids_[3]}), ListedIds(list)) << locked;
        const bool kept = !locked;
        EXPECT_TRUE(InBook(ids_[0]));
        EXPECT_EQ(kept, InBook(ids_[1])) << locked;
        EXPECT_EQ(kept, InBook(ids_[2])) << locked;
        EXPECT_TRUE(InBook(ids_[3]));
        DestroyFolderSecurityList(list);
    }
    // The deletions are changes: they reach the file with the commit.
    CommitAndReopen();
    EXPECT_FALSE(InBook(ids_[1]));
    EXPECT_TRUE(InBook(ids_[3]));
}

TEST_F(FolderSecurity, NeighbouringStaleEntriesAreBothDropped) {
    const std::string gone = dir_.Path() + "/gone";
    ids_ = {Add(Folder(gone)), Add(Folder(gone + "2")), Add(Folder(""))};
    const KviListHandle list = CreateFolderSecurityList();
    EXPECT_EQ((std::vector<uint32_t>{ids_[2]}), ListedIds(list));
    EXPECT_FALSE(InBook(ids_[0]));
    EXPECT_FALSE(InBook(ids_[1]));
    DestroyFolderSecurityList(list);
}

// Only a folder that is gone is pruned: a path the system cannot answer
// for (here a loop of links; no search permission on a parent is the
// usual case) stays in the book and in the list. Many stale entries among
// kept ones leave in one pass and the kept ones keep their order.
TEST_F(FolderSecurity, OnlyFoldersThatAreGoneArePruned) {
    const std::string loop = dir_.Path() + "/loop";
    ASSERT_EQ(0, symlink(loop.c_str(), loop.c_str()));
    WriteFile(dir_.Path() + "/plain.txt", "x");
    std::vector<uint32_t> kept;
    for (int i = 0; i < 300; ++i) {
        switch (i % 5) {
            case 0: kept.push_back(Add(Folder(loop + "/inside"))); break;             // unknown
            case 1: Add(Folder(dir_.Path() + "/plain.txt/below")); break;              // ENOTDIR
            case 2: Add(Folder(dir_.Path() + "/missing" + std::to_string(i))); break;  // ENOENT
            case 3: kept.push_back(Add(Folder(dir_.Path()))); break;
            default: kept.push_back(Add(Folder(""))); break;
        }
    }
    const KviListHandle list = CreateFolderSecurityList();
    EXPECT_EQ(kept, ListedIds(list));
    DestroyFolderSecurityList(list);
    CommitAndReopen();
    const KviListHandle again = CreateFolderSecurityList();
    EXPECT_EQ(kept, ListedIds(again));  // nothing more to prune
    DestroyFolderSecurityList(again);
    EXPECT_EQ(kept.size(), DirectoryEntry(BookBytes(), 4).count);
}

TEST_F(FolderSecurity, ResetRenumbersAndACommitLetsIdsComeBack) {
    ids_ = {Add(Folder("")), Add(Folder("")), Add(Folder(""))};
    ASSERT_EQ(1, DeleteFolderSecurityEntry(2, 0, 0));
    ASSERT_EQ(1, ResetFolderSecurityId());
    EXPECT_TRUE(InBook(1));
    EXPECT_TRUE(InBook(2));
    EXPECT_FALSE(InBook(3));
    EXPECT_EQ(4u, Add(Folder("")));  // lastId is unchanged

    ASSERT_EQ(1, DeleteFolderSecurityEntry(4, 0, 0));
    ASSERT_EQ(1, KviDfCommitSecurityBook(0));
    EXPECT_EQ(3u, Add(Folder("")));  // lastId follows the last entry written
    ASSERT_EQ(1, KviDfUnlockSecurityBook());
    EXPECT_EQ(0, ResetFolderSecurityId());
}

TEST_F(FolderSecurity, ALongPathIsCutAndKeepsItsTerminator) {
    FolderSecurityEntry e = Folder("");
    std::memset(e.path, 'd', sizeof e.path);  // no terminator
    const uint32_t cut = Add(e);
    CommitAndReopen();
    FolderSecurityEntry got = Zeroed<FolderSecurityEntry>();
    got.id = cut;
    ASSERT_EQ(1, GetFolderSecurity(&got));
    EXPECT_EQ(std::string(261, 'd'), got.path);

    // An existing directory whose path has exactly 261 characters is
    // listed with its terminator.
    std::string path = dir_.Path();
    while (path.size() < 261) {
        const size_t part = std::min<size_t>(200, 261 - path.size() - 1);
        path += "/" + std::string(part, 'e');
        ASSERT_EQ(0, mkdir(path.c_str(), 0700)) << path;
    }
    ASSERT_EQ(261u, path.size());
    const uint32_t id = Add(Folder(path));
    const KviListHandle list = CreateFolderSecurityList();
    ASSERT_EQ(1, FolderSecurityListCount(list));  // the cut one was stale
    FolderSecurityEntry item;
    std::memset(&item, 'z', sizeof item);
    ASSERT_EQ(1, FolderSecurityListItem(list, 0, &item));
    EXPECT_EQ(id, item.id);
    EXPECT_EQ(path, std::string(item.path, strnlen(item.path, sizeof item.path)));
    EXPECT_EQ('\0', item.path[261]);
    DestroyFolderSecurityList(list);
}

TEST_F(FolderSecurity, ChangesThroughTheList) {
    ids_ = {Add(Folder("")), Add(Folder(""))};
    const KviListHandle list = CreateFolderSecurityList();
    EXPECT_EQ(0, DeleteFolderSecurityEntry(ids_[0], list, 2));  // index = count
    EXPECT_EQ(0, DeleteFolderSecurityEntry(ids_[0], list, 1));  // another id there
    EXPECT_TRUE(InBook(ids_[0]));
    ASSERT_EQ(1, DeleteFolderSecurityEntry(ids_[0], list, 0));
    EXPECT_EQ(0, FolderSecurityListValidAt(list, 0));
    FolderSecurityEntry e = Folder("");
    e.size = 3;
    uint32_t index = 9;
    ASSERT_EQ(1, AddFolderSecurityEntry(&e, list, &index));
    EXPECT_EQ(0u, index);
    FolderSecurityEntry item = Zeroed<FolderSecurityEntry>();
    ASSERT_EQ(1, FolderSecurityListItem(list, 0, &item));
    EXPECT_EQ(3u, item.size);  // the caller's size word
    EXPECT_EQ(e.id, item.id);
    EXPECT_EQ(0, AddFolderSecurityEntry(&e, list, nullptr));  // a list needs indexOut
    DestroyFolderSecurityList(list);

    FolderSecurityEntry zero = Zeroed<FolderSecurityEntry>();
    zero.size = 1;
    EXPECT_EQ(0, GetFolderSecurity(&zero));
    EXPECT_EQ(1u, zero.size);
    zero.id = 99;
    EXPECT_EQ(0, GetFolderSecurity(&zero));
    EXPECT_EQ(276u, zero.size);
}

}  // namespace
}  // namespace kvi::test
