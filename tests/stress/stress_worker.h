// One life of a stress worker: a forked process that works through the
// rounds its slot still owes, until it is done or killed.
#ifndef KVI_TESTS_STRESS_STRESS_WORKER_H
#define KVI_TESTS_STRESS_STRESS_WORKER_H

#include <cstdint>
#include <string>

#include "stress/stress_journal.h"
#include "stress/stress_run.h"

namespace kvi::stress {

constexpr int kMaxProcesses = 16;

enum Phase : int32_t { kIdle = 0, kHolding = 1, kCommitting = 2 };

// Memory that the runner maps shared before it forks any worker.
struct RunShared {
    uint32_t seq[kBooks];           // commits started, per book
    int32_t phase[kMaxProcesses];   // per slot
};

// The locker name of a slot's life.
std::string LifeName(int slot, int life);

// Exit status: 0 when the slot's rounds are done; otherwise the step that
// went wrong (see the body).
int WorkerLife(const StressConfig& config, RunShared* shared, int slot, int life, const std::string& journalPath);

}  // namespace kvi::stress

#endif
