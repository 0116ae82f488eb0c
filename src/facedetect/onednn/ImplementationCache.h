#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tovak::facedetect::onednn {

// The implementations chosen for a network, kept between runs so that timing them is paid once
// per CPU, oneDNN and model: one small file per model and precision in $XDG_CACHE_HOME/tovak/
// (~/.cache/tovak/ without it), the folder made 0700 and the file 0600. The file opens with a key
// (the CPU's name and what oneDNN runs on it, oneDNN's version, a hash of the model file, the
// input size and the precision); a file with another key, unreadable or damaged, is not used, and
// neither is one that is not this user's own regular file (a FIFO there is passed over at once).
namespace implementation_cache {

// The file for a model and a precision; empty when there is no home to put it in.
std::filesystem::path fileFor(const std::string& modelPath, const std::string& precision);
// What the choice depends on, one line each.
std::string keyFor(const std::string& modelPath, int inputSize, const std::string& precision);
// The names kept under key, in build order; none when the file is missing, damaged or keyed
// otherwise.
std::vector<std::string> read(const std::filesystem::path& file, const std::string& key);
// The names a file's text keeps under key; none when it is damaged or keyed otherwise.
std::vector<std::string> parse(std::string_view text, const std::string& key);
// Replaces the file with names under key; false, and nothing changed, when it cannot.
bool write(const std::filesystem::path& file, const std::string& key, const std::vector<std::string>& names);

}  // namespace implementation_cache

}  // namespace tovak::facedetect::onednn
