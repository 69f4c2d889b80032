// KVIABIO itself: the fault hook that the commit and crash tests step
// through, and the crash-safe replace.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "kviabio.h"
#include "support/test_support.h"

namespace {

using kvi::test::ReadFile;
using kvi::test::WriteFile;

class KvioFaultTest : public testing::Test {
protected:
    void SetUp() override { KvioInjectFault(KVIO_OP_NONE, 0, 0); }
    void TearDown() override { KvioInjectFault(KVIO_OP_NONE, 0, 0); }

    // Creates the file and writes each piece with its own call; returns
    // the result of each write.
    std::string WritePieces(const std::string& path, const std::string& pieces) {
        uint32_t handle = KVIO_INVALID_HANDLE;
        EXPECT_EQ(KvioCreate(path.c_str(), 0x80, &handle), 0u);
        std::string results;
        for (char c : pieces) {
            uint32_t transferred = 99;
            const uint32_t rc = KvioWrite(handle, &c, 1, &transferred);
            results += rc == 0 ? 'o' : 'x';
            EXPECT_EQ(transferred, rc == 0 ? 1u : 0u);
        }
        EXPECT_EQ(KvioClose(handle), 0u);
        return results;
    }

    kvi::test::TempWindowsDir dir_;
};

TEST_F(KvioFaultTest, WindowOfWritesFailsAndWritesNothing) {
    struct Case {
        uint32_t nth, count;
        const char* results;
        const char* content;
    };
    const Case cases[] = {
        {2, 1, "oxoo", "ACD"},
        {1, 3, "xxxo", "D"},
        {3, 0xFFFFFFFFu, "ooxx", "AB"},  // every later call
    };
    const std::string path = dir_.BookPath("F.BIN");
    for (const Case& c : cases) {
        // Counting starts at the inject call, whatever came before. The
        // create and close around the writes are unaffected.
        KvioInjectFault(KVIO_OP_WRITE, c.nth, c.count);
        EXPECT_EQ(WritePieces(path, "ABCD"), c.results) << c.nth << "," << c.count;
        EXPECT_EQ(ReadFile(path), c.content) << c.nth << "," << c.count;
        KvioInjectFault(KVIO_OP_NONE, 0, 0);
    }
}

TEST_F(KvioFaultTest, ClearingDisarmsAndFailedCallsStillCount) {
    const std::string path = dir_.BookPath("F.BIN");
    const uint32_t before = KvioCallCount(KVIO_OP_WRITE);
    KvioInjectFault(KVIO_OP_WRITE, 1, 1);
    EXPECT_EQ(WritePieces(path, "A"), "x");
    EXPECT_EQ(KvioCallCount(KVIO_OP_WRITE), before + 1);

    KvioInjectFault(KVIO_OP_WRITE, 1, 5);
    KvioInjectFault(KVIO_OP_NONE, 0, 0);
    EXPECT_EQ(WritePieces(path, "AB"), "oo");

    KvioInjectFault(KVIO_OP_WRITE, 1, 5);
    KvioInjectFault(KVIO_OP_WRITE, 0, 0);  // disarms this operation only
    KvioInjectFault(KVIO_OP_CLOSE, 2, 1);
    EXPECT_EQ(WritePieces(path, "AB"), "oo");
    uint32_t handle = KVIO_INVALID_HANDLE;
    ASSERT_EQ(KvioOpen(path.c_str(), KVIO_GENERIC_READ, &handle), 0u);
    EXPECT_NE(KvioClose(handle), 0u);  // the close fault is still armed
    EXPECT_EQ(KvioCallCount(KVIO_OP_WRITE), before + 5);
}

TEST_F(KvioFaultTest, InjectedCreateAndOpenStoreNoHandle) {
    const std::string path = dir_.BookPath("F.BIN");
    WriteFile(path, "keep");
    uint32_t handle = 7;
    KvioInjectFault(KVIO_OP_CREATE, 1, 1);
    EXPECT_NE(KvioCreate(path.c_str(), 0x80, &handle), 0u);
    EXPECT_EQ(handle, KVIO_INVALID_HANDLE);
    EXPECT_EQ(ReadFile(path), "keep");  // an injected create empties nothing
    KvioInjectFault(KVIO_OP_OPEN, 1, 1);
    handle = 7;
    EXPECT_NE(KvioOpen(path.c_str(), KVIO_GENERIC_READ, &handle), 0u);
    EXPECT_EQ(handle, KVIO_INVALID_HANDLE);
}

TEST_F(KvioFaultTest, ForkedChildInheritsArmedFault) {
    const std::string path = dir_.BookPath("F.BIN");
    KvioInjectFault(KVIO_OP_WRITE, 2, 1);
    const int status = kvi::test::RunInChild([&] {
        return WritePieces(path, "ABC") == "oxo" ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFile(path), "AC");
    // The child's calls were its own: the parent's window is still ahead.
    EXPECT_EQ(WritePieces(path, "ABC"), "oxo");
}

class KvioReplaceTest : public testing::Test {
protected:
    void SetUp() override { KvioInjectFault(KVIO_OP_NONE, 0, 0); }
    void TearDown() override { KvioInjectFault(KVIO_OP_NONE, 0, 0); }
    kvi::test::TempWindowsDir dir_;
};

TEST_F(KvioReplaceTest, SourceTakesTargetsPlace) {
    const std::string source = dir_.BookPath("MERIDOX.TMP");
    const std::string target = dir_.BookPath("MERIDOX.PBK");
    for (bool targetExists : {true, false}) {
        WriteFile(source, std::string("new\0bytes", 9));
        if (targetExists) WriteFile(target, "old content, longer than the new");
        // Windows-style separators, as the library builds its paths.
        const std::string winSource = dir_.Path() + "\\KVI32\\MERIDOX.TMP";
        EXPECT_EQ(KvioReplace(winSource.c_str(), target.c_str()), 0u) << targetExists;
        EXPECT_EQ(ReadFile(target), std::string("new\0bytes", 9)) << targetExists;
        EXPECT_FALSE(kvi::test::FileExists(source)) << targetExists;
        std::remove(target.c_str());
    }
}

TEST_F(KvioReplaceTest, FailureLeavesTargetAndSource) {
    const std::string source = dir_.BookPath("MERIDOX.TMP");
    const std::string target = dir_.BookPath("MERIDOX.PBK");
    const std::string old("old\0content", 11);
    WriteFile(target, old);
    WriteFile(source, "new");

    KvioInjectFault(KVIO_OP_REPLACE, 1, 1);
    EXPECT_EQ(KvioReplace(source.c_str(), target.c_str()), KVIO_REPLACE_NOT_DONE);
    EXPECT_EQ(ReadFile(target), old);
    EXPECT_EQ(ReadFile(source), "new");

    // Real failures: no source, and a target that is a folder.
    const std::string missing = dir_.BookPath("NONE.TMP");
    EXPECT_EQ(KvioReplace(missing.c_str(), target.c_str()), KVIO_REPLACE_NOT_DONE);
    EXPECT_EQ(ReadFile(target), old);
    EXPECT_EQ(KvioReplace(source.c_str(), (dir_.Path() + "/KVI32").c_str()),
              KVIO_REPLACE_NOT_DONE);
    EXPECT_EQ(ReadFile(source), "new");
    EXPECT_NE(KvioReplace(nullptr, target.c_str()), 0u);
    EXPECT_NE(KvioReplace(source.c_str(), nullptr), 0u);
    EXPECT_EQ(ReadFile(target), old);
}

}  // namespace

namespace {

// Only a missing file is "not found"; a folder, a FIFO or a file that may
// not be read is another failure, so nobody makes a new book over it.
TEST(KvioOpenTest, OnlyAMissingFileIsNotFound) {
    kvi::test::TempWindowsDir dir;
    const std::string folder = dir.Path() + "/KVI32";
    uint32_t handle = KVIO_INVALID_HANDLE;
    EXPECT_EQ(KVIO_NOT_FOUND, KvioOpen((folder + "/missing").c_str(), KVIO_GENERIC_READ, &handle));
    EXPECT_EQ(KVIO_NOT_FOUND, KvioOpen((dir.Path() + "/nofolder/x").c_str(), KVIO_GENERIC_READ, &handle));
    EXPECT_EQ(KVIO_FAILED, KvioOpen(folder.c_str(), KVIO_GENERIC_READ, &handle));
    ASSERT_EQ(0, mkfifo((folder + "/fifo").c_str(), 0666));
    EXPECT_EQ(KVIO_FAILED, KvioOpen((folder + "/fifo").c_str(), KVIO_GENERIC_READ, &handle));
    KvioInjectFault(KVIO_OP_OPEN, 1, 1);
    EXPECT_EQ(KVIO_FAILED, KvioOpen((folder + "/missing").c_str(), KVIO_GENERIC_READ, &handle));
    KvioInjectFault(KVIO_OP_NONE, 0, 0);
    EXPECT_EQ(KVIO_INVALID_HANDLE, handle);
}

// The first book goes in place once: a second one finds it there, except
// an empty file, which holds no book.
TEST(KvioPlaceTest, PutsAFileOnlyWhereNoneIs) {
    kvi::test::TempWindowsDir dir;
    const std::string book = dir.BookPath("BOOK");
    auto temporary = [&](const std::string& bytes) {
        char name[512];
        uint32_t handle = KVIO_INVALID_HANDLE, written = 0;
        EXPECT_EQ(0u, KvioCreateTemporary(book.c_str(), 0, &handle, name, sizeof name));
        EXPECT_EQ(0u, KvioWrite(handle, bytes.data(), static_cast<uint32_t>(bytes.size()), &written));
        EXPECT_EQ(0u, KvioClose(handle));
        return std::string(name);
    };
    const std::string first = temporary("first");
    EXPECT_EQ(0u, KvioPlace(first.c_str(), book.c_str()));
    const std::string second = temporary("second");
    EXPECT_EQ(KVIO_PLACE_EXISTS, KvioPlace(second.c_str(), book.c_str()));
    EXPECT_EQ("first", ReadFile(book));
    EXPECT_EQ("second", ReadFile(second));
    EXPECT_EQ(0u, KvioDelete(second.c_str()));
    EXPECT_EQ(KVIO_NOT_FOUND, KvioDelete(second.c_str()));
    WriteFile(book, "");
    const std::string third = temporary("third");
    EXPECT_EQ(0u, KvioPlace(third.c_str(), book.c_str()));
    EXPECT_EQ("third", ReadFile(book));
    EXPECT_EQ(0, kvi::test::TemporaryFileCount(dir.Path() + "/KVI32"));
    uint32_t handle = KVIO_INVALID_HANDLE, size = 0;
    ASSERT_EQ(0u, KvioOpen(book.c_str(), KVIO_GENERIC_READ, &handle));
    EXPECT_EQ(0u, KvioGetSize(handle, &size));
    EXPECT_EQ(5u, size);
    KvioClose(handle);
    EXPECT_NE(0u, KvioFlush(handle));  // closed
    ASSERT_EQ(0u, KvioOpen(book.c_str(), KVIO_GENERIC_WRITE, &handle));
    uint32_t written = 0;
    EXPECT_EQ(0u, KvioWrite(handle, "T", 1, &written));
    EXPECT_EQ(0u, KvioFlush(handle));
    KvioClose(handle);
    EXPECT_EQ("Third", ReadFile(book));
    // A name buffer too small for the temporary name: refused, nothing made.
    char small[8];
    EXPECT_NE(0u, KvioCreateTemporary(book.c_str(), 0, &handle, small, sizeof small));
    EXPECT_EQ(0, kvi::test::TemporaryFileCount(dir.Path() + "/KVI32"));
}

}  // namespace
