#include "facedetect/InputFormat.h"

#include <cstring>

namespace tovak::facedetect {

std::uint16_t toBf16(float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return static_cast<std::uint16_t>((bits + 0x7fffU + ((bits >> 16) & 1U)) >> 16);
}

void writeInput(InputFormat format, float value, void* out) {
    if (format == InputFormat::f32) {
        std::memcpy(out, &value, sizeof value);
    } else {
        const std::uint16_t bits = toBf16(value);
        std::memcpy(out, &bits, sizeof bits);
    }
}

}  // namespace tovak::facedetect
