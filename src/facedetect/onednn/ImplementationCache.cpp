#include "facedetect/onednn/ImplementationCache.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <oneapi/dnnl/dnnl.hpp>
#include <optional>
#include <sstream>

#include "system/DataDirectory.h"
#include "system/PrivateFolder.h"

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

}  // namespace

std::filesystem::path fileFor(const std::string& modelPath, const std::string& precision) {
    const std::string folder = system::cacheFolder();
    if (folder.empty()) {
        return {};
    }
    return std::filesystem::path(folder) /
           ("onednn-" + std::filesystem::path(modelPath).stem().string() + "-" + precision);
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
    // Only this user's own regular file, and never a wait: a FIFO put there is passed over.
    const std::optional<system::PrivateFolder> folder =
        file.empty() ? std::nullopt : system::PrivateFolder::open(file.parent_path(), system::PrivateFolder::Kind::own);
    const system::FileDescriptor fd = folder ? folder->openFile(file.filename(), O_RDONLY) : system::FileDescriptor();
    if (!fd.valid()) {
        return {};
    }
    std::string text(static_cast<std::size_t>(kLargest) + 1, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd.get(), text.data() + got, text.size() - got);
        if (n == 0) {
            break;
        }
        if (n < 0 && errno != EINTR) {
            return {};
        }
        got += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    text.resize(got);
    return parse(text, key);
}

std::vector<std::string> parse(std::string_view text, const std::string& key) {
    if (text.size() > static_cast<std::size_t>(kLargest) || text.substr(0, key.size()) != key) {
        return {};
    }
    // The count, then that many names, then "end": a file cut short or grown shows.
    std::istringstream body(std::string(text.substr(key.size())));
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
    const std::optional<system::PrivateFolder> folder =
        file.empty() ? std::nullopt : system::PrivateFolder::open(file.parent_path(), system::PrivateFolder::Kind::own);
    if (!folder) {
        return false;
    }
    std::string text = key + std::to_string(names.size()) + "\n";
    for (const std::string& name : names) {
        text += name + "\n";
    }
    text += "end\n";
    // A whole file or none: written aside, then moved over the old one.
    const std::string aside = file.filename().string() + "." + std::to_string(::getpid());
    system::FileDescriptor fd = folder->openFile(aside, O_WRONLY | O_CREAT | O_TRUNC);
    const bool written = fd.valid() && ::write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (!written || !fd.close() || !folder->rename(aside, file.filename())) {
        folder->remove(aside);
        return false;
    }
    return true;
}

}  // namespace tovak::facedetect::onednn::implementation_cache
