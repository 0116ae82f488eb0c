#pragma once

namespace tovak::imaging {

// A real-valued rectangle. Normalised face boxes use it with the origin at the lower left.
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    [[nodiscard]] double area() const { return width * height; }
    [[nodiscard]] double maxX() const { return x + width; }
    [[nodiscard]] double maxY() const { return y + height; }
    bool operator==(const Rect&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

}  // namespace tovak::imaging
