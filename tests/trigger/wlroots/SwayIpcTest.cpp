// sway's IPC framing on byte buffers, and one request against a stand-in sway socket that answers at
// its own pace.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "support/TempDir.h"
#include "trigger/wlroots/SwayIpc.h"

namespace tovak::trigger {
namespace {

using Message = SwayIpc::Message;

std::string answer(std::uint32_t type, std::string_view payload, std::uint32_t length) {
    std::string bytes = "i3-ipc";
    bytes.append(reinterpret_cast<const char*>(&length), 4).append(reinterpret_cast<const char*>(&type), 4);
    return bytes.append(payload);
}

TEST(SwayIpcFraming, OnlyOneWholeAnswerOfTheAskedTypeReads) {
    EXPECT_EQ(SwayIpc::encode(Message::runCommand, "exit"), answer(0, "exit", 4));
    // Up to 64 MiB, read before a byte of it has come.
    EXPECT_EQ(SwayIpc::answerLength(answer(3, "", 64u << 20), Message::getOutputs), 64u << 20);
    EXPECT_EQ(SwayIpc::answerLength(answer(3, "", (64u << 20) + 1), Message::getOutputs), std::nullopt);
    const struct Row {
        const char* name;
        std::string bytes;
        bool reads;
    } rows[] = {
        {"an answer", answer(3, "[1]", 3), true},
        {"another type", answer(4, "[1]", 3), false},
        {"other magic", "i3-IPC" + answer(3, "[1]", 3).substr(6), false},
        {"cut short", answer(3, "[1", 3), false},
        {"a byte too many", answer(3, "[1] ", 3), false},
        {"a header alone", answer(3, "", 3), false},
        {"nothing", "", false},
        {"no JSON", answer(3, "[1}", 3), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(SwayIpc::decode(row.bytes, Message::getOutputs).has_value(), row.reads);
    }
}

TEST(SwayIpcRequest, AnAnswerNotWholeWithinTwoSecondsOfTheRequestIsNone) {
    const std::string reply = answer(3, R"([{"name": "HEADLESS-1"}])", 24);
    const struct Row {
        const char* name;
        std::size_t piece;
        int gapMilliseconds;
        bool answered;
    } rows[] = {
        {"at once", reply.size(), 0, true},
        {"in pieces, quickly", 5, 20, true},
        // Each byte well within 2 s of the last, the whole in about 7.
        {"a byte every 0.2 s", 1, 200, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        testing::TempDir folder("tovak-sway-ipc");
        sockaddr_un address{AF_UNIX, {}};
        std::strncpy(address.sun_path, (folder / "sway.sock").c_str(), sizeof(address.sun_path) - 1);
        const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ASSERT_EQ(::listen(listener, 1), 0);
        // A stand-in sway: takes the request's header, answers in pieces.
        std::thread sway([&] {
            const int client = ::accept(listener, nullptr, nullptr);
            std::string request(SwayIpc::headerSize, '\0');
            if (::recv(client, request.data(), request.size(), MSG_WAITALL) == SwayIpc::headerSize) {
                for (std::size_t at = 0; at < reply.size(); at += row.piece) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(row.gapMilliseconds));
                    if (::send(client, reply.data() + at, std::min(row.piece, reply.size() - at), MSG_NOSIGNAL) < 0) {
                        break;
                    }
                }
            }
            ::close(client);
        });
        const std::optional<Json> outputs = SwayIpc(folder / "sway.sock").request(Message::getOutputs);
        sway.join();
        ::close(listener);
        ASSERT_EQ(outputs.has_value(), row.answered);
        if (outputs) {
            EXPECT_EQ(outputs->items().at(0)["name"].text(), "HEADLESS-1");
        }
    }
}

}  // namespace
}  // namespace tovak::trigger
