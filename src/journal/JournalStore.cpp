#include "journal/JournalStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <png.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <opencv2/imgproc.hpp>
#include <string_view>

#include "journal/JournalLine.h"

namespace tovak::journal {

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;
constexpr std::string_view kPicturePrefix = "visit-";
constexpr std::string_view kPictureSuffix = ".png";

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Flushed to the disk and closed: a full disk may only say so here. A pipe or a terminal (a
// journal sent to standard output) has nothing to flush.
bool syncAndClose(int fd) {
    const bool synced = ::fdatasync(fd) == 0 || errno == EINVAL;
    return ::close(fd) == 0 && synced;
}

// Opens (creating) a file that only its owner may read, whatever the umask and whatever mode an
// existing file had. A device named instead of a file (/dev/stdout) keeps its mode.
int openPrivate(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CREAT | O_CLOEXEC, kFileMode);
    struct stat info {};
    if (fd >= 0 && (::fstat(fd, &info) != 0 || (S_ISREG(info.st_mode) && ::fchmod(fd, kFileMode) != 0))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Makes the folder and any missing parents, each made one private; an existing one is left alone.
bool makeFolders(const std::string& path) {
    if (path.empty() || isDirectory(path)) {
        return !path.empty();
    }
    const std::size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeFolders(path.substr(0, slash))) {
        return false;
    }
    if (::mkdir(path.c_str(), kFolderMode) != 0 && errno != EEXIST) {
        return false;
    }
    // The umask may have taken bits the owner needs.
    return isDirectory(path) && ::chmod(path.c_str(), kFolderMode) == 0;
}

// The picture's time in calendar seconds, from its file name; none for other files.
std::optional<double> pictureTime(std::string_view name) {
    if (name.substr(0, kPicturePrefix.size()) != kPicturePrefix || name.size() <= kPictureSuffix.size() ||
        name.substr(name.size() - kPictureSuffix.size()) != kPictureSuffix) {
        return std::nullopt;
    }
    name.remove_prefix(kPicturePrefix.size());
    long long millis = 0;
    std::size_t digits = 0;
    while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9' && digits < 15) {
        millis = millis * 10 + (name[digits] - '0');
        ++digits;
    }
    if (digits == 0 || (name[digits] != '.' && name[digits] != '-')) {
        return std::nullopt;
    }
    return static_cast<double>(millis) / 1000.0;
}

std::optional<std::string> encodePng(const imaging::PixelBuffer& picture) {
    cv::Mat bgr;
    cv::cvtColor(picture.mat(), bgr, cv::COLOR_BGRA2BGR);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(bgr.cols);
    image.height = static_cast<png_uint_32>(bgr.rows);
    image.format = PNG_FORMAT_BGR;
    const auto stride = static_cast<png_int_32>(bgr.step);
    png_alloc_size_t size = 0;
    if (png_image_write_to_memory(&image, nullptr, &size, 0, bgr.data, stride, nullptr) == 0) {
        return std::nullopt;
    }
    std::string bytes(size, '\0');
    if (png_image_write_to_memory(&image, bytes.data(), &size, 0, bgr.data, stride, nullptr) == 0) {
        return std::nullopt;
    }
    bytes.resize(size);
    return bytes;
}

}  // namespace

JournalStore::JournalStore(std::string folder, std::string fileName, Folder folderKind)
    : folder_(std::move(folder)), fileName_(std::move(fileName)), folderKind_(folderKind) {
    while (folder_.size() > 1 && folder_.back() == '/') {
        folder_.pop_back();
    }
}

std::string JournalStore::defaultFolder() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
        return std::string(state) + "/tovak";
    }
    std::string home;
    if (const char* env = std::getenv("HOME"); env != nullptr && env[0] != '\0') {
        home = env;
    } else if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir != nullptr) {
        home = user->pw_dir;
    }
    return home + "/.local/state/tovak";
}

bool JournalStore::exists() const {
    return isDirectory(folder_);
}

bool JournalStore::prepare() {
    if (!makeFolders(folder_)) {
        return false;
    }
    if (folderKind_ == Folder::owned) {
        if (::chmod(folder_.c_str(), kFolderMode) != 0) {
            return false;
        }
        for (const std::string& name : pictureNames()) {
            ::chmod(picturePath(name).c_str(), kFileMode);
        }
    }
    const int fd = openPrivate(journalPath(), O_WRONLY | O_APPEND);
    return fd >= 0 && ::close(fd) == 0;
}

