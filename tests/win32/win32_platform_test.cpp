// The Win32 platform: the caller-buffer check over VirtualQuery, the
// mutexes' null DACL, the shared section of the image, and the file and
// text services.
// <windows.h> with the macros that rename platform functions undone.
#include "platform/win32/windows_api.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "frame/buffer_check.h"
#include "platform/platform.h"
#include "support/test_support.h"
#include "win32/helper_process.h"

namespace {

namespace platform = kvi::platform;

const char kConstantText[] = "read-only constant";

class WindowsBufferCheck : public testing::Test {
protected:
    void SetUp() override {
        SYSTEM_INFO info;
        ::GetSystemInfo(&info);
        page_ = info.dwPageSize;
        // Four pages reserved: two read-write, one read-only, one left
        // uncommitted; a fifth committed separately as a guard page.
        base_ = static_cast<char*>(::VirtualAlloc(nullptr, 5 * page_, MEM_RESERVE, PAGE_NOACCESS));
        ASSERT_NE(base_, nullptr);
        ASSERT_NE(::VirtualAlloc(base_, 3 * page_, MEM_COMMIT, PAGE_READWRITE), nullptr);
        DWORD old;
        ASSERT_TRUE(::VirtualProtect(base_ + 2 * page_, page_, PAGE_READONLY, &old));
        ASSERT_NE(::VirtualAlloc(base_ + 4 * page_, page_, MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD), nullptr);
    }
    void TearDown() override { ::VirtualFree(base_, 0, MEM_RELEASE); }

