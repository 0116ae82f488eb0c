#pragma once

namespace tovak::app {

// The pauses the window and the tray offer, in seconds.
inline constexpr double kShortPauseSeconds = 15 * 60;
inline constexpr double kLongPauseSeconds = 60 * 60;

}  // namespace tovak::app
