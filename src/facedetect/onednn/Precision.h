#pragma once

namespace tovak::facedetect::onednn {

// The numbers the whole network computes in: f32, or bf16 throughout (the heads write f32).
enum class Precision { f32, bf16 };

[[nodiscard]] inline const char* precisionName(Precision precision) {
    return precision == Precision::f32 ? "f32" : "bf16";
}

}  // namespace tovak::facedetect::onednn
