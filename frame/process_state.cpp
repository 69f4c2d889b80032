#include "frame/process_state.h"

namespace kvi {

namespace {

ProcessState g_state{};  // zero when the library is loaded

// The child's copies of the parent's book objects are forgotten, not
// destroyed: another thread of the parent may have been changing them at
// the fork.
void ForgetInChild() { g_state = ProcessState{}; }

}  // namespace

ProcessState& Process() {
    static const bool registered = (platform::AtForkChild(ForgetInChild), true);
    (void)registered;
    return g_state;
}

int IsInitialized() { return Process().initialized; }

platform::SharedBlock Shared() {
    platform::SharedBlock copy;
    platform::ReadSharedBlock(&copy);
    return copy;
}

int SharedWritable() { return platform::SharedBlockWritable(); }

}  // namespace kvi