    char* base_ = nullptr;
    uint32_t page_ = 0;
};

TEST_F(WindowsBufferCheck, AnswersAsVirtualQuery) {
    struct Case {
        const char* what;
        size_t offset;
        uint32_t size;
        int want;
    };
    const uint32_t p = page_;
    const Case cases[] = {
        {"inside the read-write run", 16, 164, 1},
        {"the whole run, across its two pages", 0, 2 * p, 1},
        {"ends exactly at the run's end", 2 * p - 164, 164, 1},
        {"one byte into the read-only page", 2 * p - 164, 165, 0},
        {"starts in the read-only page", 2 * p + 8, 4, 0},
        {"size 0 in the read-only page", 2 * p + 8, 0, 0},
        {"uncommitted page", 3 * p + 8, 4, 0},
        {"guard page", 4 * p + 8, 4, 0},
        {"size 0 tests only the first page", 2 * p - 1, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(kvi::IsWritableBuffer(base_ + c.offset, c.size), c.want);
    }
    EXPECT_EQ(kvi::IsWritableBuffer(nullptr, 164), 1);
    EXPECT_EQ(kvi::IsWritableBuffer(kConstantText, 0), 0);
    char onStack[8] = {};
    EXPECT_EQ(kvi::IsWritableBuffer(onStack, sizeof onStack), 1);
    // A range that would wrap past the top of the address space.
    EXPECT_EQ(platform::IsReadWriteRange(reinterpret_cast<void*>(UINTPTR_MAX - 15), 64), 0);
}

// Readability alone, and a caller's text read on from the read-write run
// into the read-only page; only uncommitted memory cuts it.
TEST_F(WindowsBufferCheck, TextsAreReadOnIntoReadOnlyPages) {
    const uint32_t p = page_;
    EXPECT_EQ(platform::IsReadableRange(base_ + 16, 164), 1);
    EXPECT_EQ(platform::IsReadableRange(base_ + 2 * p + 8, 4), 1);
    EXPECT_EQ(platform::IsReadableRange(kConstantText, 1), 1);
    EXPECT_EQ(platform::IsReadableRange(base_ + 3 * p + 8, 4), 0);  // uncommitted
    EXPECT_EQ(platform::IsReadableRange(base_ + 4 * p + 8, 4), 0);  // guard page
    DWORD old;
    ASSERT_TRUE(::VirtualProtect(base_ + 2 * p, p, PAGE_READWRITE, &old));
    std::memset(base_ + 2 * p - 10, 'n', p + 10);
    base_[2 * p + 20] = '\0';
    ASSERT_TRUE(::VirtualProtect(base_ + 2 * p, p, PAGE_READONLY, &old));
    EXPECT_EQ(kvi::BoundedLength(base_ + 2 * p - 10, 100), 30u);
    EXPECT_EQ(kvi::BoundedLength(base_ + 3 * p - 10, 100), 10u);  // no NUL before the uncommitted page
}

TEST(WindowsMutexSecurity, NullDaclOnTheNtFamily) {
    void* security = platform::CreateMutexSecurity();
    ASSERT_NE(security, nullptr);  // Wine, like Windows, reports the NT family
    auto* attributes = static_cast<SECURITY_ATTRIBUTES*>(security);
    EXPECT_EQ(attributes->nLength, sizeof(SECURITY_ATTRIBUTES));
    EXPECT_EQ(attributes->bInheritHandle, TRUE);
    ASSERT_NE(attributes->lpSecurityDescriptor, nullptr);
    BOOL present = FALSE, defaulted = TRUE;
    PACL dacl = reinterpret_cast<PACL>(1);
    ASSERT_TRUE(::GetSecurityDescriptorDacl(attributes->lpSecurityDescriptor, &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_EQ(dacl, nullptr);
    EXPECT_FALSE(defaulted);
    // Mutexes made with it open under the same name.
    const auto a = platform::CreateNamedMutex("kvi_test_security_mutex", security);
    const auto b = platform::CreateNamedMutex("kvi_test_security_mutex", security);
    platform::FreeMutexSecurity(security);  // after both exist
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_EQ(platform::WaitMutex(a, 0), platform::kWaitObject0);
    EXPECT_EQ(platform::ReleaseMutex(b), 1);  // one object, owned by this thread
    platform::CloseMutex(a);
    platform::CloseMutex(b);
    platform::FreeMutexSecurity(nullptr);
}

// The image section that holds the block: shared, readable, writable.
DWORD SectionFlagsOf(const void* p) {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<const char*>(p), &module))
        return 0;
    auto* base = reinterpret_cast<const unsigned char*>(module);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    const uintptr_t rva = reinterpret_cast<uintptr_t>(p) - reinterpret_cast<uintptr_t>(base);
    for (unsigned i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->Misc.VirtualSize)
            return section->Characteristics;
    }
    return 0;
}

KVI_TEST_HELPER(ReadAndWriteSharedBlock) {
    platform::SharedBlock* block = platform::ProcessSharedBlock();
    if (std::strcmp(block->addressLocker, arg.c_str()) != 0) return 1;
    std::strcpy(block->securityLocker, "written by the helper");
    platform::InterlockedIncrement(&block->initCount);
    return 0;
}

TEST(WindowsSharedBlock, IsASharedSectionThatOtherProcessesSee) {
    kvi::test::TempWindowsDir dir;  // starts on a zeroed block
    platform::SharedBlock* block = platform::ProcessSharedBlock();
    const DWORD flags = SectionFlagsOf(block);
    const DWORD wanted = IMAGE_SCN_MEM_SHARED | IMAGE_SCN_MEM_READ | IMAGE_SCN_MEM_WRITE;
    EXPECT_EQ(flags & wanted, wanted);
    std::strcpy(block->addressLocker, "written by the test");
    kvi::test::HelperProcess helper("ReadAndWriteSharedBlock", "written by the test");
    EXPECT_EQ(helper.Wait(), 0);
    EXPECT_STREQ(block->securityLocker, "written by the helper");
    EXPECT_EQ(block->initCount, 1);
}

TEST(WindowsSystem, WindowsDirectoryFilesFoldersAndOemText) {
    kvi::test::TempWindowsDir dir;
    char buffer[MAX_PATH];
    const uint32_t n = platform::GetWindowsDirectory(buffer, sizeof buffer);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(std::string(buffer, n), dir.Path());
    EXPECT_EQ(platform::GetWindowsDirectory(buffer, 2), n + 1);  // the size needed

    const std::string folder = dir.Path() + "\\KVI32";
    const std::string file = dir.BookPath("MERIDOX.PBK");
    kvi::test::WriteFile(file, "x");
    EXPECT_EQ(platform::QueryFolder(folder.c_str()), platform::FolderState::kFolder);
    EXPECT_EQ(platform::QueryFolder(file.c_str()), platform::FolderState::kNoFolder);  // a file is no folder
    EXPECT_EQ(platform::QueryFolder((folder + "\\missing").c_str()), platform::FolderState::kNoFolder);
    EXPECT_EQ(platform::QueryFolder(""), platform::FolderState::kNoFolder);
    EXPECT_EQ(platform::DeleteFile(file.c_str()), 1);
    EXPECT_FALSE(kvi::test::FileExists(file));
    EXPECT_EQ(platform::DeleteFile(file.c_str()), 0);  // gone already

    // OEM 0x81, 0x84, 0xE1 are ü, ä, ß in the OEM pages of Western Europe.
    char text[] = "M\x81ller \x84 \xE1";
    platform::OemToAnsi(text, text);
    EXPECT_STREQ(text, "M\xFCller \xE4 \xDF");
}

}  // namespace
