// Start-up and shut-down of the library in a process.
#ifndef KVI_FRAME_LIFECYCLE_H
#define KVI_FRAME_LIFECYCLE_H

#include <cstdint>

namespace kvi {

// The two book mutexes are named by this format with "Address_Book" and
// "Security_Book".
constexpr const char* kMutexNameFormat = "KVI_DF_MUTEX_47B823E0-D475-101B-97B2-461B93ACCE6B_%s";

int32_t Initialize();
void Terminate();

}  // namespace kvi

#endif
