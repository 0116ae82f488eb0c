#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "monitor/ports/Services.h"
#include "runtime/TaskQueue.h"

namespace tovak::monitor {

// The decoy document: the user's chosen file while it exists, else the default document among the
// program's resources. It says which file that is, remembers the user's choice, opens the document
// and closes it. It posts nothing itself except the closing, which may block and so runs on the
// background queue; the monitor decides on which queue each call is made.
class TriggerDocument {
  public:
    static constexpr const char* customPathKey = "ruzered.triggerFilePath";

    TriggerDocument(std::shared_ptr<SettingsStore> settings, std::shared_ptr<FileSystem> fileSystem,
                    std::shared_ptr<Resources> resources, std::shared_ptr<Workspace> workspace,
                    std::shared_ptr<DocumentCloser> closer, std::shared_ptr<FileChooser> chooser,
                    std::shared_ptr<runtime::TaskQueue> backgroundQueue, std::string homeDirectory);

    // The document to use now; none when neither the user's file nor the default exists.
    [[nodiscard]] std::optional<std::string> resolvedPath() const;
    [[nodiscard]] std::optional<std::string> defaultPath() const;
    // What the window shows: the chosen file's name, "По умолчанию" or "Нет файла".
    [[nodiscard]] std::string summary() const;

    // Asks the user for a file; a chosen one is stored and reported once, on the main thread.
    // saved is false when the choice could not be made lasting (it still counts for this run).
    void pick(std::function<void(bool saved)> chosen);
    // Back to the default document; false when the store could not be written.
    bool clearChoice();

    // Hands the document to the workspace; false when it could not be. Main thread.
    [[nodiscard]] bool open(const std::string& path) const;
    // Closes the document now in use wherever it is open, on the background queue.
    void close() const;

  private:
    [[nodiscard]] std::optional<std::string> storedPath() const;

    std::shared_ptr<SettingsStore> settings_;
    std::shared_ptr<FileSystem> fileSystem_;
    std::shared_ptr<Resources> resources_;
    std::shared_ptr<Workspace> workspace_;
    std::shared_ptr<DocumentCloser> closer_;
    std::shared_ptr<FileChooser> chooser_;
    std::shared_ptr<runtime::TaskQueue> background_;
    std::string homeDirectory_;
};

}  // namespace tovak::monitor