std::vector<std::string> JournalStore::pictureNames() const {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder_.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (pictureTime(entry->d_name)) {
            names.emplace_back(entry->d_name);
        }
    }
    ::closedir(dir);
    return names;
}

JournalStore::Loaded JournalStore::load(double now) {
    Loaded loaded;
    const double cutoff = now - keepSeconds;
    for (const std::string& name : pictureNames()) {
        if (*pictureTime(name) < cutoff) {
            if (::unlink(picturePath(name).c_str()) == 0) {
                ++loaded.expired;
            } else {
                loaded.ok = false;
            }
        }
    }

    const int fd = ::open(journalPath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        loaded.ok = errno == ENOENT;
        return loaded;
    }
    std::string text;
    char buffer[16384];
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            loaded.ok = got == 0;
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);

    // The lines worth keeping, as they were written.
    std::string kept;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string_view line(text.data() + begin, end - begin);
        begin = end + 1;
        if (line.find_first_not_of(" \t\r") == std::string_view::npos) {
            continue;
        }
        std::optional<Incident> incident = JournalLine::decode(line);
        if (!incident) {
            ++loaded.skipped;
        } else if (incident->start < cutoff) {
            ++loaded.expired;
        } else {
            kept.append(line).append("\n");
            loaded.incidents.push_back(std::move(*incident));
        }
    }
    if (loaded.expired == 0 && loaded.skipped == 0) {
        return loaded;
    }
    // Written beside and renamed over, so a failure halfway leaves the old journal whole.
    const std::string fresh = journalPath() + ".new";
    const int out = openPrivate(fresh, O_WRONLY | O_TRUNC);
    const bool written = out >= 0 && writeAll(out, kept);
    const bool closed = out >= 0 && syncAndClose(out);
    if (!written || !closed || ::rename(fresh.c_str(), journalPath().c_str()) != 0) {
        ::unlink(fresh.c_str());
        loaded.ok = false;
    }
    return loaded;
}

bool JournalStore::append(const Incident& incident) {
    int fd = openPrivate(journalPath(), O_RDWR | O_APPEND);
    if (fd < 0 && errno == ENOENT && prepare()) {
        fd = openPrivate(journalPath(), O_RDWR | O_APPEND);
    }
    if (fd < 0) {
        return false;
    }
    std::string line = JournalLine::encode(incident) + "\n";
    // A line cut short earlier (a crash, a full disk) is ended first, so it cannot swallow this one.
    struct stat info {};
    char last = '\n';
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
        ::pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n') {
        line.insert(line.begin(), '\n');
    }
    const bool written = writeAll(fd, line);
    return syncAndClose(fd) && written;
}

std::optional<std::string> JournalStore::savePicture(double start, const imaging::PixelBuffer& picture) {
    const std::optional<std::string> png = encodePng(picture);
    if (!png) {
        return std::nullopt;
    }
    if (!exists() && !prepare()) {
        return std::nullopt;
    }
    const std::string stem = std::string(kPicturePrefix) + std::to_string(std::llround(start * 1000.0));
    for (int attempt = 1; attempt < 100; ++attempt) {
        const std::string name =
            stem + (attempt == 1 ? "" : "-" + std::to_string(attempt)) + std::string(kPictureSuffix);
        const int fd = openPrivate(picturePath(name), O_WRONLY | O_EXCL);
        if (fd < 0 && errno == EEXIST) {
            continue;
        }
        if (fd < 0) {
            return std::nullopt;
        }
        const bool written = writeAll(fd, *png);
        if (!syncAndClose(fd) || !written) {
            ::unlink(picturePath(name).c_str());
            return std::nullopt;
        }
        return name;
    }
    return std::nullopt;
}

bool JournalStore::clear() {
    bool ok = ::unlink(journalPath().c_str()) == 0 || errno == ENOENT;
    for (const std::string& name : pictureNames()) {
        ok = (::unlink(picturePath(name).c_str()) == 0 || errno == ENOENT) && ok;
    }
    return ok;
}

}  // namespace tovak::journal
