#pragma once

#include <optional>
#include <string>
#include <vector>

#include "system/FileDescriptor.h"

namespace tovak::system {

// A folder of this user's, held open as a descriptor, and the files in it opened from that
// descriptor: never through a link planted at the last step, never another account's file, new
// folders 0700 and new files 0600 whatever the umask. The journal and the implementation cache keep
// their files this way; the single-instance socket lives in one.
class PrivateFolder {
  public:
    enum class Kind {
        // The program's own folder: made when missing (missing parents too), refused when it is
        // not this user's, tightened to 0700 when found looser.
        own,
        // A folder the user named (that of --journal PATH): made when missing, else used as it is.
        named,
        // A folder that must already be this user's and 0700 ($XDG_RUNTIME_DIR): used as it is.
        existing,
    };
    // What a file in the folder may be.
    enum class Accept {
        // This user's own regular file, made 0600.
        regular,
        // That, or a pipe, terminal or device (standard output named as /dev/stdout), reached
        // through a link too: this user's, or a device of root's.
        stream,
    };

    // None, with errno set, when the folder cannot be made or is not acceptable.
    static std::optional<PrivateFolder> open(const std::string& path, Kind kind);

    [[nodiscard]] const std::string& path() const { return path_; }
    [[nodiscard]] int fd() const { return fd_.get(); }

    // A file in the folder opened with flags (O_CREAT makes it 0600); invalid, with errno set, when
    // it cannot be opened or is not acceptable. Never blocks on a FIFO.
    [[nodiscard]] FileDescriptor openFile(const std::string& name, int flags, Accept accept = Accept::regular) const;
    // Whether name is still the file fd has open (it may have been replaced or removed meanwhile).
    [[nodiscard]] bool stillNames(const std::string& name, int fd) const;
    // Removes a file; one already missing counts as removed.
    bool remove(const std::string& name) const;
    // Moves from over to, in one step.
    bool rename(const std::string& from, const std::string& to) const;
    // The names in the folder, without "." and "..".
    [[nodiscard]] std::vector<std::string> names() const;

  private:
    PrivateFolder(std::string path, FileDescriptor fd) : path_(std::move(path)), fd_(std::move(fd)) {}

    std::string path_;
    FileDescriptor fd_;
};

}  // namespace tovak::system
