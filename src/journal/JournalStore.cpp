#include "journal/JournalStore.h"

#include <fcntl.h>
#include <png.h>
#include <pwd.h>
#include <sys/file.h>
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

using system::FileDescriptor;
using system::PrivateFolder;

constexpr std::string_view kPicturePrefix = "visit-";
constexpr std::string_view kPictureSuffix = ".png";
// A journal replaced under us this often in a row is not settling: the write fails.
constexpr int kOpenAttempts = 8;

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

// Everything to the end; false when a read failed (what came before is in text).
bool readAll(int fd, std::string& text) {
    char buffer[16384];
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return got == 0;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

// Flushed to the disk and closed: a full disk may only say so here. A pipe or a terminal (a
// journal sent to standard output) has nothing to flush.
bool syncAndClose(FileDescriptor& fd) {
    const bool synced = ::fdatasync(fd.get()) == 0 || errno == EINVAL;
    return fd.close() && synced;
}

bool isRegular(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Decimal digits as Tovak writes them: no sign, no leading zero, at most longest of them.
bool plainNumber(std::string_view digits, std::size_t longest) {
    return !digits.empty() && digits.size() <= longest &&
           digits.find_first_not_of("0123456789") == std::string_view::npos && (digits[0] != '0' || digits.size() == 1);
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
    const std::optional<PrivateFolder> folder = openFolder();
    if (!folder) {
        return false;
    }
    if (folderKind_ == Folder::owned) {
        for (const std::string& name : folder->names()) {
            if (pictureTime(name)) {
                // Opening one of its own files tightens its mode.
                static_cast<void>(folder->openFile(name, O_RDONLY));
            }
        }
    }
    FileDescriptor fd = folder->openFile(fileName_, O_WRONLY | O_APPEND | O_CREAT, accepts());
    return fd.valid() && fd.close();
}

std::optional<PrivateFolder> JournalStore::openFolder() const {
    return PrivateFolder::open(folder_,
                               folderKind_ == Folder::owned ? PrivateFolder::Kind::own : PrivateFolder::Kind::named);
}

PrivateFolder::Accept JournalStore::accepts() const {
    return folderKind_ == Folder::owned ? PrivateFolder::Accept::regular : PrivateFolder::Accept::stream;
}

FileDescriptor JournalStore::openLocked(const PrivateFolder& folder, int flags) const {
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        FileDescriptor fd = folder.openFile(fileName_, flags, accepts());
        if (!fd.valid() || !isRegular(fd.get())) {
            // A pipe or a terminal is nobody else's to rewrite.
            return fd;
        }
        // Another writer holds it only while it writes.
        int locked = 0;
        while ((locked = ::flock(fd.get(), LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked != 0) {
            return {};
        }
        if (folder.stillNames(fileName_, fd.get())) {
            return fd;
        }
    }
    errno = EAGAIN;
    return {};
}

std::optional<double> JournalStore::pictureTime(std::string_view name) {
    if (name.size() <= kPicturePrefix.size() + kPictureSuffix.size() ||
        name.substr(0, kPicturePrefix.size()) != kPicturePrefix ||
        name.substr(name.size() - kPictureSuffix.size()) != kPictureSuffix) {
        return std::nullopt;
    }
    name = name.substr(kPicturePrefix.size(), name.size() - kPicturePrefix.size() - kPictureSuffix.size());
    const std::size_t dash = name.find('-');
    const std::string_view millis = name.substr(0, dash);
    // The second picture of a millisecond is "-2", the last "-99".
    const std::string_view attempt = dash == std::string_view::npos ? "" : name.substr(dash + 1);
    if (!plainNumber(millis, 15) ||
        (dash != std::string_view::npos && (!plainNumber(attempt, 2) || attempt == "0" || attempt == "1"))) {
        return std::nullopt;
    }
    return static_cast<double>(std::stoll(std::string(millis))) / 1000.0;
}

void JournalStore::expirePictures(const PrivateFolder& folder, double cutoff, Loaded& loaded) const {
    for (const std::string& name : folder.names()) {
        if (const std::optional<double> time = pictureTime(name); time && *time < cutoff) {
            if (folder.remove(name)) {
                ++loaded.expired;
            } else {
                loaded.ok = false;
            }
        }
    }
}

JournalStore::Loaded JournalStore::readLines(std::string_view text, double cutoff, std::string* kept) {
    Loaded loaded;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = text.substr(begin, end - begin);
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
            if (kept != nullptr) {
                kept->append(line).append("\n");
            }
            loaded.incidents.push_back(std::move(*incident));
        }
    }
    return loaded;
}

JournalStore::Loaded JournalStore::load(double now) {
    const double cutoff = now - keepSeconds;
    const std::optional<PrivateFolder> folder = openFolder();
    Loaded loaded;
    if (!folder) {
        loaded.ok = loaded.whole = false;
        return loaded;
    }
    // Locked until the rewrite is in place: a line another writer appends meanwhile is read, not lost.
    FileDescriptor fd = openLocked(*folder, O_RDONLY);
    if (!fd.valid()) {
        loaded.ok = loaded.whole = errno == ENOENT;
        expirePictures(*folder, cutoff, loaded);
        return loaded;
    }
    std::string text;
    const bool whole = readAll(fd.get(), text);
    if (!whole) {
        // What a failed read left is no journal to write back: only its whole lines are shown.
        text.resize(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
    }
    std::string kept;
    loaded = readLines(text, cutoff, &kept);
    const std::size_t expiredLines = loaded.expired;
    expirePictures(*folder, cutoff, loaded);
    loaded.whole = whole;
    loaded.ok = loaded.ok && whole;
    if (whole && (expiredLines > 0 || loaded.skipped > 0) && isRegular(fd.get()) && !rewrite(*folder, kept)) {
        loaded.ok = false;
    }
    return loaded;
}

bool JournalStore::rewrite(const PrivateFolder& folder, const std::string& kept) const {
    // Written beside and renamed over, so a failure halfway leaves the old journal whole.
    const std::string fresh = fileName_ + ".new";
    FileDescriptor out = folder.openFile(fresh, O_WRONLY | O_CREAT | O_TRUNC);
    const bool written = out.valid() && writeAll(out.get(), kept);
    if (written && syncAndClose(out) && folder.rename(fresh, fileName_)) {
        return true;
    }
    folder.remove(fresh);
    return false;
}

bool JournalStore::append(const Incident& incident) {
    const std::optional<PrivateFolder> folder = openFolder();
    FileDescriptor fd = folder ? openLocked(*folder, O_RDWR | O_APPEND | O_CREAT) : FileDescriptor();
    if (!fd.valid()) {
        return false;
    }
    std::string line = JournalLine::encode(incident) + "\n";
    // A line cut short earlier (a crash, a full disk) is ended first, so it cannot swallow this one.
    struct stat info {};
    char last = '\n';
    if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
        ::pread(fd.get(), &last, 1, info.st_size - 1) == 1 && last != '\n') {
        line.insert(line.begin(), '\n');
    }
    const bool written = writeAll(fd.get(), line);
    return syncAndClose(fd) && written;
}

std::optional<std::string> JournalStore::savePicture(double start, const imaging::PixelBuffer& picture) {
    const std::optional<std::string> png = encodePng(picture);
    const std::optional<PrivateFolder> folder = png ? openFolder() : std::nullopt;
    if (!folder) {
        return std::nullopt;
    }
    const std::string stem = std::string(kPicturePrefix) + std::to_string(std::llround(start * 1000.0));
    for (int attempt = 1; attempt < 100; ++attempt) {
        const std::string name =
            stem + (attempt == 1 ? "" : "-" + std::to_string(attempt)) + std::string(kPictureSuffix);
        FileDescriptor fd = folder->openFile(name, O_WRONLY | O_CREAT | O_EXCL);
        if (!fd.valid() && errno == EEXIST) {
            continue;
        }
        if (!fd.valid()) {
            return std::nullopt;
        }
        const bool written = writeAll(fd.get(), *png);
        if (!syncAndClose(fd) || !written) {
            folder->remove(name);
            return std::nullopt;
        }
        return name;
    }
    return std::nullopt;
}

std::optional<std::string> JournalStore::readPicture(const std::string& name) const {
    const std::optional<PrivateFolder> folder = pictureTime(name) ? openFolder() : std::nullopt;
    const FileDescriptor fd = folder ? folder->openFile(name, O_RDONLY) : FileDescriptor();
    std::string bytes;
    return fd.valid() && readAll(fd.get(), bytes) ? std::optional(std::move(bytes)) : std::nullopt;
}

bool JournalStore::clear() {
    const std::optional<PrivateFolder> folder = openFolder();
    if (!folder) {
        return false;
    }
    bool ok = true;
    {
        // Removed under its lock: a writer waiting for it starts a fresh file instead of writing
        // into the removed one.
        const FileDescriptor fd = openLocked(*folder, O_RDONLY);
        ok = fd.valid() ? !isRegular(fd.get()) || folder->remove(fileName_) : errno == ENOENT;
    }
    for (const std::string& name : folder->names()) {
        if (pictureTime(name)) {
            ok = folder->remove(name) && ok;
        }
    }
    return ok;
}

}  // namespace tovak::journal
