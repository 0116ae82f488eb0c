// The administrator's policy files in temporary config folders, and the user's settings beneath it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

#include "support/TempDir.h"
#include "system/Policy.h"
#include "system/PolicySettingsStore.h"

namespace tovak::system {
namespace {

struct MapStore final : monitor::SettingsStore {
    std::map<std::string, std::string> values;
    std::optional<std::string> string(const std::string& key) const override {
        const auto it = values.find(key);
        return it == values.end() ? std::nullopt : std::optional(it->second);
    }
    bool setString(const std::string& key, const std::string& value) override { return values[key] = value, true; }
    bool remove(const std::string& key) override { return values.erase(key), true; }
};

struct Row {
    const char* name;
    const char* first;   // tovak/tovak.conf of the first folder ("" for none)
    const char* second;  // of the second folder
    const char* key;
    std::optional<std::string> seen;  // what the settings read with the user's own value "mine"
    bool locked;
    std::size_t problems;
};

TEST(Policy, DefaultsLocksAndDamagedFilesReadSafely) {
    const Row rows[] = {
        {"no file: the user's value", "", "", "tovak.camera", "mine", false, 0},
        {"a default yields to the user's value", "[General]\ntovak.camera=/dev/video2\n", "", "tovak.camera", "mine",
         false, 0},
        {"a lock wins over the user's value", "[General]\ntovak.camera=/dev/video2\n[Locked]\ntovak.camera\n", "",
         "tovak.camera", "/dev/video2", true, 0},
        {"the first folder wins per key", "[General]\ntovak.camera=/dev/video2\n",
         "[General]\ntovak.camera=/dev/video9\n[Locked]\ntovak.camera=true\n", "tovak.camera", "/dev/video2", true, 0},
        {"locked without a value: the built-in default", "[Locked]\ntovak.keepJournal\n", "", "tovak.keepJournal",
         std::nullopt, true, 0},
        {"locked off: lock on leave reads as off", "tovak.lockOnLeaveSeconds=off\n[Locked]\ntovak.lockOnLeaveSeconds\n",
         "", "tovak.lockOnLeaveSeconds", std::nullopt, true, 0},
        {"=false in [Locked] leaves the key free", "[Locked]\ntovak.camera=false\n", "", "tovak.camera", "mine", false,
         0},
        {"a value out of range is left out",
         "[General]\ntovak.longestPauseSeconds=86401\n[Locked]\n"
         "tovak.longestPauseSeconds\n",
         "", "tovak.longestPauseSeconds", std::nullopt, true, 1},
        {"an unknown key is left out", "[General]\ntovak.colour=red\ntovak.camera=/dev/video2\n", "", "tovak.camera",
         "mine", false, 1},
        {"a damaged lock line naming a key locks it", "[Locked]\ntovak.keepJournal=yes\n", "", "tovak.keepJournal",
         std::nullopt, true, 1},
        {"an unknown lock line locks every key", "[General]\ntovak.camera=/dev/video2\n[Locked]\ntovak.kepJournal\n",
         "", "tovak.camera", "/dev/video2", true, 1},
        {"a misspelt group locks every key", "[Lockd]\ntovak.camera\n", "", "tovak.camera", std::nullopt, true, 1},
        {"a line without = is left out", "[General]\ntovak.camera\n", "", "tovak.camera", "mine", false, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        testing::TempDir first("tovak-policy"), second("tovak-policy");
        if (*row.first)
            first.write("tovak/tovak.conf", row.first);
        if (*row.second)
            second.write("tovak/tovak.conf", row.second);
        auto policy =
            std::make_shared<const Policy>(Policy::read(first.path().string() + ":" + second.path().string()));
        auto user = std::make_shared<MapStore>();
        user->values[row.key] = "mine";
        PolicySettingsStore store(user, policy);
        EXPECT_EQ(store.string(row.key), row.seen);
        EXPECT_EQ(store.isLocked(row.key), row.locked);
        EXPECT_EQ(policy->problems().size(), row.problems);
        // The user's file cannot override a locked key: the write is refused and nothing changes.
        EXPECT_EQ(store.setString(row.key, "other"), !row.locked);
        EXPECT_EQ(store.remove(row.key), !row.locked);
        EXPECT_EQ(user->values.count(row.key), row.locked ? 1U : 0U);
    }
}

TEST(Policy, LimitsAndWhatIsSaidAboutDamage) {
    testing::TempDir folder("tovak-policy");
    folder.write("tovak/tovak.conf", "[General]\ntovak.longestPauseSeconds=900\ntovak.allowMarkedFaces=false\n");
    auto policy = std::make_shared<const Policy>(Policy::read(folder.path().string()));
    EXPECT_EQ(policy->longestPauseSeconds(), 900U);
    EXPECT_TRUE(policy->statusLine().empty());
    auto user = std::make_shared<MapStore>();
    user->values["tovak.ignoredFaces"] = "0.1,0.1,0.2,0.2";
    PolicySettingsStore store(user, policy);
    EXPECT_EQ(store.string("tovak.ignoredFaces"), std::nullopt);
    EXPECT_FALSE(store.setString("tovak.ignoredFaces", "0.1,0.1,0.2,0.2"));

    EXPECT_EQ(Policy::read("").longestPauseSeconds(), std::nullopt) << "/etc/xdg holds no policy here";
    folder.write("tovak/tovak.conf", "[Locked]\nnonsense\n");
    EXPECT_EQ(Policy::read(folder.path().string()).statusLine(), "Системные настройки повреждены: всё закреплено");
    // A policy file that cannot be read leaves the user's values standing, and says so.
    std::filesystem::remove(folder / "tovak/tovak.conf");
    std::filesystem::create_directory(folder / "tovak/tovak.conf");
    const Policy unreadable = Policy::read(folder.path().string());
    EXPECT_EQ(unreadable.statusLine(), "Системные настройки: часть пропущена");
    EXPECT_FALSE(unreadable.isLocked("tovak.camera"));
    ASSERT_EQ(unreadable.problems().size(), 1U);
    EXPECT_NE(unreadable.problems()[0].find("не читается"), std::string::npos) << unreadable.problems()[0];
}

}  // namespace
}  // namespace tovak::system
