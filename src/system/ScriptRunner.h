#pragma once

#include <string>

namespace tovak::system {

// Runs an automation script to completion. True when it ran without an error; its result is not
// used.
class ScriptRunner {
  public:
    virtual ~ScriptRunner() = default;
    // False where the system has no scripting service: every script would fail.
    [[nodiscard]] virtual bool isAvailable() const { return true; }
    virtual bool run(const std::string& source) = 0;
};

// The script given to osascript as one argument after -e, so no shell ever parses it.
class OsascriptRunner final : public ScriptRunner {
  public:
    static constexpr const char* defaultToolPath = "/usr/bin/osascript";
    // A consent prompt may hold a script for a while; past this it counts as failed.
    static constexpr double defaultTimeoutSeconds = 120.0;

    explicit OsascriptRunner(std::string toolPath = defaultToolPath, double timeoutSeconds = defaultTimeoutSeconds)
        : toolPath_(std::move(toolPath)), timeoutSeconds_(timeoutSeconds) {}
    bool run(const std::string& source) override;

  private:
    std::string toolPath_;
    double timeoutSeconds_;
};

// Where the system has no scripting service: every script fails, and says so.
class UnavailableScriptRunner final : public ScriptRunner {
  public:
    [[nodiscard]] bool isAvailable() const override { return false; }
    bool run(const std::string&) override { return false; }
};

}  // namespace tovak::system
