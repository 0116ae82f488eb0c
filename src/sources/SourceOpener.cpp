#include "sources/SourceOpener.h"

#include "sources/DemoScene.h"
#include "sources/FileSource.h"
#include "sources/LoopingSource.h"
#include "system/DataDirectory.h"

namespace tovak::sources {

std::unique_ptr<FrameSource> openSource(const std::string& name, std::string& error) {
    if (name == "demo") {
        return DemoScene::load(system::dataFile("demo"), error);
    }
    return FileSource::open(name, error);
}

std::unique_ptr<FrameSource> openLoopingSource(const std::string& name, std::string& error) {
    std::unique_ptr<FrameSource> first = openSource(name, error);
    if (!first) {
        return nullptr;
    }
    return std::make_unique<LoopingSource>(std::move(first), [name]() -> std::unique_ptr<FrameSource> {
        std::string reopenError;
        return openSource(name, reopenError);
    });
}

}  // namespace tovak::sources
