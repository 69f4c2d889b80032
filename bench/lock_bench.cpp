// A full lock and unlock of each book through the exports, uncontended,
// in a Windows directory of its own; and a process's start-up and shut-down.
#include <stdlib.h>

#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "kviabdb.h"
#include "platform/platform.h"

namespace {

// A temporary Windows directory with its KVI32 folder and an initialized
// library, undone (shared memory included) at the end of the benchmark.
class LockedMachine {
public:
    explicit LockedMachine(bool initialize = true) : initialized_(initialize) {
        char pattern[] = "/tmp/kvibench.XXXXXX";
        if (mkdtemp(pattern)) {
            path_ = pattern;
            std::filesystem::create_directory(path_ + "/KVI32");
            setenv("KVI_WINDOWS_DIR", path_.c_str(), 1);
        }
        if (initialized_) KviDfInitialize();
    }
    ~LockedMachine() {
        if (initialized_) KviDfTerminate();
        kvi::platform::RemoveMachineState();
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
        unsetenv("KVI_WINDOWS_DIR");
    }

private:
    bool initialized_;
    std::string path_;
};

void BM_AddressBookLockRoundTrip(benchmark::State& state) {
    LockedMachine machine;
    char locker[] = "benchmark";
    for (auto _ : state) {
        if (KviDfLockAddressBook(locker) != 1) {
            state.SkipWithError("KviDfLockAddressBook refused");
            break;
        }
        KviDfUnlockAddressBook();
    }
}

void BM_SecurityBookLockRoundTrip(benchmark::State& state) {
    LockedMachine machine;
    char locker[] = "benchmark";
    for (auto _ : state) {
        if (KviDfLockSecurityBook(locker, 1000) != 1) {
            state.SkipWithError("KviDfLockSecurityBook refused");
            break;
        }
        KviDfUnlockSecurityBook();  // no book open: nothing to commit
    }
}

// The first KviDfInitialize of a process (it finds or makes the shared
// objects and opens both locks) and the KviDfTerminate that brings the
// count back to 0 and closes them.
void BM_InitializeTerminate(benchmark::State& state) {
    LockedMachine machine(false);
    for (auto _ : state) {
        KviDfInitialize();
        KviDfTerminate();
    }
}

}  // namespace

BENCHMARK(BM_InitializeTerminate);
BENCHMARK(BM_AddressBookLockRoundTrip);
BENCHMARK(BM_SecurityBookLockRoundTrip);
