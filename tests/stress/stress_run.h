// A multi-process run on both books: worker processes that lock, open,
// change one entry, commit, unlock and close, round after round; an
// optional killer that SIGKILLs workers and starts them again; and the
// check of the books against the workers' journals afterwards.
#ifndef KVI_TESTS_STRESS_STRESS_RUN_H
#define KVI_TESTS_STRESS_STRESS_RUN_H

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace kvi::stress {

struct StressConfig {
    int processes = 8;
    int rounds = 200;          // per worker slot, across its lives
    int maxOwnEntries = 12;    // per slot and book
    uint32_t lockTimeoutMs = 500;
    int maxPauseUs = 400;      // between a worker's cycles
    bool kill = false;
    int killEveryMinUs = 1000;
    int killEveryMaxUs = 6000;
    double killSeconds = 0;    // the killer stops after this long
    double deadlineSeconds = 150;  // a lock never recovered stops the run here
    // false: the workers start on a folder without books, so their first
    // opens race to create them.
    bool createBooksFirst = true;
};

struct StressResult {
    int processes = 0;
    int rounds = 0;
    int changes = 0;           // commits that returned 1
    int uncertain = 0;         // intents whose worker died before the outcome
    int lost = 0;              // keys whose book state no journal allows
    int unexpected = 0;        // book entries that no journal explains
    int failedCommits = 0;
    int kills = 0;
    int killsInCommit = 0;     // the victim was inside a commit call
    int recovered[2] = {0, 0}; // locks won from a dead holder (address, security)
    double seconds = 0;
    std::vector<std::string> problems;

    std::string Line(const char* title) const;
};

// Rounds for this build: the KVI_STRESS_ROUNDS environment variable, else
// the build's default (fewer under the sanitizers).
int DefaultRounds();

StressResult RunStress(const test::TempWindowsDir& dir, const StressConfig& config);

}  // namespace kvi::stress

#endif
