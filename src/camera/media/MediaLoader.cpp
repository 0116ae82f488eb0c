#include "camera/media/MediaLoader.h"

#include <dlfcn.h>

#include <filesystem>
#include <vector>

namespace tovak::camera::media {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFileName = "libtovak-media.so";

struct Loaded {
    const MediaModule* module = nullptr;
    std::string error;
};

// Installed beside the binary, as the data is; then where this build put it.
std::vector<fs::path> candidates() {
    std::vector<fs::path> paths;
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const fs::path prefix = exe.parent_path() / "..";
        paths.push_back(prefix / TOVAK_INSTALL_LIBDIR / "tovak" / kFileName);
        if (fs::path(TOVAK_INSTALL_LIBDIR) != "lib") {
            paths.push_back(prefix / "lib" / "tovak" / kFileName);
        }
    }
    paths.push_back(fs::path(TOVAK_BUILD_MEDIA_DIR) / kFileName);
    return paths;
}

// "cannot load the media module FILE: REASON", with the file named once: dlerror() names it for
// some failures and not for others.
std::string failure(const std::string& file) {
    const char* error = dlerror();
    std::string reason = error != nullptr ? error : "unknown error";
    if (reason.starts_with(file + ": ")) {
        reason.erase(0, file.size() + 2);
    }
    return "cannot load the media module " + file + ": " + reason;
}

Loaded load() {
    const std::vector<fs::path> paths = candidates();
    // The first that exists is the one meant; when none does, dlopen of the installed name says why.
    fs::path chosen = paths.front();
    bool found = false;
    for (const fs::path& path : paths) {
        if (std::error_code ec; fs::exists(path, ec)) {
            chosen = path;
            found = true;
            break;
        }
    }
    std::error_code ec;
    const std::string file = fs::weakly_canonical(chosen, ec).string();
    // Local, so the codecs' own symbols stay out of the binary's lookup scope.
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        // Installed from the packages, the module comes in a package of its own.
        return {nullptr, failure(file) + (found ? "" : " (install the package tovak-media)")};
    }
    using Entry = const MediaModule* (*)(int);
    auto entry = reinterpret_cast<Entry>(dlsym(handle, "tovak_media_module"));
    if (entry == nullptr) {
        return {nullptr, failure(file)};
    }
    const MediaModule* module = entry(interfaceVersion);
    if (module == nullptr) {
        return {nullptr, "cannot load the media module " + file + ": built for another version of tovak"};
    }
    // Never closed: captures it made may outlive any one caller.
    return {module, {}};
}

}  // namespace

const MediaModule* loadMediaModule(std::string& error) {
    static const Loaded loaded = load();
    error = loaded.error;
    return loaded.module;
}

}  // namespace tovak::camera::media
