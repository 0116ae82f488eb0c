#include "trigger/PosixFileSystem.h"

#include <sys/stat.h>

namespace tovak::trigger {

bool PosixFileSystem::fileExists(const std::string& path) const {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace tovak::trigger
