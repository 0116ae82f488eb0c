#include "trigger/wlroots/SwayIpc.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cstring>

namespace tovak::trigger {

using system::Json;

namespace {

constexpr std::string_view kMagic = "i3-ipc";
constexpr int kTimeoutMilliseconds = 2000;
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

bool waitFor(int fd, short events) {
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, kTimeoutMilliseconds) == 1 && (p.revents & events) != 0;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        if (!waitFor(fd, POLLOUT)) {
            return false;
        }
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool readAll(int fd, char* data, std::size_t size) {
    while (size > 0) {
        if (!waitFor(fd, POLLIN)) {
            return false;
        }
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::optional<Json> SwayIpc::request(Message type, const std::string& payload) const {
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
    std::array<char, kMagic.size() + 8> header{};
    const auto length = static_cast<std::uint32_t>(payload.size());
    const auto code = static_cast<std::uint32_t>(type);
    std::memcpy(header.data(), kMagic.data(), kMagic.size());
    std::memcpy(header.data() + kMagic.size(), &length, 4);
    std::memcpy(header.data() + kMagic.size() + 4, &code, 4);
    if (!writeAll(socket.fd(), header.data(), header.size()) ||
        !writeAll(socket.fd(), payload.data(), payload.size()) || !readAll(socket.fd(), header.data(), header.size())) {
        return std::nullopt;
    }
    std::uint32_t answerLength = 0;
    std::uint32_t answerType = 0;
    std::memcpy(&answerLength, header.data() + kMagic.size(), 4);
    std::memcpy(&answerType, header.data() + kMagic.size() + 4, 4);
    if (std::string_view(header.data(), kMagic.size()) != kMagic || answerType != code || answerLength > kMaxPayload) {
        return std::nullopt;
    }
    std::string answer(answerLength, '\0');
    if (!readAll(socket.fd(), answer.data(), answer.size())) {
        return std::nullopt;
    }
    return Json::parse(answer);
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
