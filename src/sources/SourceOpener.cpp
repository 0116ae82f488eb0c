#include "sources/SourceOpener.h"

#include "sources/DemoScene.h"
#include "sources/FileSource.h"
#include "sources/LoopingSource.h"
#include "system/DataDirectory.h"

namespace tovak::sources {

namespace {

std::unique_ptr<FrameSource> open(const std::string& name, std::string& error, std::ostream* notes) {
    if (name == "demo") {
        return DemoScene::load(system::dataFile("demo"), error);
    }
    return FileSource::open(name, error, notes);
}

}  // namespace

std::unique_ptr<FrameSource> openSource(const std::string& name, std::string& error, std::ostream& notes) {
    return open(name, error, &notes);
}

std::unique_ptr<FrameSource> openLoopingSource(const std::string& name, std::string& error, std::ostream& notes) {
    std::unique_ptr<FrameSource> first = open(name, error, &notes);
    if (!first) {
        return nullptr;
    }
    return std::make_unique<LoopingSource>(std::move(first), [name]() -> std::unique_ptr<FrameSource> {
        // Every round the same files: what was skipped has been told in the first.
        std::string reopenError;
        return open(name, reopenError, nullptr);
    });
}

}  // namespace tovak::sources
