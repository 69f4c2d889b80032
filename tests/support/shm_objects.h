// The shared memory objects the library made for a Windows directory, by
// any process: the lock objects and the shared block, as /dev/shm paths.
#ifndef KVI_TESTS_SUPPORT_SHM_OBJECTS_H
#define KVI_TESTS_SUPPORT_SHM_OBJECTS_H

#include <dirent.h>

#include <string>
#include <vector>

#include "platform/posix/machine.h"

namespace kvi::test {

inline std::vector<std::string> ShmObjectsOf(const std::string& windowsDir) {
    const std::string prefix = kvi::platform::posix::MachineShmPrefix(windowsDir.c_str()).substr(1);
    std::vector<std::string> paths;
    if (DIR* shm = opendir("/dev/shm")) {
        while (const dirent* entry = readdir(shm)) {
            const std::string name = entry->d_name;
            if (name.compare(0, prefix.size(), prefix) == 0) paths.push_back("/dev/shm/" + name);
        }
        closedir(shm);
    }
    return paths;
}

}  // namespace kvi::test

#endif
