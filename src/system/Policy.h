#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tovak::system {

// What the administrator decided for every user of the machine: tovak/tovak.conf in each folder of
// $XDG_CONFIG_DIRS (/etc/xdg when unset), read before the user's own file. Keys are the user's own
// setting names in a [General] group, the first folder that gives a key wins, and such a value is a
// default. A [Locked] group names, one per line, the keys the user cannot change; a lock in any
// folder counts.
//
// A file that cannot be read is left out, so the user's values stand. A value that is out of range
// or a key nobody knows is left out. A line of [Locked] that cannot be understood never unlocks:
// when it names a known key that key is locked, otherwise every key is, each at the administrator's
// value or else at what Tovak does untouched (no journal, no pictures, no pause limit).
class Policy {
  public:
    // Start at login, start watching at once: "true" or "false".
    static constexpr const char* startAtLoginKey = "tovak.startAtLogin";
    static constexpr const char* startWatchingKey = "tovak.startWatching";
    // The longest pause in seconds, 0 to 86400 (0: no pause at all). A limit rather than a default:
    // in force wherever it is set.
    static constexpr const char* longestPauseKey = "tovak.longestPauseSeconds";
    // Whether faces may be marked as scenery: "true" or "false"; false is in force wherever it is set.
    static constexpr const char* markedFacesKey = "tovak.allowMarkedFaces";

    // Reads the folders of a $XDG_CONFIG_DIRS value (colon-separated; /etc/xdg when empty).
    static Policy read(const std::string& configDirs);
    static Policy fromEnvironment();

    // Every key the file may hold.
    static const std::vector<std::string>& keys();

    // The administrator's value of a key, checked; none when the file gives none.
    [[nodiscard]] std::optional<std::string> value(const std::string& key) const;
    [[nodiscard]] bool isLocked(const std::string& key) const;
    // The longest pause allowed in seconds, none when there is no limit.
    [[nodiscard]] std::optional<unsigned> longestPauseSeconds() const;
    [[nodiscard]] bool markedFacesAllowed() const;

    // What was left out or locked for safety, one line each ("path:line: why"); empty when all read.
    [[nodiscard]] const std::vector<std::string>& problems() const { return problems_; }
    // The one status line for problems(), empty when there are none.
    [[nodiscard]] std::string statusLine() const;

  private:
    void readFile(const std::string& path);
    void lockEverything(const std::string& why);

    std::vector<std::pair<std::string, std::string>> values_;
    std::set<std::string> locked_;
    std::vector<std::string> problems_;
    bool lockedAll_ = false;
};

// The text a control locked by the administrator shows as its tooltip.
inline constexpr const char* kSetByAdministrator = "Задано администратором";

}  // namespace tovak::system
