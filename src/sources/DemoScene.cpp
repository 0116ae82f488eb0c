#include "sources/DemoScene.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <numbers>
#include <opencv2/imgproc.hpp>

#include "imaging/Resample.h"
#include "sources/PhotoFile.h"

namespace tovak::sources {

namespace {

// The room behind the desk: the shelves of a garage, as a webcam at desk height sees them; pixels
// of the 741 x 500 photograph.
const cv::Rect kRoomView(290, 0, 440, 330);

// Sizes chosen so that the user's face is about 120 px wide, the onlooker's about 62 px (a person
// a step or two behind), and the stranger's, sitting where the user sat, about 140 px.
constexpr double kUserScale = 1.35;
constexpr double kOnlookerScale = 0.36;
constexpr double kStrangerScale = 0.8;

double wave(double t, double period, double amplitude, double phase = 0) {
    return amplitude * std::sin(2 * std::numbers::pi * t / period + phase);
}

bool during(double t, double from, double to) {
    return t >= from && t < to;
}

// A BGRA pixel read as one word, coverage in the top byte (the CPU is little-endian).
using Pixel [[gnu::may_alias]] = std::uint32_t;
static_assert(std::endian::native == std::endian::little);

// out = over + out x (255 - coverage) / 255 for each channel, over premultiplied; the frame stays
// opaque. Two channels at a time in the halves of a word and no branch: clear pixels leave the
// frame as it was and covering ones replace it.
inline void blendPixel(Pixel& out, Pixel over) {
    constexpr std::uint32_t lanes = 0x00ff00ffU;
    constexpr std::uint32_t half = 0x00800080U;
    const std::uint32_t clear = 255 - (over >> 24);
    std::uint32_t even = (out & lanes) * clear + half;
    std::uint32_t odd = ((out >> 8) & lanes) * clear + half;
    even = ((even + ((even >> 8) & lanes)) >> 8) & lanes;
    odd = (odd + ((odd >> 8) & lanes)) & ~lanes;
    // No channel of a premultiplied pixel exceeds its coverage, so no byte carries over.
    out = over + even + odd;
}

// Blocks of a fixed length, so that the compiler blends 16 pixels per AVX-512 instruction.
[[gnu::target_clones("avx512f", "avx2", "default")]] void blendOver(Pixel* __restrict out, const Pixel* __restrict over,
                                                                    std::size_t pixels) {
    constexpr std::size_t block = 16;
    std::size_t x = 0;
    for (; x + block <= pixels; x += block) {
        for (std::size_t i = 0; i < block; ++i) {
            blendPixel(out[x + i], over[x + i]);
        }
    }
    for (; x < pixels; ++x) {
        blendPixel(out[x], over[x]);
    }
}

}  // namespace

// Where a person is in a portrait: the outline of head and shoulders, the centre of the face, and
// the last row taken from the photograph; below it, down to extendedHeight, the body goes on as
// plain cloth, for a person standing whose body reaches below the photograph's edge.
struct DemoScene::Cut {
    std::vector<cv::Point> outline;
    cv::Point2d face;
    int lastCleanRow;
    int extendedHeight;
};

namespace {

const std::vector<cv::Point> kAstronautOutline{
    {158, 60},  {170, 32},  {200, 15},  {240, 12},  {275, 22},  {295, 45},  {302, 80},  {298, 110},
    {290, 128}, {276, 150}, {273, 164}, {287, 172}, {300, 190}, {306, 220}, {312, 250}, {345, 262},
    {358, 290}, {364, 511}, {30, 511},  {40, 330},  {50, 280},  {70, 250},  {108, 232}, {112, 200},
    {125, 175}, {150, 154}, {166, 150}, {180, 141}, {162, 130}, {152, 110}, {152, 90}};

std::vector<cv::Point> hopperOutline(int bottom) {
    return {{160, 95},     {168, 60},    {190, 38},  {230, 25},  {270, 22},  {310, 30},  {340, 45},
            {355, 70},     {368, 100},   {372, 135}, {365, 175}, {360, 220}, {352, 260}, {345, 295},
            {335, 320},    {380, 335},   {430, 350}, {470, 368}, {495, 395}, {505, 430}, {500, 620},
            {470, bottom}, {50, bottom}, {22, 620},  {20, 470},  {30, 410},  {60, 375},  {110, 350},
            {165, 325},    {170, 300},   {160, 255}, {152, 210}, {150, 170}, {155, 130}};
}

}  // namespace

std::unique_ptr<DemoScene> DemoScene::load(const std::string& photoDirectory, std::string& error) {
    const auto read = [&](const char* file, cv::Size least) {
        const std::string path = (std::filesystem::path(photoDirectory) / file).string();
        std::string reason;
        cv::Mat image = readPhotoFile(path, reason);
        if (!image.empty() && (image.cols < least.width || image.rows < least.height)) {
            reason = "smaller than the demo's own: " + path;
        }
        // The first missing photograph is the one named.
        if (!reason.empty() && error.empty()) {
            error = "demo photograph missing or unreadable: " + reason;
        }
        return image;
    };
    const cv::Mat astronaut = read("astronaut.png", cv::Size(512, 512));
    const cv::Mat hopper = read("grace_hopper.jpg", cv::Size(512, 600));
    const cv::Mat garage = read("motorcycle_left.png", cv::Size(741, 500));
    if (!error.empty()) {
        return nullptr;
    }
    std::unique_ptr<DemoScene> scene(new DemoScene());
    // The room is out of focus behind the sitter and a little darker towards the corners, as a
    // webcam's wide lens and small sensor show it.
    cv::Mat room;
    cv::resize(garage(kRoomView), room, cv::Size(width, height), 0, 0, cv::INTER_CUBIC);
    cv::GaussianBlur(room, room, cv::Size(0, 0), 2.2);
    room.convertTo(room, CV_32FC3);
    cv::Mat vignette(height, width, CV_32F);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double dx = (x - width / 2.0) / width;
            const double dy = (y - height / 2.0) / height;
            vignette.at<float>(y, x) = static_cast<float>(0.82 - 0.9 * (dx * dx + dy * dy));
        }
    }
    cv::Mat vignette3;
    cv::merge(std::vector<cv::Mat>{vignette, vignette, vignette}, vignette3);
    cv::multiply(room, vignette3, room);
    room.convertTo(room, CV_8UC3);
    cv::cvtColor(room, scene->room_, cv::COLOR_BGR2BGRA);

    const Cut user{kAstronautOutline, {228, 108}, 511, 512};
    // The onlooker stands, so the portrait goes on below its lower edge; the stranger sits.
    const Cut standing{hopperOutline(1199), {265, 235}, 559, 1200};
    const Cut sitting{hopperOutline(599), {265, 235}, 599, 600};
    scene->user_ = cutPerson(astronaut, user, kUserScale, 7);
    scene->onlooker_ = cutPerson(hopper, standing, kOnlookerScale, 2.5);
    scene->stranger_ = cutPerson(hopper, sitting, kStrangerScale, 5);
    return scene;
}

