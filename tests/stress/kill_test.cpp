// The load run with a killer: workers die by SIGKILL at any moment, in
// the middle of commits too, and start again. The books must open, every
// change whose commit returned 1 must be there, abandoned locks must be
// taken over. The run starts without books, so the first opens race to
// create them while the killer is already at work.
#include <gtest/gtest.h>

#include <cstdio>

#include "stress/stress_run.h"

namespace {

TEST(StressKill, KilledWorkersLoseNoCommittedChange) {
    kvi::test::TempWindowsDir dir;
    kvi::stress::StressConfig config;
    config.rounds = kvi::stress::DefaultRounds();
    config.kill = true;
    config.killSeconds = KVI_STRESS_KILL_SECONDS;
    config.createBooksFirst = false;  // workers die while creating the books, too
    const kvi::stress::StressResult r = kvi::stress::RunStress(dir, config);
    std::printf("%s\n", r.Line("stress kill").c_str());
    for (const std::string& p : r.problems) ADD_FAILURE() << p;
    EXPECT_EQ(0, r.lost);
    EXPECT_EQ(0, r.unexpected);
    EXPECT_EQ(0, r.failedCommits);
    EXPECT_GT(r.kills, 0);
    EXPECT_GT(r.killsInCommit, 0);
    // Victims die holding a lock often enough that some locker name is
    // always left to be replaced.
    EXPECT_GT(r.recovered[0] + r.recovered[1], 0);
}

}  // namespace
