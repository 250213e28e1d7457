#include "tests/support/open_descriptors.h"

#include <dirent.h>

namespace testsupport {

size_t CountOpenDescriptors()
{
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) {
        return 0;
    }
    size_t count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        count += entry->d_name[0] != '.';
    }
    ::closedir(dir);
    return count - 1; // the directory's own descriptor
}

} // namespace testsupport
