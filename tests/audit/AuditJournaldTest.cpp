// The audit trail as a real systemd-journald keeps it: a replay of the demo scene with --audit.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "audit/JournalFields.h"

namespace tovak::audit {
namespace {

// The demo scene replayed with --audit against a real systemd-journald of the test's own, in a
// private mount namespace, then read back with journalctl: the onlooker, the visit and the lock.
TEST(AuditTrail, AReplayWithAuditIsReadBackFromARealJournald) {
    if (::geteuid() != 0 || ::access("/lib/systemd/systemd-journald", X_OK) != 0 ||
        ::system("command -v journalctl unshare >/dev/null") != 0) {
        GTEST_SKIP() << "a journald of the test's own needs root, systemd-journald, journalctl and unshare";
    }
    const std::string script =
        "set -e; mount --make-rprivate /; mount -t tmpfs tmpfs /run; mount -t tmpfs tmpfs /var/log/journal; "
        "mkdir -p /run/systemd/journal; /lib/systemd/systemd-journald >/dev/null 2>&1 & J=\\$!; trap 'kill \\$J' EXIT; "
        "while [ ! -S /run/systemd/journal/io.systemd.journal ]; do sleep 0.1; done; "
        "'" TOVAK_BINARY
        "' --camera demo --headless --audit --lock dry-run --max-seconds 70 >/dev/null; "
        "journalctl --sync; journalctl -t tovak -o export";
    FILE* pipe = ::popen(("unshare -m sh -c \"" + script + "\"").c_str(), "r");
    std::string exported;
    for (char buffer[4096]; pipe != nullptr && ::fgets(buffer, sizeof buffer, pipe) != nullptr;) {
        exported += buffer;
    }
    ASSERT_EQ(pipe != nullptr ? ::pclose(pipe) : -1, 0);
    std::vector<std::map<std::string, std::string>> records;
    for (std::size_t at = 0, end = 0; at < exported.size(); at = end + 2) {
        end = std::min(exported.find("\n\n", at), exported.size());
        auto fields = parseFields(exported.substr(at, end - at + 1));
        // The journal's own fields start with "_"; the text is the kind's, checked on the socket.
        std::erase_if(fields, [](const auto& field) { return field.first[0] == '_' || field.first == "MESSAGE"; });
        records.push_back(std::move(fields));
    }
    using Extra = std::map<std::string, std::string>;
    const struct Row {
        const char* event;
        const char* messageId;
        Extra extra;
    } rows[] = {
        {"started", "8bf61bd9c84e49168af245884786eee3", {}},
        {"watching-started", "fa13a2195fa7497cb0360a011f221e8e", {}},
        {"onlooker-started", "639abb092f344662b4d43f6fdcee320f", {}},
        {"onlooker-ended", "a73261943afd40098409ebef1cc069e6", {{"TOVAK_RAISES", "4"}}},
        {"away-visit", "ef9974792990465384bb05236a34b2d0", {}},
        {"lock-requested", "3dacbd8840dd4492b504ebaad8622c07", {}},
        {"lock-confirmed", "2a839674d85345928378040afbf5849f", {{"TOVAK_LOCKER", "dry-run"}}},
        {"watching-stopped", "1e432c0d3f6d4f20b09448614cc61620", {}},
        {"ended", "ca6d7248cdff4522846b2bebd86a5970", {}},
    };
    ASSERT_EQ(records.size(), std::size(rows)) << exported;
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(rows[i].event);
        Extra expected = rows[i].extra;
        expected.insert({{"SYSLOG_IDENTIFIER", "tovak"},
                         {"TOVAK_EVENT", rows[i].event},
                         {"MESSAGE_ID", rows[i].messageId},
                         {"PRIORITY", "6"}});
        EXPECT_EQ(records[i], expected);
    }
}

}  // namespace
}  // namespace tovak::audit
