// KVIABIO over the Win32 file API: the share modes that let readers load
// while a writer commits, the replace of the crash-safe commit (also over
// a book another process holds open, and its retries while a scanner holds
// the file), and the fault hook.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "kviabio.h"
#include "support/test_support.h"

namespace {

using kvi::test::FileExists;
using kvi::test::ReadFile;
using kvi::test::WriteFile;

class WindowsKvioTest : public testing::Test {
protected:
    void SetUp() override { KvioInjectFault(KVIO_OP_NONE, 0, 0); }
    void TearDown() override { KvioInjectFault(KVIO_OP_NONE, 0, 0); }

    kvi::test::TempWindowsDir dir_;
    const std::string book_ = dir_.BookPath("MERIDOX.PBK");
    const std::string fresh_ = dir_.BookPath("MERIDOX.PB$");
};

TEST_F(WindowsKvioTest, FileOperationsAnswerAsTheLibraryExpects) {
    uint32_t handle = KVIO_INVALID_HANDLE;
    uint32_t transferred = 0;
    ASSERT_EQ(KvioCreate(book_.c_str(), FILE_ATTRIBUTE_NORMAL, &handle), 0u);
    EXPECT_NE(handle, KVIO_INVALID_HANDLE);
    EXPECT_EQ(KvioWrite(handle, "0123456789", 10, &transferred), 0u);
    EXPECT_EQ(transferred, 10u);
    EXPECT_EQ(KvioSetPosition(handle, 4, 0), 4u);
    EXPECT_EQ(KvioSetPosition(handle, 4, 1), 0xFFFFFFFFu);  // only from the start
    EXPECT_EQ(KvioClose(handle), 0u);

    ASSERT_EQ(KvioOpen(book_.c_str(), KVIO_GENERIC_WRITE, &handle), 0u);  // keeps the content
    EXPECT_EQ(KvioSetPosition(handle, 8, 0), 8u);
    EXPECT_EQ(KvioWrite(handle, "AB", 2, &transferred), 0u);
    EXPECT_EQ(KvioClose(handle), 0u);
    EXPECT_EQ(ReadFile(book_), "01234567AB");

    ASSERT_EQ(KvioOpen(book_.c_str(), KVIO_GENERIC_READ, &handle), 0u);
    char buffer[16] = {};
    EXPECT_EQ(KvioSetPosition(handle, 6, 0), 6u);
    EXPECT_NE(KvioRead(handle, buffer, 8, &transferred), 0u);  // the end comes first
    EXPECT_EQ(transferred, 4u);
    EXPECT_EQ(std::string(buffer, 4), "67AB");
    EXPECT_EQ(KvioClose(handle), 0u);

    EXPECT_EQ(KvioOpen(fresh_.c_str(), KVIO_GENERIC_READ, &handle), KVIO_NOT_FOUND);  // missing
    EXPECT_EQ(KvioOpen((dir_.Path() + "\\none\\x").c_str(), KVIO_GENERIC_READ, &handle), KVIO_NOT_FOUND);
    EXPECT_EQ(handle, KVIO_INVALID_HANDLE);
    EXPECT_EQ(KvioOpen((dir_.Path() + "\\KVI32").c_str(), KVIO_GENERIC_READ, &handle), KVIO_FAILED);  // a folder
    EXPECT_NE(KvioClose(KVIO_INVALID_HANDLE), 0u);
    EXPECT_NE(KvioRead(KVIO_INVALID_HANDLE, buffer, 1, &transferred), 0u);
}

TEST_F(WindowsKvioTest, ReadersAndTheWriterShareTheFileAndTheReplaceWaitsOutALoadingReader) {
    WriteFile(book_, "old book");
    uint32_t reader = KVIO_INVALID_HANDLE;
    ASSERT_EQ(KvioOpen(book_.c_str(), KVIO_GENERIC_READ, &reader), 0u);
    // A writer opens the book while it is being read, and a second reader
    // joins while it is written.
    uint32_t writer = KVIO_INVALID_HANDLE, second = KVIO_INVALID_HANDLE, transferred = 0;
    ASSERT_EQ(KvioOpen(book_.c_str(), KVIO_GENERIC_WRITE, &writer), 0u);
    ASSERT_EQ(KvioOpen(book_.c_str(), KVIO_GENERIC_READ, &second), 0u);
    EXPECT_EQ(KvioClose(writer), 0u);
    EXPECT_EQ(KvioClose(second), 0u);

    uint32_t handle = KVIO_INVALID_HANDLE;
    ASSERT_EQ(KvioCreate(fresh_.c_str(), FILE_ATTRIBUTE_NORMAL, &handle), 0u);
    ASSERT_EQ(KvioWrite(handle, "new book", 8, &transferred), 0u);
    ASSERT_EQ(KvioClose(handle), 0u);
    // Another process's load holds the book for a moment; the commit's
    // rename goes through once it is closed.
    std::thread load([reader] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        char buffer[8];
        uint32_t n = 0;
        KvioRead(reader, buffer, 8, &n);
        KvioClose(reader);
    });
    EXPECT_EQ(KvioReplace(fresh_.c_str(), book_.c_str()), 0u);
    load.join();
    EXPECT_EQ(ReadFile(book_), "new book");
    EXPECT_FALSE(FileExists(fresh_));
}