DemoScene::Sprite DemoScene::cutPerson(const cv::Mat& photo, const Cut& cut, double scale, double featherPixels) {
    cv::Mat portrait = photo.rowRange(0, cut.lastCleanRow + 1);
    cv::copyMakeBorder(portrait, portrait, 0, cut.extendedHeight - portrait.rows, 0, 0, cv::BORDER_REPLICATE);
    if (cut.extendedHeight > cut.lastCleanRow + 1) {
        // The continued body is cloth of the last row's mean colour, so that buttons and seams do
        // not streak down, shaded darker towards the sides as a body is.
        cv::Mat below = portrait.rowRange(cut.lastCleanRow + 1, cut.extendedHeight);
        below.setTo(cv::mean(photo.row(cut.lastCleanRow)));
        cv::Mat shade(1, below.cols, CV_32FC3);
        for (int x = 0; x < below.cols; ++x) {
            const double across = std::sin(std::numbers::pi * x / (below.cols - 1));
            shade.at<cv::Vec3f>(0, x) = cv::Vec3f::all(static_cast<float>(0.55 + 0.45 * across));
        }
        cv::Mat shaded;
        below.convertTo(shaded, CV_32FC3);
        cv::multiply(shaded, cv::repeat(shade, below.rows, 1), shaded);
        shaded.convertTo(below, CV_8UC3);
    }
    cv::Mat mask(portrait.size(), CV_8U, cv::Scalar(0));
    cv::fillPoly(mask, std::vector<std::vector<cv::Point>>{cut.outline}, cv::Scalar(255), cv::LINE_AA);
    Sprite sprite;
    cv::Mat bgr;
    cv::resize(portrait, bgr, cv::Size(), scale, scale, cv::INTER_AREA);
    // A webcam's softness and its warmer light; a person further back is a little out of focus.
    cv::GaussianBlur(bgr, bgr, cv::Size(0, 0), cut.extendedHeight > photo.rows ? 1.1 : 0.7);
    cv::multiply(bgr, cv::Scalar(0.9, 0.96, 1.0), bgr);
    cv::Mat alpha;
    cv::resize(mask, mask, bgr.size(), 0, 0, cv::INTER_AREA);
    // The feather falls inside the outline, so no background of the portrait shows around the
    // person and the edge has nothing hard for the detector to latch on.
    const int shrink = static_cast<int>(std::lround(featherPixels));
    cv::erode(mask, mask, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(2 * shrink + 1, 2 * shrink + 1)));
    mask.convertTo(alpha, CV_32F, 1.0 / 255);
    cv::GaussianBlur(alpha, alpha, cv::Size(0, 0), featherPixels / 2);
    // Only what the person covers, and a pixel around it, is kept: the rest is clear and would
    // only be resampled to be skipped.
    cv::Mat coverage;
    alpha.convertTo(coverage, CV_8U, 255);
    const cv::Rect kept =
        (cv::boundingRect(coverage) + cv::Size(2, 2) - cv::Point(1, 1)) & cv::Rect(cv::Point(), coverage.size());
    // Kept premultiplied, colour and coverage in one 8-bit picture, so that placing the person is
    // one resampling and one blend in whole numbers; no channel exceeds the coverage.
    std::vector<cv::Mat> channels;
    cv::split(bgr(kept), channels);
    for (cv::Mat& channel : channels) {
        cv::multiply(channel, coverage(kept), channel, 1.0 / 255);
    }
    channels.push_back(coverage(kept));
    cv::merge(channels, sprite.bgra);
    sprite.face = cut.face * scale - cv::Point2d(kept.tl());
    return sprite;
}

