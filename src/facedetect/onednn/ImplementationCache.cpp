#include "facedetect/onednn/ImplementationCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <oneapi/dnnl/dnnl.hpp>
#include <sstream>

namespace tovak::facedetect::onednn::implementation_cache {

namespace {

constexpr const char* kFirstLine = "tovak oneDNN implementations 1";
// Far more than a network's names take; a larger file is not one of these.
constexpr std::streamsize kLargest = 1 << 16;

std::string cpuName() {
    std::ifstream in("/proc/cpuinfo");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("model name", 0) == 0) {
            return line.substr(line.find(':') == std::string::npos ? line.size() : line.find(':') + 1);
        }
    }
    return "unknown";
}

// FNV-1a over the file's bytes: enough to tell one model file from another.
std::string fileHash(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::uint64_t hash = 14695981039346656037ULL;
    for (std::istreambuf_iterator<char> it(in), end; it != end; ++it) {
        hash = (hash ^ static_cast<unsigned char>(*it)) * 1099511628211ULL;
    }
    std::ostringstream text;
    text << std::hex << hash;
    return text.str();
}

// Each missing folder of path made 0700; false when path is not a folder after.
bool makeFolders(const std::filesystem::path& path) {
    std::filesystem::path made;
    for (const auto& part : path) {
        made /= part;
        if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

}  // namespace

std::filesystem::path fileFor(const std::string& modelPath, const std::string& precision) {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    std::filesystem::path folder;
    if (xdg != nullptr && xdg[0] == '/') {
        folder = xdg;
    } else if (home != nullptr && home[0] == '/') {
        folder = std::filesystem::path(home) / ".cache";
    } else {
        return {};
    }
    return folder / "tovak" / ("onednn-" + std::filesystem::path(modelPath).stem().string() + "-" + precision);
}

std::string keyFor(const std::string& modelPath, int inputSize, const std::string& precision) {
    const dnnl_version_t* version = dnnl_version();
    std::ostringstream key;
    key << kFirstLine << "\ncpu:" << cpuName() << " isa " << static_cast<int>(dnnl::get_effective_cpu_isa())
        << "\nonednn: " << version->major << "." << version->minor << "." << version->patch << " "
        << (version->hash != nullptr ? version->hash : "") << "\nmodel: " << fileHash(modelPath) << " " << inputSize
        << "\nprecision: " << precision << "\n";
    return key.str();
}

std::vector<std::string> read(const std::filesystem::path& file, const std::string& key) {
    std::ifstream in(file, std::ios::binary);
    std::string text(static_cast<std::size_t>(kLargest) + 1, '\0');
    in.read(text.data(), kLargest + 1);
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > static_cast<std::size_t>(kLargest) || text.rfind(key, 0) != 0) {
        return {};
    }
    // The count, then that many names, then "end": a file cut short or grown shows.
    std::istringstream body(text.substr(key.size()));
    std::size_t count = 0;
    std::vector<std::string> names;
    std::string line;
    if (!(body >> count) || count > 10000 || !std::getline(body, line) || !line.empty()) {
        return {};
    }
    for (std::size_t i = 0; i < count && std::getline(body, line); ++i) {
        if (line.empty() || line.find_first_of(" \t\r") != std::string::npos) {
            return {};
        }
        names.push_back(line);
    }
    if (names.size() != count || !std::getline(body, line) || line != "end" || std::getline(body, line)) {
        return {};
    }
    return names;
}

bool write(const std::filesystem::path& file, const std::string& key, const std::vector<std::string>& names) {
    if (file.empty() || !makeFolders(file.parent_path())) {
        return false;
    }
    std::string text = key + std::to_string(names.size()) + "\n";
    for (const std::string& name : names) {
        text += name + "\n";
    }
    text += "end\n";
    // A whole file or none: written aside, then moved over the old one.
    const std::filesystem::path aside = file.string() + "." + std::to_string(::getpid());
    const int fd = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return false;
    }
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(aside.c_str(), file.c_str()) != 0) {
        ::unlink(aside.c_str());
        return false;
    }
    return true;
}

}  // namespace tovak::facedetect::onednn::implementation_cache
