#include "monitor/IgnoredFaces.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace tovak::monitor::ignored_faces {

namespace {

// Boxes come out of floating-point arithmetic; a pair exactly at a threshold must not fall on
// either side of it by rounding.
constexpr double kSlack = 1e-9;
// The settings keep four decimals; no number of a box that reaches into the frame is this far out.
constexpr double kScale = 1e4;
constexpr double kFarthest = 10.0;

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

bool matches(const imaging::Rect& face, const imaging::Rect& region) {
    const double faceArea = face.area();
    const double regionArea = region.area();
    if (faceArea <= 0 || regionArea <= 0) {
        return false;
    }
    if (std::max(faceArea, regionArea) > maxAreaFactor * std::min(faceArea, regionArea) * (1 + kSlack)) {
        return false;
    }
    const double w = std::min(face.maxX(), region.maxX()) - std::max(face.x, region.x);
    const double h = std::min(face.maxY(), region.maxY()) - std::max(face.y, region.y);
    if (w <= 0 || h <= 0) {
        return false;
    }
    const double intersection = w * h;
    const double unionArea = faceArea + regionArea - intersection;
    return intersection >= minOverlap * unionArea * (1 - kSlack);
}

bool matchesAny(const imaging::Rect& face, const std::vector<imaging::Rect>& regions) {
    return std::any_of(regions.begin(), regions.end(),
                       [&face](const imaging::Rect& region) { return matches(face, region); });
}

std::optional<imaging::Rect> parseRegion(const std::string& text) {
    double values[4];
    std::size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t comma = text.find(',', start);
        if ((i < 3) != (comma != std::string::npos)) {
            return std::nullopt;
        }
        const std::string part = trimmed(text.substr(start, i < 3 ? comma - start : std::string::npos));
        // Not strtod: the numbers must read the same under a Russian locale, whose decimal mark is a comma.
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), values[i]);
        if (part.empty() || error != std::errc() || end != part.data() + part.size() || !std::isfinite(values[i]) ||
            std::abs(values[i]) > kFarthest) {
            return std::nullopt;
        }
        // As the settings keep it, so that a region read back is the region saved, and one that
        // would not survive being saved is refused now rather than lose every region later.
        values[i] = std::round(values[i] * kScale) / kScale;
        start = comma + 1;
    }
    const imaging::Rect region{values[0], values[1], values[2], values[3]};
    if (region.width <= 0 || region.height <= 0 || region.x >= 1 || region.y >= 1 || region.maxX() <= 0 ||
        region.maxY() <= 0) {
        return std::nullopt;
    }
    return region;
}

std::string format(const std::vector<imaging::Rect>& regions) {
    std::string text;
    for (const imaging::Rect& r : regions) {
        if (!text.empty()) {
            text += "; ";
        }
        const double values[4] = {r.x, r.y, r.width, r.height};
        for (int i = 0; i < 4; ++i) {
            char number[32];
            const auto result = std::to_chars(number, number + sizeof number, values[i], std::chars_format::fixed, 4);
            text.append(i == 0 ? "" : ",").append(number, result.ptr);
        }
    }
    return text;
}

std::optional<std::vector<imaging::Rect>> parse(const std::string& text) {
    std::vector<imaging::Rect> regions;
    if (trimmed(text).empty()) {
        return regions;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t semicolon = text.find(';', start);
        std::optional<imaging::Rect> region = parseRegion(text.substr(start, semicolon - start));
        if (!region) {
            return std::nullopt;
        }
        regions.push_back(*region);
        if (semicolon == std::string::npos) {
            return regions;
        }
        start = semicolon + 1;
    }
}

}  // namespace tovak::monitor::ignored_faces
