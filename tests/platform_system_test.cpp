// The Windows directory, files, thread ids, counters and the OEM table.
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/test_support.h"

namespace kvi::platform {
namespace {

TEST(PlatformWindowsDirectory, AnswersAsGetWindowsDirectory) {
    test::TempWindowsDir dir;
    setenv("KVI_WINDOWS_DIR", "/tmp/abc", 1);  // 8 characters
    struct {
        uint32_t size;
        uint32_t expected;
        const char* contents;  // what the buffer holds afterwards
    } const cases[] = {
        {64, 8, "/tmp/abc"},
        {9, 8, "/tmp/abc"},
        {8, 9, "untouched"},  // too small: size needed with the NUL
        {1, 9, "untouched"},
    };
    for (const auto& c : cases) {
        char buffer[64] = "untouched";
        EXPECT_EQ(GetWindowsDirectory(buffer, c.size), c.expected) << c.size;
        EXPECT_STREQ(buffer, c.contents) << c.size;
    }
    EXPECT_EQ(GetWindowsDirectory(nullptr, 0), 9u);
    unsetenv("KVI_WINDOWS_DIR");
    char buffer[64];
    EXPECT_EQ(GetWindowsDirectory(buffer, sizeof buffer), 16u);
    EXPECT_STREQ(buffer, "/var/lib/kviabdb");
}

std::string Backslashed(std::string path) {
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

TEST(PlatformFiles, DeleteAndDirectoryTestTakeWindowsPaths) {
    test::TempWindowsDir dir;
    const std::string file = dir.BookPath("MERIDOX.TMP");
    test::WriteFile(file, "x");
    EXPECT_EQ(QueryFolder(Backslashed(dir.Path() + "/KVI32").c_str()), FolderState::kFolder);
    EXPECT_EQ(QueryFolder((dir.Path() + "/KVI32/").c_str()), FolderState::kFolder);
    EXPECT_EQ(QueryFolder(file.c_str()), FolderState::kNoFolder);  // a file is not a folder
    EXPECT_EQ(QueryFolder((dir.Path() + "/missing").c_str()), FolderState::kNoFolder);
    EXPECT_EQ(QueryFolder(""), FolderState::kNoFolder);
    EXPECT_EQ(QueryFolder(nullptr), FolderState::kNoFolder);
    // A failure other than "not there" is no answer (a loop of links here;
    // no search permission on a parent is the usual case).
    const std::string loop = dir.Path() + "/loop";
    ASSERT_EQ(symlink(loop.c_str(), loop.c_str()), 0);
    EXPECT_EQ(QueryFolder(loop.c_str()), FolderState::kUnknown);
    EXPECT_EQ(QueryFolder((loop + "/below").c_str()), FolderState::kUnknown);

    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);
    const FolderState relative = QueryFolder("KVI32");
    const FolderState relativeFile = QueryFolder("KVI32\\MERIDOX.TMP");
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(relative, FolderState::kFolder);
    EXPECT_EQ(relativeFile, FolderState::kNoFolder);

    EXPECT_EQ(DeleteFile(Backslashed(file).c_str()), 1);
    EXPECT_FALSE(test::FileExists(file));
    EXPECT_EQ(DeleteFile(file.c_str()), 0);
    EXPECT_EQ(DeleteFile(nullptr), 0);
}

TEST(PlatformThreads, IdsAndInterlockedCounters) {
    test::TempWindowsDir dir;
    const uint32_t mine = CurrentThreadId();
    EXPECT_NE(mine, 0u);
    EXPECT_EQ(CurrentThreadId(), mine);
    uint32_t other = 0;
    std::thread([&] { other = CurrentThreadId(); }).join();
    EXPECT_NE(other, 0u);
    EXPECT_NE(other, mine);

    volatile int32_t count = 0;
    EXPECT_EQ(InterlockedIncrement(&count), 1);
    EXPECT_EQ(InterlockedDecrement(&count), 0);
    EXPECT_EQ(InterlockedDecrement(&count), -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50000; ++i) InterlockedIncrement(&count);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(count, 4 * 50000 - 1);
}

TEST(PlatformOemText, Code850ToWindows1252) {
    test::TempWindowsDir dir;
    const unsigned char cases[][2] = {
        {0x81, 0xFC}, {0x84, 0xE4}, {0x8E, 0xC4}, {0x94, 0xF6}, {0x99, 0xD6}, {0x9A, 0xDC},
        {0xE1, 0xDF}, {0x82, 0xE9}, {0x8A, 0xE8}, {0x85, 0xE0}, {0x87, 0xE7}, {0xA4, 0xF1},
        {0x9C, 0xA3}, {0xF8, 0xB0}, {0xFF, 0xA0},
        // Box drawing and the dotless i, which Windows-1252 lacks.
        {0xC4, '-'}, {0xB3, '|'}, {0xDA, '+'}, {0xCD, '='}, {0xB0, '_'}, {0xD5, 'i'},
    };
    for (const auto& c : cases) {
        const char src[2] = {static_cast<char>(c[0]), 0};
        char dst[2] = {1, 1};
        OemToAnsi(src, dst);
        EXPECT_EQ(static_cast<unsigned char>(dst[0]), c[1]) << std::hex << int{c[0]};
        EXPECT_EQ(dst[1], 0);
    }
    // Every byte at once, converted in place: ASCII unchanged, nothing
    // becomes NUL, so the text keeps its length.
    char text[256];
    for (int i = 1; i < 256; ++i) text[i - 1] = static_cast<char>(i);
    text[255] = 0;
    OemToAnsi(text, text);
    ASSERT_EQ(std::strlen(text), 255u);
    for (int i = 1; i < 0x80; ++i) EXPECT_EQ(text[i - 1], static_cast<char>(i));
    EXPECT_EQ(static_cast<unsigned char>(text[0x84 - 1]), 0xE4);
}

}  // namespace
}  // namespace kvi::platform
