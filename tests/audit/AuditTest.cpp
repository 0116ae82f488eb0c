// The audit records read back field by field from the journal's native socket, bound where
// libsystemd sends them inside a private mount namespace of this test process. The kinds a demo
// replay gives are also read back from a real journald (AuditJournaldTest).
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>

#include "audit/AuditRecorder.h"
#include "audit/JournalFields.h"

namespace tovak::audit {
namespace {

constexpr const char* kSocket = "/run/systemd/journal/socket";

// A journal socket of the test's own at the system's path; -1 with why when it cannot be made.
int privateJournalSocket(std::string& why) {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) {
        why = std::string("a private mount namespace needs root: ") + std::strerror(errno);
        return -1;
    }
    ::mkdir("/run/systemd", 0755), ::mkdir("/run/systemd/journal", 0755);
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, kSocket);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        why = std::string("bind: ") + std::strerror(errno);
        return -1;
    }
    // Only so that a missing record fails instead of hanging.
    const timeval patience{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    return fd;
}

std::map<std::string, std::string> receive(int fd) {
    std::string datagram(65536, '\0');
    const ssize_t got = ::recv(fd, datagram.data(), datagram.size(), 0);
    datagram.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return parseFields(datagram);
}

struct ImmediateLocker final : monitor::ScreenLocker {
    bool succeeds = true;
    void lockNow(Completion completion) override {
        completion(succeeds, succeeds ? std::nullopt : std::optional<std::string>("Экран не заблокирован"));
    }
    [[nodiscard]] std::string lastLocker() const override { return "MATE"; }
};

TEST(AuditTrail, EveryKindArrivesWithItsMessageIdAndFieldsAndNothingElse) {
    EXPECT_FALSE(AuditTrail("/nonexistent/journal/socket").isOn()) << "no journal: nothing is written";
    std::string why;
    const int fd = privateJournalSocket(why);
    if (fd < 0) {
        GTEST_SKIP() << why;
    }
    auto trail = std::make_shared<AuditTrail>();
    ASSERT_TRUE(trail->isOn());
    auto locker = std::make_shared<ImmediateLocker>();
    monitor::Ports ports;
    ports.screenLock = locker;
    std::shared_ptr<AuditRecorder> recorder = AuditRecorder::create(trail);
    recorder->wire(ports);
    const auto lock = [&](bool succeeds) {
        locker->succeeds = succeeds;
        ports.screenLock->lockNow([](bool, std::optional<std::string>) {});
    };
    using Extra = std::map<std::string, std::string>;
    struct Row {
        const char* name;
        std::function<void()> act;  // empty: the record follows the previous row's act
        const char* event;
        const char* messageId;
        const char* priority;
        Extra extra;
    };
    const Row rows[] = {
        {"Tovak started", [] {}, "started", "8bf61bd9c84e49168af245884786eee3", "6", {}},
        {"gone after two raises",
         [&] { ports.observer->documentRaised(), ports.observer->documentRaised(), ports.observer->presenceEnded(); },
         "onlooker-ended",
         "a73261943afd40098409ebef1cc069e6",
         "6",
         {{"TOVAK_RAISES", "2"}}},
        {"paused by the user",
         [&] { ports.observer->cameraPaused(monitor::CameraPause::user); },
         "watching-paused",
         "837ee3a11efd4a13b6a483dc7383ee4e",
         "6",
         {{"TOVAK_PAUSED_BY", "user"}}},
        {"paused by the lock",
         [&] { ports.observer->cameraPaused(monitor::CameraPause::screenLocked); },
         "watching-paused",
         "837ee3a11efd4a13b6a483dc7383ee4e",
         "6",
         {{"TOVAK_PAUSED_BY", "lock"}}},
        {"paused by a program",
         [&] { ports.observer->cameraPaused(monitor::CameraPause::otherProgram); },
         "watching-paused",
         "837ee3a11efd4a13b6a483dc7383ee4e",
         "6",
         {{"TOVAK_PAUSED_BY", "program"}}},
        {"resumed",
         [&] { ports.observer->cameraResumed(); },
         "watching-resumed",
         "006cbb7ed0cd4aefa84ef9aafec7420b",
         "6",
         {}},
        {"a lock asked", [&] { lock(false); }, "lock-requested", "3dacbd8840dd4492b504ebaad8622c07", "6", {}},
        {"and failed",
         {},
         "lock-failed",
         "98e16b1706b84a86a4e7dded9d3db927",
         "4",
         {{"TOVAK_LOCKER", "MATE"}, {"TOVAK_REASON", "Экран не заблокирован"}}},
        {"a setting",
         [&] {
             trail->record(AuditKind::settingChanged, {{"TOVAK_SETTING", "tovak.keepJournal"}});
         },
         "setting-changed",
         "e2e0384a4f274a9baa639dd98ab237c4",
         "6",
         {{"TOVAK_SETTING", "tovak.keepJournal"}}},
        {"Tovak ended", [&] { ports = {}, recorder.reset(); }, "ended", "ca6d7248cdff4522846b2bebd86a5970", "6", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.act) {
            row.act();
        }
        Extra expected = row.extra;
        expected.insert({{"SYSLOG_IDENTIFIER", "tovak"},
                         {"TOVAK_EVENT", row.event},
                         {"MESSAGE_ID", row.messageId},
                         {"PRIORITY", row.priority}});
        std::map<std::string, std::string> fields = receive(fd);
        EXPECT_FALSE(fields["MESSAGE"].empty());
        fields.erase("MESSAGE");
        EXPECT_EQ(fields, expected);
    }
    ::close(fd);
}

}  // namespace
}  // namespace tovak::audit
