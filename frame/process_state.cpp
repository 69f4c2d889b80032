#include "frame/process_state.h"

namespace kvi {

namespace detail {
ProcessState g_processState{};
}  // namespace detail

namespace {

// The child's copies of the parent's book objects are forgotten, not
// destroyed: another thread of the parent may have been changing them at
// the fork.
void ForgetInChild() { detail::g_processState = ProcessState{}; }

const bool g_forkHandlerRegistered = (platform::AtForkChild(ForgetInChild), true);

}  // namespace

platform::SharedBlock Shared() {
    platform::SharedBlock copy;
    platform::ReadSharedBlock(&copy);
    return copy;
}

int SharedWritable() { return platform::SharedBlockWritable(); }

}  // namespace kvi
