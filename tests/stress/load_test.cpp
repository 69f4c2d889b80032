// Eight processes change both books round after round; every change whose
// commit returned 1 must be in the books afterwards, and nothing else.
#include <gtest/gtest.h>

#include <cstdio>

#include "stress/stress_run.h"

namespace {

TEST(StressLoad, EveryCommittedChangeIsKeptAndNothingElse) {
    kvi::test::TempWindowsDir dir;
    kvi::stress::StressConfig config;
    config.rounds = kvi::stress::DefaultRounds();
    const kvi::stress::StressResult r = kvi::stress::RunStress(dir, config);
    std::printf("%s\n", r.Line("stress load").c_str());
    for (const std::string& p : r.problems) ADD_FAILURE() << p;
    EXPECT_EQ(0, r.lost);
    EXPECT_EQ(0, r.unexpected);
    EXPECT_EQ(0, r.uncertain);
    // Two commits a round, all of them done.
    EXPECT_EQ(2 * config.processes * config.rounds, r.changes);
    // Nobody died, so every lock was won from a clean unlock.
    EXPECT_EQ(0, r.recovered[0] + r.recovered[1]);
}

// The same from a folder without books: the workers' first opens race to
// create them, and every one of them must end up with the one book.
TEST(StressLoad, WorkersThatCreateTheBooksLoseNothing) {
    kvi::test::TempWindowsDir dir;
    kvi::stress::StressConfig config;
    config.rounds = kvi::stress::DefaultRounds() / 4;
    config.createBooksFirst = false;
    const kvi::stress::StressResult r = kvi::stress::RunStress(dir, config);
    std::printf("%s\n", r.Line("stress load from no books").c_str());
    for (const std::string& p : r.problems) ADD_FAILURE() << p;
    EXPECT_EQ(0, r.lost);
    EXPECT_EQ(0, r.unexpected);
    EXPECT_EQ(2 * config.processes * config.rounds, r.changes);
}

}  // namespace
