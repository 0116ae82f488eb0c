#include "trigger/wlroots/SwayIpc.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace tovak::trigger {

using system::Json;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kMagic = "i3-ipc";
// For the whole exchange: a sway that dribbles its answer is as unanswering as a silent one.
constexpr auto kDeadline = std::chrono::seconds(2);
// sway's tree of a busy desktop is well under this; anything larger is not an answer to us.
constexpr std::uint32_t kMaxPayload = 64u << 20;

class Socket {
  public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    [[nodiscard]] int fd() const { return fd_; }

  private:
    int fd_;
};

bool waitFor(int fd, short events, Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{fd, events, 0};
    return left > 0 && ::poll(&p, 1, static_cast<int>(left)) == 1 && (p.revents & events) != 0;
}

bool writeAll(int fd, std::string_view data, Clock::time_point deadline) {
    while (!data.empty()) {
        if (!waitFor(fd, POLLOUT, deadline)) {
            return false;
        }
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool readAll(int fd, std::string& data, Clock::time_point deadline) {
    for (std::size_t done = 0; done < data.size();) {
        if (!waitFor(fd, POLLIN, deadline)) {
            return false;
        }
        const ssize_t n = ::recv(fd, data.data() + done, data.size() - done, 0);
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::optional<Json> SwayIpc::request(Message type, const std::string& payload) const {
    const Clock::time_point deadline = Clock::now() + kDeadline;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath_.empty() || socketPath_.size() >= sizeof(address.sun_path)) {
        return std::nullopt;
    }
    std::memcpy(address.sun_path, socketPath_.data(), socketPath_.size());
    Socket socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.fd() < 0) {
        return std::nullopt;
    }
    // A local socket connects at once or not at all.
    if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        return std::nullopt;
    }
    std::string header(headerSize, '\0');
    if (!writeAll(socket.fd(), encode(type, payload), deadline) || !readAll(socket.fd(), header, deadline)) {
        return std::nullopt;
    }
    const std::optional<std::uint32_t> length = answerLength(header, type);
    if (!length) {
        return std::nullopt;
    }
    std::string answer(*length, '\0');
    if (!readAll(socket.fd(), answer, deadline)) {
        return std::nullopt;
    }
    return Json::parse(answer);
}

std::string SwayIpc::encode(Message type, std::string_view payload) {
    const auto length = static_cast<std::uint32_t>(payload.size());
    const auto code = static_cast<std::uint32_t>(type);
    std::string bytes(kMagic);
    bytes.append(reinterpret_cast<const char*>(&length), 4).append(reinterpret_cast<const char*>(&code), 4);
    return bytes.append(payload);
}

std::optional<std::uint32_t> SwayIpc::answerLength(std::string_view header, Message type) {
    std::uint32_t length = 0;
    std::uint32_t code = 0;
    if (header.size() != headerSize || !header.starts_with(kMagic)) {
        return std::nullopt;
    }
    std::memcpy(&length, header.data() + kMagic.size(), 4);
    std::memcpy(&code, header.data() + kMagic.size() + 4, 4);
    if (code != static_cast<std::uint32_t>(type) || length > kMaxPayload) {
        return std::nullopt;
    }
    return length;
}

std::optional<Json> SwayIpc::decode(std::string_view bytes, Message type) {
    const std::optional<std::uint32_t> length = answerLength(bytes.substr(0, headerSize), type);
    if (!length || bytes.size() - headerSize != *length) {
        return std::nullopt;
    }
    return Json::parse(bytes.substr(headerSize));
}

std::string SwayIpc::exactCriterion(const std::string& text) {
    std::string out = "^";
    for (const char c : text) {
        if (std::strchr("\\^$.|?*+()[]{}", c) != nullptr && c != '\0') {
            out += '\\';
        }
        // A double quote would end the criterion in sway's command parser.
        out += c == '"' ? std::string("\\x22") : std::string(1, c);
    }
    return out + "$";
}

}  // namespace tovak::trigger
