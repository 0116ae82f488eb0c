// The faces the user marked as scenery: kept on the main queue and in the settings, copied to the
// session queue, which drops matching faces at intake.
#include <cassert>

#include "monitor/PrivacyMonitor.h"

namespace tovak::monitor {

void PrivacyMonitor::setIgnoredFaces(std::vector<imaging::Rect> regions) {
    assert(main_->isCurrent());
    if (ports_.settings) {
        const bool saved = regions.empty()
                               ? ports_.settings->remove(ignoredFacesKey)
                               : ports_.settings->setString(ignoredFacesKey, ignored_faces::format(regions));
        if (!saved) {
            publishStatus("Настройки не сохранились");
        }
    }
    handIgnoredFacesToSessionQueue(regions);
    ignoredFaces.set(std::move(regions));
}

void PrivacyMonitor::ignoreFace(const imaging::Rect& box) {
    std::vector<imaging::Rect> regions = ignoredFaces.get();
    regions.push_back(box);
    setIgnoredFaces(std::move(regions));
}

void PrivacyMonitor::handIgnoredFacesToSessionQueue(std::vector<imaging::Rect> regions) {
    sessionQueue_->async([weak = weak_from_this(), regions = std::move(regions)]() mutable {
        if (auto self = weak.lock()) {
            self->ignoredRegions_ = std::move(regions);
        }
    });
}

void PrivacyMonitor::loadIgnoredFaces() {
    onMain([](PrivacyMonitor& self) {
        const std::optional<std::string> stored =
            self.ports_.settings ? self.ports_.settings->string(ignoredFacesKey) : std::nullopt;
        if (!stored) {
            return;
        }
        std::optional<std::vector<imaging::Rect>> regions = ignored_faces::parse(*stored);
        if (!regions) {
            // Every face counts again; the text stays as it is until the user marks or forgets faces.
            self.publishStatus("Список незамечаемых лиц повреждён");
            return;
        }
        self.handIgnoredFacesToSessionQueue(*regions);
        self.ignoredFaces.set(std::move(*regions));
    });
}

}  // namespace tovak::monitor
