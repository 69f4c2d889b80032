// Initialization and termination: a machine-wide count, a per-process flag.
#include <gtest/gtest.h>

#include <cstring>

#include "frame/process_state.h"
#include "kviabdb.h"
#include "support/test_support.h"

namespace {

using kvi::test::RunInChild;
using kvi::test::StartAsFreshProcess;
using kvi::test::TempWindowsDir;

int32_t Count() { return kvi::Shared().initCount; }

TEST(Lifecycle, SecondInitializeOnlyRaisesTheCount) {
    TempWindowsDir dir;
    EXPECT_EQ(KviDfInitialize(), 1);
    const auto mutex = kvi::Process().addressMutex;
    EXPECT_NE(mutex, 0u);
    EXPECT_EQ(KviDfInitialize(), 1);
    EXPECT_EQ(kvi::Process().addressMutex, mutex);  // nothing opened again
    EXPECT_EQ(Count(), 2);
    KviDfTerminate();
    EXPECT_EQ(kvi::IsInitialized(), 1);
    EXPECT_EQ(Count(), 1);
    char name[] = "still here";
    EXPECT_EQ(KviDfLockAddressBook(name), 1);
    KviDfUnlockAddressBook();
    KviDfTerminate();
    EXPECT_EQ(kvi::IsInitialized(), 0);
    EXPECT_EQ(Count(), 0);
    EXPECT_EQ(kvi::Process().addressMutex, 0u);
}

TEST(Lifecycle, OnlyTheProcessThatBringsTheCountToZeroShutsDown) {
    TempWindowsDir dir;
    ASSERT_EQ(KviDfInitialize(), 1);  // process A
    // Process B initializes, A terminates (the count stays 1), then B
    // terminates and is the one shut down.
    int b = RunInChild([] {
        StartAsFreshProcess();
        KviDfInitialize();
        if (Count() != 2) return 10;
        int a = RunInChild([] {
            // Stands for A's terminate from another process.
            StartAsFreshProcess();
            KviDfTerminate();
            return Count() == 1 ? 0 : 1;
        });
        if (a != 0) return 11;
        KviDfTerminate();
        if (Count() != 0) return 12;
        return kvi::IsInitialized() == 0 ? 0 : 13;
    });
    EXPECT_EQ(b, 0);
    // A was not touched: its flag and handles are its own.
    EXPECT_EQ(kvi::IsInitialized(), 1);
    EXPECT_NE(kvi::Process().addressMutex, 0u);
    char name[] = "A";
    EXPECT_EQ(KviDfLockAddressBook(name), 1);
    KviDfUnlockAddressBook();
    // The count is not clamped: A's terminate now takes it below 0 and A
    // stays initialized.
    EXPECT_EQ(Count(), 0);
    KviDfTerminate();
    EXPECT_EQ(Count(), -1);
    EXPECT_EQ(kvi::IsInitialized(), 1);
}

TEST(Lifecycle, TerminateWithoutInitializeOnlyLowersTheCount) {
    TempWindowsDir dir;
    ASSERT_EQ(KviDfInitialize(), 1);
    ASSERT_EQ(KviDfInitialize(), 1);
    int r = RunInChild([] {
        StartAsFreshProcess();
        KviDfTerminate();  // never initialized here
        return Count() == 1 && kvi::IsInitialized() == 0 ? 0 : 1;
    });
    EXPECT_EQ(r, 0);
    r = RunInChild([] {
        StartAsFreshProcess();
        KviDfTerminate();  // reaches 0: closes its null handles, no crash
        return Count() == 0 ? 0 : 1;
    });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(kvi::IsInitialized(), 1);
}

TEST(Lifecycle, ReinitializeAfterShutDownStartsAgain) {
    TempWindowsDir dir;
    KviDfInitialize();
    KviDfTerminate();
    EXPECT_EQ(kvi::IsInitialized(), 0);
    EXPECT_EQ(KviDfInitialize(), 1);
    EXPECT_EQ(kvi::IsInitialized(), 1);
    EXPECT_NE(kvi::Process().securityMutex, 0u);
    char name[] = "again";
    EXPECT_EQ(KviDfLockSecurityBook(name, 0), 1);
    EXPECT_EQ(KviDfUnlockSecurityBook(), 1);
    KviDfTerminate();
}

}  // namespace

namespace {

TEST(Lifecycle, BooksLeftOpenAcrossAShutDownAreForgottenWithoutCommit) {
    kvi::test::TempWindowsDir dir;
    KviDfInitialize();
    char me[] = "me";
    ASSERT_EQ(KviDfOpenAddressBook(0), 1);
    ASSERT_EQ(KviDfLockAddressBook(me), 1);
    AddressRecord entry{};
    std::strcpy(entry.name, "never committed");
    std::strcpy(entry.address, "lost.example");
    entry.connectionType = 2;
    ASSERT_EQ(KviDfAddAddress(&entry, 0, nullptr), 1);
    KviDfTerminate();  // count 0: shut down, the book stays open in memory

    KviDfInitialize();
    EXPECT_EQ(kvi::Process().addressBook, nullptr);
    // The old book left the registration slots: a password change can no
    // longer reach it.
    EXPECT_EQ(kvi::Process().registered[0], nullptr);
    EXPECT_EQ(kvi::Process().registered[1], nullptr);
    ASSERT_EQ(KviDfOpenAddressBook(0), 1);
    KviListHandle list = KviDfCreateAddressList();
    EXPECT_EQ(KviDfAddressListCount(list), 0);
    KviDfDestroyAddressList(list);
    KviDfUnlockAddressBook();
    KviDfCloseAddressBook();
    KviDfTerminate();
}

}  // namespace
