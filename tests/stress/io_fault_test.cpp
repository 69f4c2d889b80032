// Disk full and I/O errors under a commit: each file call of a commit
// fails in turn (once, or from then on, as a full disk does). The book on
// disk must stay byte for byte the last committed one, or be the new one
// when the commit could do without that call, and the next commit without
// faults must write the new book.
#include <gtest/gtest.h>

#include <string>

#include "kviabdb.h"
#include "kviabio.h"
#include "stress/stress_books.h"
#include "support/test_support.h"

namespace {

using kvi::stress::Book;
using kvi::test::FileExists;
using kvi::test::ReadFile;

class IoFaults : public ::testing::TestWithParam<Book> {
protected:
    void SetUp() override {
        KvioInjectFault(KVIO_OP_NONE, 0, 0);
        ASSERT_EQ(1, KviDfInitialize());
        ASSERT_EQ(1, kvi::stress::OpenBook(book_));
        kvi::stress::LockBook(book_, 1000);
        for (uint32_t key = 1; key <= 5; ++key) {
            uint32_t id = 0;
            ASSERT_EQ(1, kvi::stress::AddEntry(book_, 0, key, key, &id));
            ASSERT_EQ(key, id);
        }
        ASSERT_EQ(1, kvi::stress::CommitBook(book_, 0));
        committed_ = ReadFile(path_);
        ASSERT_FALSE(committed_.empty());
    }
    void TearDown() override {
        KvioInjectFault(KVIO_OP_NONE, 0, 0);
        kvi::stress::UnlockBook(book_);
        kvi::stress::CloseBook(book_);
        KviDfTerminate();
    }

    // The last committed book, loaded anew, with one add, one update and
    // one delete pending.
    void Prepare() {
        kvi::stress::CloseBook(book_);
        kvi::test::WriteFile(path_, committed_);
        ASSERT_EQ(1, kvi::stress::OpenBook(book_));
        uint32_t id = 0;
        ASSERT_EQ(1, kvi::stress::AddEntry(book_, 0, 100, 100, &id));
        ASSERT_EQ(1, kvi::stress::UpdateEntry(book_, 1, 0, 1, 101));
        ASSERT_EQ(1, kvi::stress::DeleteEntry(book_, 2));
    }

    const Book book_ = GetParam();
    kvi::test::TempWindowsDir dir_;
    const std::string path_ = dir_.BookPath(book_ == kvi::stress::kAddressBook ? "MERIDOX.PBK" : "MERIDOX.PWD");
    const std::string folder_ = dir_.Path() + "/KVI32";
    std::string committed_;
};

TEST_P(IoFaults, EveryFailingCallOfACommitLeavesTheLastCommittedBook) {
    const uint32_t ops[] = {KVIO_OP_CREATE_TEMPORARY, KVIO_OP_WRITE, KVIO_OP_SET_POSITION, KVIO_OP_CLOSE,
                            KVIO_OP_REPLACE};
    uint32_t calls[KVIO_OP_LAST + 1] = {};
    Prepare();
    for (uint32_t op : ops) calls[op] = KvioCallCount(op);
    ASSERT_EQ(1, kvi::stress::CommitBook(book_, 0));
    for (uint32_t op : ops) calls[op] = KvioCallCount(op) - calls[op];
    const std::string changed = ReadFile(path_);
    ASSERT_NE(committed_, changed);

    for (uint32_t op : ops) {
        ASSERT_GT(calls[op], 0u) << op;
        int failed = 0;
        for (uint32_t nth = 1; nth <= calls[op]; ++nth) {
            // Once (an I/O error), or this call and every later one (a
            // full disk: a second commit fails too).
            for (uint32_t count : {1u, 0xFFFFFFFFu}) {
                SCOPED_TRACE(testing::Message() << "op " << op << " call " << nth << " of " << calls[op]
                                                << " count " << count);
                Prepare();
                KvioInjectFault(op, nth, count);
                const int r = kvi::stress::CommitBook(book_, 0);
                EXPECT_EQ(0, kvi::test::TemporaryFileCount(folder_));
                if (r == 1) {
                    // A call whose failure the commit may ignore: the
                    // header written first is written again at the end.
                    EXPECT_TRUE(changed == ReadFile(path_)) << "not the new book";
                    KvioInjectFault(KVIO_OP_NONE, 0, 0);
                    continue;
                }
                ++failed;
                EXPECT_TRUE(committed_ == ReadFile(path_)) << "not the last committed book";
                if (count != 1) {
                    EXPECT_EQ(0, kvi::stress::CommitBook(book_, 0));
                    EXPECT_TRUE(committed_ == ReadFile(path_)) << "not the last committed book";
                    EXPECT_EQ(0, kvi::test::TemporaryFileCount(folder_));
                }
                KvioInjectFault(KVIO_OP_NONE, 0, 0);
                // The change is still pending: the next commit writes it.
                EXPECT_EQ(1, kvi::stress::CommitBook(book_, 0));
                EXPECT_TRUE(changed == ReadFile(path_)) << "not the new book";
            }
        }
        EXPECT_GT(failed, 0) << op;
    }
}

INSTANTIATE_TEST_SUITE_P(Books, IoFaults, ::testing::Values(kvi::stress::kAddressBook, kvi::stress::kSecurityBook),
                         [](const ::testing::TestParamInfo<Book>& info) {
                             return info.param == kvi::stress::kAddressBook ? "AddressBook" : "SecurityBook";
                         });

}  // namespace
