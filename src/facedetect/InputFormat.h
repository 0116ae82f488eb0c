#pragma once

#include <cstddef>
#include <cstdint>

namespace tovak::facedetect {

// The type the network's input is written in: f32, or bf16 rounded to the nearest (to even on a
// tie).
enum class InputFormat { f32, bf16 };

[[nodiscard]] inline std::size_t bytesOf(InputFormat format) {
    return format == InputFormat::f32 ? 4 : 2;
}

// The bf16 nearest value, as its bits: the high half of the f32 rounded.
[[nodiscard]] std::uint16_t toBf16(float value);

// Writes value in format at out.
void writeInput(InputFormat format, float value, void* out);

}  // namespace tovak::facedetect
