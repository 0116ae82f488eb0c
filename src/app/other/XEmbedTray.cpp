#include "app/XEmbedTray.h"

namespace tovak::app {

// There is no X server here.
std::unique_ptr<XEmbedTray> XEmbedTray::watch(std::function<void()>) {
    return nullptr;
}

}  // namespace tovak::app
