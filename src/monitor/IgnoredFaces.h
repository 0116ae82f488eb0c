#pragma once

#include <optional>
#include <string>
#include <vector>

#include "imaging/Geometry.h"

namespace tovak::monitor {

// Faces the user marked as scenery (a poster, a photograph, a screen behind the desk): regions in
// the analysed (upright) frame's normalised coordinates, origin at the lower left, as face boxes are.
namespace ignored_faces {

// A face is the marked one when the boxes overlap by at least this much (intersection over
// union) and neither area exceeds the other by more than this factor.
inline constexpr double minOverlap = 0.6;
inline constexpr double maxAreaFactor = 1.5;

[[nodiscard]] bool matches(const imaging::Rect& face, const imaging::Rect& region);
[[nodiscard]] bool matchesAny(const imaging::Rect& face, const std::vector<imaging::Rect>& regions);

// One region as "X,Y,W,H", rounded to four decimals; none unless it is four numbers within 10 of
// the frame, W and H above 0 and the box reaching into the frame once rounded.
[[nodiscard]] std::optional<imaging::Rect> parseRegion(const std::string& text);
// The settings text: regions as "X,Y,W,H" joined by "; ", four decimals each. Empty for none.
[[nodiscard]] std::string format(const std::vector<imaging::Rect>& regions);
// None when any region in the text is damaged; an empty or blank text is an empty list.
[[nodiscard]] std::optional<std::vector<imaging::Rect>> parse(const std::string& text);

}  // namespace ignored_faces
}  // namespace tovak::monitor
