// The caller-buffer check against real mappings, through the kernel query
// and through the text of /proc/self/maps.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/posix/memory_query.h"
#include "support/test_support.h"

namespace kvi::platform {
namespace {

const size_t kPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));

// Pages mapped for one test: `count` pages reserved PROT_NONE, then given
// their own protection (and sharing) page by page.
class Pages {
public:
    explicit Pages(size_t count) : count_(count) {
        base_ = static_cast<char*>(mmap(nullptr, count * kPage, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    }
    ~Pages() { munmap(base_, count_ * kPage); }
    void Set(size_t page, int prot, int share = MAP_PRIVATE) {
        mmap(base_ + page * kPage, kPage, prot, share | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    }
    char* At(size_t page) const { return base_ + page * kPage; }
    bool Ok() const { return base_ != MAP_FAILED; }

private:
    char* base_;
    size_t count_;
};

struct Case {
    const char* what;
    const void* p;
    uint32_t size;
    int expected;
};

class PlatformBufferCheck : public ::testing::TestWithParam<posix::MapSource> {
protected:
    void SetUp() override { posix::SetMapSource(GetParam()); }
    void TearDown() override { posix::SetMapSource(posix::MapSource::kAuto); }
};

TEST_P(PlatformBufferCheck, AnswersAsVirtualQueryWould) {
    test::TempWindowsDir dir;
    // rw | PROT_NONE | PROT_READ | rw private | rw shared | PROT_NONE | hole
    Pages pages(7);
    ASSERT_TRUE(pages.Ok());
    pages.Set(0, PROT_READ | PROT_WRITE);
    pages.Set(2, PROT_READ);
    pages.Set(3, PROT_READ | PROT_WRITE);
    pages.Set(4, PROT_READ | PROT_WRITE, MAP_SHARED);  // a mapping of its own beside page 3
    char* rwEnd = pages.At(1);

    // A mapped file whose path is longer than any line head.
    const std::string path = dir.Path() + "/" + std::string(200, 'f');
    const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kPage)), 0);
    void* fileRw = mmap(nullptr, kPage, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    void* fileRo = mmap(nullptr, kPage, PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    ASSERT_NE(fileRw, MAP_FAILED);
    ASSERT_NE(fileRo, MAP_FAILED);

    auto heap = std::make_unique<char[]>(164);
    char stack[164];
    stack[0] = 0;
    static char zeroData[64];  // .bss
    const Case cases[] = {
        {"heap", heap.get(), 164, 1},
        {"stack", stack, sizeof stack, 1},
        {"static data", zeroData, sizeof zeroData, 1},
        {"string literal", "literal", 0, 0},
        {"string literal with size", "literal", 8, 0},
        {"whole rw page", pages.At(0), static_cast<uint32_t>(kPage), 1},
        {"164 bytes ending at the guard page", rwEnd - 164, 164, 1},
        {"one byte into the guard page", rwEnd - 164, 165, 0},
        {"size 0 on the last rw byte", rwEnd - 1, 0, 1},
        {"guard page", pages.At(1), 0, 0},
        {"read-only page", pages.At(2), 1, 0},
        {"across private and shared rw mappings", pages.At(3) + kPage - 8, 16, 1},
        {"both rw mappings up to the guard", pages.At(3), static_cast<uint32_t>(2 * kPage), 1},
        {"past them into the guard", pages.At(3), static_cast<uint32_t>(2 * kPage + 1), 0},
        {"unmapped", pages.At(6), 1, 0},
        {"shared file, rw", fileRw, 164, 1},
        {"shared file, read-only", fileRo, 1, 0},
        {"range that wraps", reinterpret_cast<const void*>(UINTPTR_MAX - 15), 100, 0},
    };
    // Made last, so that no mapping of this test lands in the hole.
    munmap(pages.At(6), kPage);
    for (const Case& c : cases) EXPECT_EQ(IsReadWriteRange(c.p, c.size), c.expected) << c.what;
    munmap(fileRw, kPage);
    munmap(fileRo, kPage);
}

// Readability alone: read-only pages pass and continue a run; guard pages,
// holes and wrapping ranges still fail.
TEST_P(PlatformBufferCheck, ReadabilityAsVirtualQueryWould) {
    // rw | read-only | rw | PROT_NONE
    Pages pages(4);
    ASSERT_TRUE(pages.Ok());
    pages.Set(0, PROT_READ | PROT_WRITE);
    pages.Set(1, PROT_READ);
    pages.Set(2, PROT_READ | PROT_WRITE);
    const Case cases[] = {
        {"string literal", "literal", 8, 1},
        {"read-only page", pages.At(1), 1, 1},
        {"rw into read-only into rw", pages.At(0) + kPage - 4, static_cast<uint32_t>(kPage + 8), 1},
        {"all three up to the guard", pages.At(0), static_cast<uint32_t>(3 * kPage), 1},
        {"one byte into the guard", pages.At(0), static_cast<uint32_t>(3 * kPage + 1), 0},
        {"guard page", pages.At(3), 1, 0},
        {"range that wraps", reinterpret_cast<const void*>(UINTPTR_MAX - 15), 100, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(IsReadableRange(c.p, c.size), c.expected) << c.what;
    EXPECT_EQ(0, IsReadWriteRange(pages.At(0) + kPage - 4, 8));  // the writable check stays strict
}

// A forked child must be answered about its own map, not its parent's.
TEST_P(PlatformBufferCheck, ForkedChildSeesItsOwnMap) {
    test::TempWindowsDir dir;
    Pages pages(1);
    ASSERT_TRUE(pages.Ok());
    pages.Set(0, PROT_READ | PROT_WRITE);
    ASSERT_EQ(IsReadWriteRange(pages.At(0), 1), 1);  // opens and caches the map
    const int code = test::RunInChild([&] {
        if (mprotect(pages.At(0), kPage, PROT_READ) != 0) return 10;
        void* fresh = mmap(nullptr, kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (fresh == MAP_FAILED) return 11;
        return IsReadWriteRange(pages.At(0), 1) * 2 + IsReadWriteRange(fresh, 1);
    });
    EXPECT_EQ(code, 1);  // the page made read-only fails, the new one passes
    EXPECT_EQ(IsReadWriteRange(pages.At(0), 1), 1);
}

INSTANTIATE_TEST_SUITE_P(Sources, PlatformBufferCheck,
                         ::testing::Values(posix::MapSource::kAuto, posix::MapSource::kText),
                         [](const ::testing::TestParamInfo<posix::MapSource>& info) {
                             return info.param == posix::MapSource::kAuto ? "KernelQuery" : "MapsText";
                         });

}  // namespace
}  // namespace kvi::platform
