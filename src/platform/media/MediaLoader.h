#pragma once

#include <string>

#include "platform/media/MediaModule.h"

namespace tovak::platform::media {

// The media module, loaded the first time it is asked for and kept for the life of the process;
// safe from any thread. None, with the file tried and dlerror() in error, when it cannot be
// loaded; the answer is the same on every later call.
[[nodiscard]] const MediaModule* loadMediaModule(std::string& error);

}  // namespace tovak::platform::media
