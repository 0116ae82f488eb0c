#include "system/PrivateFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace tovak::system {

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

// One step down from at: a folder on the way (links followed: the user's own setup) or the last one
// (a link only when allowed). A missing folder is made, and made 0700 since the umask may have taken
// bits.
FileDescriptor step(int at, const std::string& name, bool last, bool followLast) {
    const int flags = O_DIRECTORY | O_CLOEXEC | (last ? O_RDONLY | (followLast ? 0 : O_NOFOLLOW) : O_PATH);
    FileDescriptor fd(::openat(at, name.c_str(), flags));
    if (fd.valid() || errno != ENOENT) {
        return fd;
    }
    if (::mkdirat(at, name.c_str(), kFolderMode) != 0) {
        return errno == EEXIST ? FileDescriptor(::openat(at, name.c_str(), flags)) : FileDescriptor();
    }
    fd = FileDescriptor(::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.valid() && ::fchmod(fd.get(), kFolderMode) != 0) {
        return {};
    }
    return fd;
}

// The folder at path, each missing one made on the way.
FileDescriptor walk(const std::string& path, bool followLast) {
    FileDescriptor at(::open(path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::size_t begin = 0;
    while (at.valid() && begin < path.size()) {
        std::size_t end = path.find('/', begin);
        end = end == std::string::npos ? path.size() : end;
        const std::string name = path.substr(begin, end - begin);
        begin = end + 1;
        if (name.empty() || name == ".") {
            continue;
        }
        const bool last = path.find_first_not_of("/.", end) == std::string::npos;
        at = step(at.get(), name, last, followLast);
    }
    return at;
}

}  // namespace

std::optional<PrivateFolder> PrivateFolder::open(const std::string& path, Kind kind) {
    if (path.empty()) {
        errno = ENOENT;
        return std::nullopt;
    }
    FileDescriptor fd = kind == Kind::existing
                            ? FileDescriptor(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC))
                            : walk(path, kind == Kind::named);
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return std::nullopt;
    }
    const bool mine = info.st_uid == ::geteuid();
    const bool tight = (info.st_mode & 07777) == kFolderMode;
    if ((kind == Kind::own && (!mine || (!tight && ::fchmod(fd.get(), kFolderMode) != 0))) ||
        (kind == Kind::existing && (!mine || !tight))) {
        errno = EACCES;
        return std::nullopt;
    }
    return PrivateFolder(path, std::move(fd));
}

FileDescriptor PrivateFolder::openFile(const std::string& name, int flags, Accept accept) const {
    // Non-blocking only while opening: a FIFO planted at the name must not hold the open.
    const int opening = flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    FileDescriptor fd(::openat(fd_.get(), name.c_str(), opening | O_NOFOLLOW, kFileMode));
    const bool throughLink = !fd.valid() && errno == ELOOP && accept == Accept::stream;
    if (throughLink) {
        fd = FileDescriptor(::openat(fd_.get(), name.c_str(), opening & ~(O_CREAT | O_EXCL)));
    }
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0) {
        return {};
    }
    const uid_t me = ::geteuid();
    // A regular file reached through a link could be any of the user's files, named by whoever
    // made the link.
    const bool acceptable = S_ISREG(info.st_mode)
                                ? !throughLink && info.st_uid == me
                                : accept == Accept::stream && !S_ISDIR(info.st_mode) &&
                                      (info.st_uid == me || (S_ISCHR(info.st_mode) && info.st_uid == 0));
    if (!acceptable) {
        errno = EACCES;
        return {};
    }
    if ((S_ISREG(info.st_mode) && (info.st_mode & 07777) != kFileMode && ::fchmod(fd.get(), kFileMode) != 0) ||
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return {};
    }
    return fd;
}

bool PrivateFolder::stillNames(const std::string& name, int fd) const {
    struct stat named {};
    struct stat held {};
    return ::fstatat(fd_.get(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(fd, &held) == 0 &&
           named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

bool PrivateFolder::remove(const std::string& name) const {
    return ::unlinkat(fd_.get(), name.c_str(), 0) == 0 || errno == ENOENT;
}

bool PrivateFolder::rename(const std::string& from, const std::string& to) const {
    return ::renameat(fd_.get(), from.c_str(), fd_.get(), to.c_str()) == 0;
}

std::vector<std::string> PrivateFolder::names() const {
    std::vector<std::string> names;
    // A description of its own: reading the folder moves its position.
    const int fd = ::openat(fd_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (dir == nullptr) {
        if (fd >= 0) {
            ::close(fd);
        }
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(dir);
    return names;
}

}  // namespace tovak::system