TEST_F(WindowsKvioTest, ReplaceRetriesWhileAScannerHoldsTheBookAndGivesUpLeavingBoth) {
    for (bool letGo : {true, false}) {
        SCOPED_TRACE(letGo ? "scanner lets go" : "scanner keeps it");
        WriteFile(book_, "old");
        WriteFile(fresh_, "new");
        // As a virus scanner opens it: without FILE_SHARE_DELETE.
        HANDLE scanner = ::CreateFileA(book_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
        std::thread release;
        if (letGo) {
            release = std::thread([scanner] {
                std::this_thread::sleep_for(std::chrono::milliseconds(60));
                ::CloseHandle(scanner);
            });
        }
        const auto start = std::chrono::steady_clock::now();
        const uint32_t rc = KvioReplace(fresh_.c_str(), book_.c_str());
        const auto took = std::chrono::steady_clock::now() - start;
        if (letGo) {
            release.join();
            EXPECT_EQ(rc, 0u);
            EXPECT_EQ(ReadFile(book_), "new");
            EXPECT_FALSE(FileExists(fresh_));
        } else {
            ::CloseHandle(scanner);
            EXPECT_EQ(rc, KVIO_REPLACE_NOT_DONE);
            EXPECT_EQ(ReadFile(book_), "old");
            EXPECT_EQ(ReadFile(fresh_), "new");
            EXPECT_LT(took, std::chrono::seconds(2));  // a few tries, not a hang
        }
    }
}

TEST_F(WindowsKvioTest, ReplaceFailuresLeaveTargetAndSource) {
    WriteFile(book_, "old");
    EXPECT_EQ(KvioReplace(fresh_.c_str(), book_.c_str()), KVIO_REPLACE_NOT_DONE);  // no source
    EXPECT_EQ(ReadFile(book_), "old");
    WriteFile(fresh_, "new");
    KvioInjectFault(KVIO_OP_REPLACE, 1, 1);
    EXPECT_EQ(KvioReplace(fresh_.c_str(), book_.c_str()), KVIO_REPLACE_NOT_DONE);
    EXPECT_EQ(ReadFile(book_), "old");
    EXPECT_EQ(ReadFile(fresh_), "new");
    // Onto a missing target as well.
    ASSERT_EQ(std::remove(book_.c_str()), 0);
    EXPECT_EQ(KvioReplace(fresh_.c_str(), book_.c_str()), 0u);
    EXPECT_EQ(ReadFile(book_), "new");
}

// Temporary files are new files of their own (CREATE_NEW); the first book
// is placed only where none is (an empty file counts as none).
TEST_F(WindowsKvioTest, TemporaryFilesAreNewAndPlaceNeverReplacesABook) {
    auto temporary = [&](const char* bytes) {
        char name[512];
        uint32_t handle = KVIO_INVALID_HANDLE, written = 0;
        EXPECT_EQ(KvioCreateTemporary(book_.c_str(), 0, &handle, name, sizeof name), 0u);
        EXPECT_EQ(KvioWrite(handle, bytes, static_cast<uint32_t>(strlen(bytes)), &written), 0u);
        EXPECT_EQ(KvioClose(handle), 0u);
        return std::string(name);
    };
    const std::string a = temporary("first"), b = temporary("second");
    EXPECT_NE(a, b);
    EXPECT_EQ(KvioPlace(a.c_str(), book_.c_str()), 0u);
    EXPECT_EQ(KvioPlace(b.c_str(), book_.c_str()), KVIO_PLACE_EXISTS);
    EXPECT_EQ(ReadFile(book_), "first");
    EXPECT_EQ(KvioDelete(b.c_str()), 0u);
    EXPECT_EQ(KvioDelete(b.c_str()), KVIO_NOT_FOUND);
    WriteFile(book_, "");
    const std::string c = temporary("third");
    EXPECT_EQ(KvioPlace(c.c_str(), book_.c_str()), 0u);
    EXPECT_EQ(ReadFile(book_), "third");
}

}  // namespace