int DemoScene::frameCount() {
    return static_cast<int>(std::lround(sceneEnds * fps));
}

std::vector<DemoScene::Person> DemoScene::peopleAt(int frameIndex) {
    const double t = frameIndex / fps;
    std::vector<Person> people;
    if (t < userLeaves) {
        people.push_back(Person::user);
    }
    if (during(t, onlookerArrives, onlookerLeaves)) {
        people.push_back(Person::onlooker);
    }
    if (during(t, strangerArrives, sceneEnds)) {
        people.push_back(Person::stranger);
    }
    return people;
}

void DemoScene::paste(cv::Mat& frame, const Sprite& sprite, double faceX, double faceY, double factor) const {
    // Sizes in steps of 1/256: a slow sway changes the size every few frames instead of every frame,
    // and the resampled person is reused until it does.
    factor = std::round(factor * 256) / 256;
    const cv::Size size(static_cast<int>(std::lround(sprite.bgra.cols * factor)),
                        static_cast<int>(std::lround(sprite.bgra.rows * factor)));
    const cv::Rect placed(static_cast<int>(std::lround(faceX - sprite.face.x * factor)),
                          static_cast<int>(std::lround(faceY - sprite.face.y * factor)), size.width, size.height);
    const cv::Rect visible = placed & cv::Rect(0, 0, frame.cols, frame.rows);
    if (visible.empty()) {
        return;
    }
    // Only the rows in view are resampled, with a few to spare for the sway, and pixel centres are
    // mapped as a resize maps them.
    const cv::Range needed(visible.y - placed.y, visible.y - placed.y + visible.height);
    if (sprite.sized.size() != size || needed.start < sprite.rows.start || needed.end > sprite.rows.end) {
        constexpr int spare = 8;
        sprite.rows = cv::Range(std::max(0, needed.start - spare), std::min(size.height, needed.end + spare));
        sprite.sized.create(size, CV_8UC4);
        cv::Mat rows = sprite.sized.rowRange(sprite.rows);
        const double kx = static_cast<double>(size.width) / sprite.bgra.cols;
        const double ky = static_cast<double>(size.height) / sprite.bgra.rows;
        imaging::resampleBilinear(sprite.bgra, rows, kx, ky, 0.5 * kx - 0.5, 0.5 * ky - 0.5, sprite.rows.start);
    }
    const cv::Mat shown = sprite.sized(visible - placed.tl());
    for (int y = 0; y < visible.height; ++y) {
        blendOver(frame.ptr<Pixel>(visible.y + y) + visible.x, shown.ptr<Pixel>(y),
                  static_cast<std::size_t>(visible.width));
    }
}

imaging::PixelBufferPtr DemoScene::render(int frameIndex) const {
    const double t = frameIndex / fps;
    std::unique_ptr<imaging::PixelBuffer> buffer = pool_->take(room_.cols, room_.rows);
    cv::Mat& frame = buffer->mutableMat();
    room_.copyTo(frame);
    const std::vector<Person> people = peopleAt(frameIndex);
    // The onlooker stands behind, so it is drawn first.
    if (std::find(people.begin(), people.end(), Person::onlooker) != people.end()) {
        paste(frame, onlooker_, 505 + wave(t, 4.0, 10), 150 + wave(t, 3.1, 4), 1 + wave(t, 6.0, 0.05));
    }
    for (Person person : people) {
        if (person == Person::user) {
            paste(frame, user_, 300 + wave(t, 5.0, 8), 235 + wave(t, 3.3, 4), 1 + wave(t, 7.0, 0.03));
        } else if (person == Person::stranger) {
            // Sits down during the first half second, then settles.
            const double settle = std::min(1.0, (t - strangerArrives) / 0.5);
            paste(frame, stranger_, 330 + wave(t, 4.5, 7, 1.0), 300 - 30 * settle + wave(t, 3.7, 3),
                  1 + wave(t, 6.5, 0.03));
        }
    }
    return pool_->share(std::move(buffer));
}

std::optional<SourceFrame> DemoScene::next() {
    if (nextFrame_ >= frameCount()) {
        return std::nullopt;
    }
    const int index = nextFrame_++;
    return SourceFrame{render(index), index / fps};
}

}  // namespace tovak::sources
