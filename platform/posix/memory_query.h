// Where IsReadWriteRange learns the process's memory map. Internal to
// platform/posix; tests and the benchmark switch the source.
#ifndef KVI_PLATFORM_POSIX_MEMORY_QUERY_H
#define KVI_PLATFORM_POSIX_MEMORY_QUERY_H

namespace kvi::platform::posix {

enum class MapSource {
    kAuto,  // the PROCMAP_QUERY ioctl (Linux 6.11+), else the text
    kText,  // always parse the text of /proc/self/maps
};

void SetMapSource(MapSource source);

// 1 while the ioctl answers (it has not been refused as unknown).
bool ProcmapQueryAvailable();

}  // namespace kvi::platform::posix

#endif
