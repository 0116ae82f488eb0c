#include "system/Policy.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace tovak::system {

namespace {

bool isBool(const std::string& text) {
    return text == "true" || text == "false";
}

bool isSecondsUpTo(const std::string& text, double most) {
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(seconds) && seconds >= 0 && seconds <= most;
}

bool isValid(const std::string& key, const std::string& value) {
    if (key == Policy::longestPauseKey) {
        return value.find_first_not_of("0123456789") == std::string::npos && isSecondsUpTo(value, 24 * 3600);
    }
    if (key == "tovak.lockOnLeaveSeconds") {
        return value == "off" || isSecondsUpTo(value, 3600);
    }
    if (key == "ruzered.triggerFilePath" || key == "tovak.camera") {
        return !value.empty();
    }
    return isBool(value);
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Qt writes a value with commas or spaces at its ends in double quotes.
std::string unquoted(const std::string& text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

bool known(const std::string& key) {
    const auto& all = Policy::keys();
    return std::find(all.begin(), all.end(), key) != all.end();
}

}  // namespace

const std::vector<std::string>& Policy::keys() {
    static const std::vector<std::string> all = {
        startAtLoginKey, startWatchingKey, "ruzered.triggerFilePath",  "tovak.keepJournal", "tovak.keepFacePictures",
        longestPauseKey, markedFacesKey,   "tovak.lockOnLeaveSeconds", "tovak.camera"};
    return all;
}

Policy Policy::read(const std::string& configDirs) {
    Policy policy;
    std::stringstream folders(configDirs.empty() ? std::string("/etc/xdg") : configDirs);
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        // Relative entries are invalid in XDG_CONFIG_DIRS and would depend on where Tovak was started.
        if (!folder.empty() && folder.front() == '/') {
            policy.readFile(folder + "/tovak/tovak.conf");
        }
    }
    return policy;
}

Policy Policy::fromEnvironment() {
    const char* dirs = std::getenv("XDG_CONFIG_DIRS");
    return read(dirs != nullptr ? dirs : "");
}

void Policy::lockEverything(const std::string& why) {
    problems_.push_back(why);
    lockedAll_ = true;
}

void Policy::readFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr && (errno == ENOENT || errno == ENOTDIR)) {
        return;
    }
    std::string text;
    char chunk[4096];
    std::size_t got = 0;
    while (file != nullptr && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, got);
    }
    // A file cut short by a read error is no better than none: the user's values stand.
    const int error = file == nullptr || std::ferror(file) ? errno : 0;
    if (file != nullptr) {
        std::fclose(file);
    }
    if (error != 0) {
        problems_.push_back(path + ": не читается (" + std::strerror(error) + "), пропущен");
        return;
    }
    std::istringstream in(text);
    enum class Group { general, locked, other } group = Group::general;
    std::string raw;
    for (int number = 1; std::getline(in, raw); ++number) {
        const std::string line = trimmed(raw);
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            group = line == "[General]" ? Group::general : line == "[Locked]" ? Group::locked : Group::other;
            if (group == Group::other) {
                // It may be a misspelt [Locked]: what it holds must not read as unlocked.
                lockEverything(where + "неизвестная группа " + line + ", закреплены все ключи");
            }
            continue;
        }
        const auto eq = line.find('=');
        const std::string key = trimmed(line.substr(0, eq));
        const std::string value = eq == std::string::npos ? std::string() : unquoted(trimmed(line.substr(eq + 1)));
        if (group == Group::other) {
            continue;
        }
        if (group == Group::locked) {
            if (!known(key)) {
                lockEverything(where + "непонятная строка закрепления, закреплены все ключи");
            } else if (eq != std::string::npos && value == "false") {
                continue;
            } else {
                if (eq != std::string::npos && value != "true") {
                    problems_.push_back(where + "непонятная строка закрепления, " + key + " закреплён");
                }
                locked_.insert(key);
            }
            continue;
        }
        if (eq == std::string::npos) {
            problems_.push_back(where + "строка без знака «=», пропущена");
        } else if (!known(key)) {
            problems_.push_back(where + "неизвестный ключ " + key + ", пропущен");
        } else if (!isValid(key, value)) {
            problems_.push_back(where + "недопустимое значение " + key + "=" + value + ", пропущено");
        } else if (!this->value(key)) {
            values_.emplace_back(key, value);
        }
    }
}

std::optional<std::string> Policy::value(const std::string& key) const {
    const auto found =
        std::find_if(values_.begin(), values_.end(), [&](const auto& entry) { return entry.first == key; });
    return found != values_.end() ? std::optional(found->second) : std::nullopt;
}

bool Policy::isLocked(const std::string& key) const {
    return lockedAll_ ? known(key) : locked_.count(key) != 0;
}

std::optional<unsigned> Policy::longestPauseSeconds() const {
    const std::optional<std::string> seconds = value(longestPauseKey);
    return seconds ? std::optional(static_cast<unsigned>(std::stoul(*seconds))) : std::nullopt;
}

bool Policy::markedFacesAllowed() const {
    return value(markedFacesKey).value_or("true") == "true";
}

std::string Policy::statusLine() const {
    if (problems_.empty()) {
        return {};
    }
    return lockedAll_ ? "Системные настройки повреждены: всё закреплено" : "Системные настройки: часть пропущена";
}

}  // namespace tovak::system
