// IoFile over KVIABIO: the state rules its users rely on (Close always
// closes and resets the access, the destructor closes only an open file)
// and the file behaviour behind it.
#include "storage/io_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <memory>
#include <string>

#include "kviabio.h"
#include "support/test_support.h"

namespace {

using kvi::IoFile;
using kvi::kClosedHandle;
using kvi::kGenericRead;
using kvi::kGenericWrite;
using kvi::test::ReadFile;
using kvi::test::WriteFile;

bool DescriptorIsOpen(uint32_t handle) { return fcntl(static_cast<int>(handle), F_GETFD) != -1; }

uint32_t AllCalls() {
    uint32_t total = 0;
    for (uint32_t op = KVIO_OP_CREATE; op <= KVIO_OP_LAST; ++op) total += KvioCallCount(op);
    return total;
}

class IoFileTest : public testing::Test {
protected:
    void SetUp() override { KvioInjectFault(KVIO_OP_NONE, 0, 0); }
    void TearDown() override { KvioInjectFault(KVIO_OP_NONE, 0, 0); }

    std::string Read(IoFile& file, uint32_t length, uint32_t* rc) {
        std::string bytes(length, '\0');
        *rc = file.Read(&bytes[0], length);
        return bytes;
    }

    kvi::test::TempWindowsDir dir_;
    const std::string path_ = dir_.BookPath("MERIDOX.PBK");
};

TEST_F(IoFileTest, FailedCloseStillLeavesFileClosed) {
    WriteFile(path_, "abc");
    IoFile file(path_.c_str(), kGenericRead);
    ASSERT_EQ(file.Open(kGenericWrite), 0u);
    const uint32_t fd = file.Handle();
    KvioInjectFault(KVIO_OP_CLOSE, 1, 1);
    EXPECT_NE(file.Close(), 0u);
    EXPECT_EQ(file.Handle(), kClosedHandle);
    EXPECT_EQ(file.Access(), kGenericRead);
    EXPECT_FALSE(DescriptorIsOpen(fd));  // a failed close leaks nothing
}

TEST_F(IoFileTest, CloseResetsAccessForTheNextOpen) {
    WriteFile(path_, "abc");
    IoFile file(path_.c_str(), kGenericRead);
    ASSERT_EQ(file.Open(kGenericWrite), 0u);
    EXPECT_EQ(file.Access(), kGenericWrite);
    uint32_t rc = 0;
    Read(file, 1, &rc);
    EXPECT_NE(rc, 0u);  // opened for writing only
    EXPECT_EQ(file.Close(), 0u);
    EXPECT_EQ(file.Access(), kGenericRead);
    ASSERT_EQ(file.Open(kGenericRead), 0u);
    EXPECT_EQ(Read(file, 3, &rc), "abc");
    EXPECT_EQ(rc, 0u);
    EXPECT_NE(file.Write("x", 1), 0u);  // and now for reading only
    EXPECT_EQ(file.Close(), 0u);
    EXPECT_EQ(ReadFile(path_), "abc");
}

TEST_F(IoFileTest, DestructorClosesOnlyAnOpenFile) {
    WriteFile(path_, "abc");
    auto used = std::make_unique<IoFile>(path_.c_str(), kGenericRead);
    ASSERT_EQ(used->Open(kGenericRead), 0u);
    EXPECT_EQ(used->Close(), 0u);
    auto never = std::make_unique<IoFile>(path_.c_str(), kGenericRead);
    const uint32_t before = AllCalls();
    used.reset();
    never.reset();
    EXPECT_EQ(AllCalls(), before);

    auto open = std::make_unique<IoFile>(path_.c_str(), kGenericRead);
    ASSERT_EQ(open->Open(kGenericRead), 0u);
    const uint32_t fd = open->Handle();
    const uint32_t closes = KvioCallCount(KVIO_OP_CLOSE);
    open.reset();
    EXPECT_EQ(KvioCallCount(KVIO_OP_CLOSE), closes + 1);
    EXPECT_FALSE(DescriptorIsOpen(fd));
}

TEST_F(IoFileTest, SeekReportsThePositionReached) {
    WriteFile(path_, "0123456789");
    IoFile file(path_.c_str(), kGenericRead);
    EXPECT_NE(file.Seek(4), 4u);  // closed: no position to set
    ASSERT_EQ(file.Open(kGenericRead), 0u);
    EXPECT_EQ(file.Seek(4), 4u);
    uint32_t rc = 1;
    EXPECT_EQ(Read(file, 2, &rc), "45");
    KvioInjectFault(KVIO_OP_SET_POSITION, 1, 1);
    EXPECT_NE(file.Seek(1), 1u);
    EXPECT_EQ(Read(file, 2, &rc), "67");  // a failed seek does not move
    EXPECT_EQ(file.Close(), 0u);
}

TEST_F(IoFileTest, OpenNeedsAnExistingFile) {
    IoFile file(path_.c_str(), kGenericRead);
    EXPECT_NE(file.Open(kGenericRead), 0u);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_NE(file.Open(kGenericWrite), 0u);
    EXPECT_FALSE(kvi::test::FileExists(path_));
    // A folder is not a file either.
    IoFile folder((dir_.Path() + "/KVI32").c_str(), kGenericRead);
    EXPECT_NE(folder.Open(kGenericRead), 0u);
    EXPECT_NE(folder.Create(), 0u);
    // Nor is a path that could not be copied.
    IoFile unnamed(nullptr, kGenericRead);
    EXPECT_EQ(unnamed.Name(), nullptr);
    EXPECT_NE(unnamed.Open(kGenericRead), 0u);
    EXPECT_NE(unnamed.Create(), 0u);
    EXPECT_NE(unnamed.ReplaceOver(path_.c_str()), 0u);
}

TEST_F(IoFileTest, OpenForWriteOverwritesInPlace) {
    WriteFile(path_, "0123456789");
    IoFile file(path_.c_str(), kGenericRead);
    ASSERT_EQ(file.Open(kGenericWrite), 0u);
    EXPECT_EQ(file.Seek(3), 3u);
    EXPECT_EQ(file.Write("ab", 2), 0u);
    EXPECT_EQ(file.Close(), 0u);
    EXPECT_EQ(ReadFile(path_), "012ab56789");
}

TEST_F(IoFileTest, CreateMakesOrEmptiesTheFile) {
    IoFile file(path_.c_str(), kGenericRead);
    ASSERT_EQ(file.Create(), 0u);
    EXPECT_EQ(file.Write("new file", 8), 0u);
    EXPECT_EQ(file.Close(), 0u);
    EXPECT_EQ(ReadFile(path_), "new file");
    ASSERT_EQ(file.Create(), 0u);
    EXPECT_EQ(file.Write("ab", 2), 0u);
    EXPECT_EQ(file.Close(), 0u);
    EXPECT_EQ(ReadFile(path_), "ab");
}

TEST_F(IoFileTest, ReadPastTheEndFails) {
    WriteFile(path_, "12345");
    IoFile file(path_.c_str(), kGenericRead);
    ASSERT_EQ(file.Open(kGenericRead), 0u);
    uint32_t rc = 1;
    EXPECT_EQ(Read(file, 5, &rc), "12345");
    EXPECT_EQ(rc, 0u);
    EXPECT_EQ(Read(file, 0, &rc), "");
    EXPECT_EQ(rc, 0u);
    EXPECT_EQ(file.Seek(2), 2u);
    EXPECT_EQ(Read(file, 8, &rc).substr(0, 3), "345");
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(file.Close(), 0u);
}

TEST_F(IoFileTest, BackslashPathsNameTheSameFile) {
    const std::string windowsPath = dir_.Path() + "\\KVI32\\MERIDOX.PBK";
    IoFile file(windowsPath.c_str(), kGenericRead);
    ASSERT_EQ(file.Create(), 0u);
    EXPECT_EQ(file.Write("book", 4), 0u);
    EXPECT_EQ(file.Close(), 0u);
    EXPECT_EQ(ReadFile(path_), "book");
}

TEST_F(IoFileTest, ReplaceOverPutsTheFileInPlace) {
    WriteFile(path_, "old");
    const std::string temp = dir_.BookPath("MERIDOX.TMP");
    IoFile file(temp.c_str(), kGenericRead);
    ASSERT_EQ(file.Create(), 0u);
    EXPECT_EQ(file.Write("new", 3), 0u);
    EXPECT_EQ(file.Close(), 0u);
    EXPECT_EQ(file.ReplaceOver(path_.c_str()), 0u);
    EXPECT_EQ(ReadFile(path_), "new");
    EXPECT_FALSE(kvi::test::FileExists(temp));
}

}  // namespace
