#include "frame/process_state.h"

namespace kvi {

ProcessState& Process() {
    static ProcessState state{};  // zero when the library is loaded
    return state;
}

int IsInitialized() { return Process().initialized; }

platform::SharedBlock& Shared() { return *platform::ProcessSharedBlock(); }

}  // namespace kvi
