#pragma once

#include <string>

#include "camera/media/MediaModule.h"

namespace tovak::camera::media {

// The media module, loaded the first time it is asked for and kept for the life of the process;
// safe from any thread. None, with the file tried and dlerror() in error, when it cannot be
// loaded; the answer is the same on every later call.
[[nodiscard]] const MediaModule* loadMediaModule(std::string& error);

}  // namespace tovak::camera::media
