#include "platform/file_stamp.h"

#include <sys/stat.h>

#include "sim.h"

namespace platform {

bool StampOf(const char* path, FileStamp& stamp) {
    struct stat st {};
    if (!path || stat(sim::NativePath(path).c_str(), &st) != 0) return false;
    stamp.size = static_cast<unsigned long long>(st.st_size);
    stamp.written = static_cast<unsigned long long>(st.st_mtim.tv_sec) * 1000000000ULL +
                    static_cast<unsigned long long>(st.st_mtim.tv_nsec);
    stamp.identity = (static_cast<unsigned long long>(st.st_dev) << 40) ^ static_cast<unsigned long long>(st.st_ino);
    stamp.directory = S_ISDIR(st.st_mode);
    return true;
}

}  // namespace platform
