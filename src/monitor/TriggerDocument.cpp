#include "monitor/TriggerDocument.h"

#include <filesystem>
#include <utility>

#include "monitor/StandardizePath.h"

namespace tovak::monitor {

TriggerDocument::TriggerDocument(std::shared_ptr<SettingsStore> settings, std::shared_ptr<FileSystem> fileSystem,
                                 std::shared_ptr<Resources> resources, std::shared_ptr<Workspace> workspace,
                                 std::shared_ptr<DocumentCloser> closer, std::shared_ptr<FileChooser> chooser,
                                 std::shared_ptr<runtime::TaskQueue> backgroundQueue, std::string homeDirectory)
    : settings_(std::move(settings)),
      fileSystem_(std::move(fileSystem)),
      resources_(std::move(resources)),
      workspace_(std::move(workspace)),
      closer_(std::move(closer)),
      chooser_(std::move(chooser)),
      background_(std::move(backgroundQueue)),
      homeDirectory_(std::move(homeDirectory)) {}

std::optional<std::string> TriggerDocument::storedPath() const {
    if (!settings_ || !fileSystem_) {
        return std::nullopt;
    }
    std::optional<std::string> stored = settings_->string(customPathKey);
    if (stored && !stored->empty() && fileSystem_->fileExists(*stored)) {
        return stored;
    }
    return std::nullopt;
}

std::optional<std::string> TriggerDocument::defaultPath() const {
    if (!resources_) {
        return std::nullopt;
    }
    return resources_->pathForResource("DefaultTrigger", "csv");
}

std::optional<std::string> TriggerDocument::resolvedPath() const {
    if (std::optional<std::string> stored = storedPath()) {
        return stored;
    }
    return defaultPath();
}

std::string TriggerDocument::summary() const {
    if (std::optional<std::string> stored = storedPath()) {
        return std::filesystem::path(*stored).filename().string();
    }
    return defaultPath() ? "По умолчанию" : "Нет файла";
}

void TriggerDocument::pick(std::function<void(bool saved)> chosen) {
    if (!chooser_) {
        return;
    }
    // The chooser outlives no monitor: it is one of its ports.
    chooser_->chooseTriggerFile([settings = settings_, chosen = std::move(chosen)](std::optional<std::string> path) {
        if (!path || path->empty()) {
            return;
        }
        chosen(!settings || settings->setString(customPathKey, *path));
    });
}

bool TriggerDocument::clearChoice() {
    return !settings_ || settings_->remove(customPathKey);
}

bool TriggerDocument::open(const std::string& path) const {
    return workspace_ && workspace_->open(path);
}

void TriggerDocument::close() const {
    std::optional<std::string> path = resolvedPath();
    if (!path || !closer_ || !background_) {
        return;
    }
    background_->async([closer = closer_, standardized = standardizePath(*path, homeDirectory_)] {
        closer->closeDocument(standardized);
    });
}

}  // namespace tovak::monitor
