#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tovak::monitor {

// The user's persisted settings (string values by key).
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    [[nodiscard]] virtual std::optional<std::string> string(const std::string& key) const = 0;
    // Both false when the change could not be made lasting (the store cannot be written).
    virtual bool setString(const std::string& key, const std::string& value) = 0;
    virtual bool remove(const std::string& key) = 0;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    [[nodiscard]] virtual bool fileExists(const std::string& path) const = 0;
};

// Where the application's own resources live.
class Resources {
  public:
    virtual ~Resources() = default;
    // The path of the named resource, or none when it is missing.
    [[nodiscard]] virtual std::optional<std::string> pathForResource(const std::string& name,
                                                                     const std::string& extension) const = 0;
};

// Opens documents in their default application, bringing it to the front. Main thread.
class Workspace {
  public:
    using Outcome = std::function<void(bool opened)>;
    virtual ~Workspace() = default;
    // False when the document could not be handed to an application.
    virtual bool open(const std::string& path) = 0;
    // The same without waiting for the desktop's answer: returns at once and calls outcome once, on
    // the main thread, when the answer is known. Where handing over is immediate, open's answer.
    virtual void openThen(const std::string& path, Outcome outcome) { outcome(open(path)); }
};

// Closes an open document without saving, wherever it can be reached; never starts an application.
// Runs on a background queue and may block; errors are ignored.
class DocumentCloser {
  public:
    virtual ~DocumentCloser() = default;
    virtual void closeDocument(const std::string& standardizedPath) = 0;
};

// The non-modal file chooser: the answer arrives once on the main thread, none when cancelled.
class FileChooser {
  public:
    virtual ~FileChooser() = default;
    virtual void chooseTriggerFile(std::function<void(std::optional<std::string> path)> completion) = 0;
};

// Locks the login session. Returns at once; works on the main thread and calls the completion
// exactly once there, with a message exactly when it failed.
class ScreenLocker {
  public:
    using Completion = std::function<void(bool success, std::optional<std::string> message)>;
    virtual ~ScreenLocker() = default;
    virtual void lockNow(Completion completion) = 0;
    // Who answered the last lock, once its completion runs: the locker that locked, or those that
    // were asked and never confirmed, joined by ", "; empty when unknown. Main thread.
    [[nodiscard]] virtual std::string lastLocker() const { return {}; }
};

}  // namespace tovak::monitor
