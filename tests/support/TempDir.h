#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tovak::testing {

// A fresh folder under the system's temporary directory, removed with everything in it at the end.
class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "tovak-test")
        : path_(std::filesystem::temp_directory_path() /
                (prefix + "-" + std::to_string(::getpid()) + "-" + std::to_string(next_++))) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    // Writes a file (its folder made first) and returns its path.
    std::string write(const std::string& name, const std::string& text) const {
        std::filesystem::create_directories((path_ / name).parent_path());
        std::ofstream(path_ / name) << text;
        return *this / name;
    }
    // The whole text of a file, empty when there is none.
    [[nodiscard]] std::string read(const std::string& name) const {
        std::stringstream text;
        text << std::ifstream(path_ / name, std::ios::binary).rdbuf();
        return text.str();
    }
    // A shell script that can be run.
    std::string script(const std::string& name, const std::string& body) const {
        write(name, "#!/bin/sh\n" + body + "\n");
        std::filesystem::permissions(path_ / name, std::filesystem::perms::owner_all);
        return *this / name;
    }

  private:
    std::filesystem::path path_;
    static inline int next_ = 0;
};

}  // namespace tovak::testing
