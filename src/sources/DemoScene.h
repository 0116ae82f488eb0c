#pragma once

#include <memory>
#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

#include "camera/FramePool.h"
#include "sources/FrameSource.h"

namespace tovak::sources {

// The demo camera: a scripted minute at a desk, seen by a webcam: people cut head and shoulders
// from real portraits, with soft edges, over a photograph of a room. The user sits alone; an onlooker appears behind
// the user's shoulder and later leaves; the user leaves; the room stays empty for more than ten seconds; a stranger
// sits down and stays. Every frame is a pure function of its index, so a replay is the same every time.
class DemoScene final : public FrameSource {
  public:
    static constexpr int width = 640;
    static constexpr int height = 480;
    static constexpr double fps = 30.0;

    // The timeline, in seconds from the first frame.
    static constexpr double onlookerArrives = 8.0;
    static constexpr double onlookerLeaves = 16.0;
    static constexpr double userLeaves = 22.0;
    static constexpr double strangerArrives = 36.0;
    static constexpr double sceneEnds = 46.0;

    // Who is in one frame.
    enum class Person { user, onlooker, stranger };

    // Loads the photographs from the folder (astronaut.png, grace_hopper.jpg, motorcycle_left.png);
    // none with the reason in error when one is missing or unreadable.
    static std::unique_ptr<DemoScene> load(const std::string& photoDirectory, std::string& error);

    [[nodiscard]] static int frameCount();
    // The people in frame i, largest face first.
    [[nodiscard]] static std::vector<Person> peopleAt(int frameIndex);
    [[nodiscard]] static std::size_t scriptedFaceCount(int frameIndex) { return peopleAt(frameIndex).size(); }

    // The picture of frame i as 32-bit BGRA.
    [[nodiscard]] imaging::PixelBufferPtr render(int frameIndex) const;

    std::optional<SourceFrame> next() override;
    [[nodiscard]] std::string name() const override { return "Демо-камера"; }
    [[nodiscard]] double framesPerSecond() const override { return fps; }

  private:
    // A person cut from a portrait at the size it is placed: colour premultiplied by a feathered
    // mask, the mask in the fourth channel, and the centre of the face in it.
    struct Sprite {
        cv::Mat bgra;
        cv::Point2d face;
        // The sprite at the size it was last drawn, resampled in the rows given, kept from frame to frame.
        mutable cv::Mat sized;
        mutable cv::Range rows;
    };
    struct Cut;
    static Sprite cutPerson(const cv::Mat& photo, const Cut& cut, double scale, double featherPixels);
    // Draws the sprite, grown or shrunk by the factor, with its face centre at (faceX, faceY).
    void paste(cv::Mat& frame, const Sprite& sprite, double faceX, double faceY, double factor) const;

    cv::Mat room_;  // BGRA, frame-sized
    // Frames come back here when the engine lets go, so a steady stream allocates no pixels.
    std::shared_ptr<camera::FramePool> pool_ = camera::FramePool::make();
    Sprite user_;
    Sprite onlooker_;
    Sprite stranger_;
    int nextFrame_ = 0;
};

}  // namespace tovak::sources
