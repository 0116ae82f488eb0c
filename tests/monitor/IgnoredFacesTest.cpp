// Faces marked as scenery: the match rule, the settings text, and their effect on every decision.
#include <gtest/gtest.h>

#include "support/MonitorHarness.h"

using namespace tovak;
using namespace tovak::testing;
using imaging::Rect;
namespace ignored = monitor::ignored_faces;

namespace {

const Rect kPoster{0.70, 0.60, 0.12, 0.16};

struct IgnoredFacesTest : ::testing::Test {
    MonitorHarness h;
};

}  // namespace

TEST(IgnoredFacesRule, MatchesOnOverlapAndAreaAtTheirEdges) {
    struct Row {
        const char* name;
        Rect face;
        bool matches;
    };
    const Rect region{0.2, 0.2, 0.4, 0.4};
    const Row rows[] = {
        {"the same box", region, true},
        {"shifted a quarter: overlap exactly 0.6", {0.3, 0.2, 0.4, 0.4}, true},
        {"shifted a little more: overlap under 0.6", {0.302, 0.2, 0.4, 0.4}, false},
        {"inside, 1.5 times smaller: overlap 0.667", {0.2, 0.25, 0.4, 0.4 / 1.5}, true},
        {"around it, 1.6 times larger: overlap 0.625", {0.2, 0.2, 0.4, 0.64}, false},
        {"inside, 1.6 times smaller", {0.2, 0.2, 0.4, 0.25}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ignored::matches(row.face, region), row.matches);
        EXPECT_EQ(ignored::matches(region, row.face), row.matches);
    }
}

TEST(IgnoredFacesText, RoundTripsAndRefusesDamagedText) {
    const std::string text = ignored::format({{0.7, 0.6, 0.12, 0.16}, {-0.05, 0.123456, 0.3, 0.25}});
    EXPECT_EQ(text, "0.7000,0.6000,0.1200,0.1600; -0.0500,0.1235,0.3000,0.2500");
    EXPECT_EQ(ignored::parse(text).value().at(1), (Rect{-0.05, 0.1235, 0.3, 0.25}));
    EXPECT_EQ(ignored::parse(" 0.1 , 0.2,0.3,0.4 ;0.5,0.5,0.1,0.1")->size(), 2u);
    for (const char* damaged :
         {"0.1,0.2,0.3", "0.1,0.2,0.3,0.4,0.5", "0,1;0,2;0,3;0,4", "0.1,0.2,0.3,0.4;", "a,b,c,d", "0.1,0.2,0,0.4",
          "0.1,0.2,-0.3,0.4", "nan,0.2,0.3,0.4", "1e999,0.2,0.3,0.4", "1.5,0.2,0.3,0.4", "0.1,-0.9,0.3,0.4",
          "0.1,,0.3,0.4", "0.1,0.2,0.00004,0.4", "0.99996,0.2,0.3,0.4", "0.1,0.2,0.3,10.1", "0.1,0.2,0.3,1e40"}) {
        SCOPED_TRACE(damaged);
        EXPECT_FALSE(ignored::parse(damaged));
    }
}

TEST_F(IgnoredFacesTest, IgnoredPosterNeverConfirmsWhileARealSecondFaceDoesOnItsThirdFrame) {
    h.start();
    h.monitor->ignoreFace(kPoster);
    const auto user = faceAt({0.2, 0.2, 0.3, 0.4});
    // The detector's box wobbles a little from frame to frame.
    for (int i = 0; i < 40; ++i) {
        h.frame({user, faceAt({kPoster.x + 0.01 * (i % 3), kPoster.y - 0.005 * (i % 2), 0.12, 0.16})});
    }
    EXPECT_EQ(h.pip->shows, 0);
    EXPECT_EQ(h.monitor->previewFaceRects.get().size(), 1u);

    const auto onlooker = faceAt({0.6, 0.1, 0.1, 0.14});
    h.frames(2, {user, faceAt(kPoster), onlooker});
    EXPECT_EQ(h.pip->shows, 0);
    h.frame({user, faceAt(kPoster), onlooker});
    EXPECT_EQ(h.pip->shows, 1);
    EXPECT_EQ(h.pip->updates().at(0).box, onlooker.boundingBox);
}

TEST_F(IgnoredFacesTest, WithOnlyAnIgnoredPosterInViewAwayComesAndNothingLocks) {
    h.start();
    h.monitor->setIgnoredFaces({kPoster});
    h.frames(102, {faceAt(kPoster)}, 0.1);
    EXPECT_TRUE(h.monitor->awayMode.get());
    h.frames(30, {faceAt(kPoster)}, 0.1);
    EXPECT_EQ(h.fullscreen->shows, 0);
    EXPECT_EQ(h.services->locks, 0);
}

TEST_F(IgnoredFacesTest, IgnoredFacesAreKeptAcrossLaunchesAndADamagedValueLeavesTheTriggerChoiceAlone) {
    const std::shared_ptr<FakeServices>& settings = h.services;
    h.monitor->setIgnoredFaces({kPoster, {0.1, 0.1, 0.2, 0.2}});
    EXPECT_EQ(settings->string("tovak.ignoredFaces"), "0.7000,0.6000,0.1200,0.1600; 0.1000,0.1000,0.2000,0.2000");
    MonitorHarness second([&](monitor::Ports& deps) { deps.settings = settings; });
    EXPECT_EQ(second.monitor->ignoredFaces.get().size(), 2u);
    second.monitor->setIgnoredFaces({});
    EXPECT_FALSE(settings->string("tovak.ignoredFaces"));

    settings->setString("tovak.ignoredFaces", "0.7,0.6;garbage");
    settings->setString("ruzered.triggerFilePath", "/home/user/decoy.xlsx");
    MonitorHarness third([&](monitor::Ports& deps) {
        deps.settings = settings;
        std::static_pointer_cast<FakeServices>(deps.fileSystem)->addFile("/home/user/decoy.xlsx");
    });
    EXPECT_EQ(third.monitor->statusLine.get(), "Список незамечаемых лиц повреждён");
    EXPECT_EQ(third.monitor->triggerFileSummary.get(), "decoy.xlsx");
    EXPECT_EQ(settings->string("tovak.ignoredFaces"), "0.7,0.6;garbage");
    third.start();
    third.frames(3, {faceAt({0.2, 0.2, 0.3, 0.4}), faceAt(kPoster)});
    EXPECT_TRUE(third.pip->visible);
}
