#include "audit/AuditTrail.h"

#include <sys/uio.h>
// The build's source paths mean nothing to whoever reads the trail.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <array>

namespace tovak::audit {

const AuditKindInfo& auditKindInfo(AuditKind kind) {
    static const std::array<AuditKindInfo, 13> kinds = {{
        {"started", "8bf61bd9c84e49168af245884786eee3", "Товак запущен", 6},
        {"ended", "ca6d7248cdff4522846b2bebd86a5970", "Товак завершён", 6},
        {"watching-started", "fa13a2195fa7497cb0360a011f221e8e", "Наблюдение начато", 6},
        {"watching-stopped", "1e432c0d3f6d4f20b09448614cc61620", "Наблюдение остановлено", 6},
        {"watching-paused", "837ee3a11efd4a13b6a483dc7383ee4e", "Наблюдение приостановлено", 6},
        {"watching-resumed", "006cbb7ed0cd4aefa84ef9aafec7420b", "Наблюдение возобновлено", 6},
        {"onlooker-started", "639abb092f344662b4d43f6fdcee320f", "Посторонний у экрана", 6},
        {"onlooker-ended", "a73261943afd40098409ebef1cc069e6", "Посторонний ушёл", 6},
        {"away-visit", "ef9974792990465384bb05236a34b2d0", "Кто-то у экрана в ваше отсутствие", 6},
        {"lock-requested", "3dacbd8840dd4492b504ebaad8622c07", "Запрошена блокировка экрана", 6},
        {"lock-confirmed", "2a839674d85345928378040afbf5849f", "Экран заблокирован", 6},
        {"lock-failed", "98e16b1706b84a86a4e7dded9d3db927", "Экран не заблокирован", 4},
        {"setting-changed", "e2e0384a4f274a9baa639dd98ab237c4", "Настройка изменена", 6},
    }};
    return kinds.at(static_cast<std::size_t>(kind));
}

AuditTrail::AuditTrail(const std::string& socketPath) {
    if (::access(socketPath.c_str(), W_OK) == 0) {
        thread_ = std::thread([this] { run(); });
    }
}

AuditTrail::~AuditTrail() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void AuditTrail::record(AuditKind kind, Fields fields) {
    if (!isOn()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        queue_.push_back({kind, std::move(fields)});
    }
    wake_.notify_one();
}

void AuditTrail::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;
        }
        const Entry entry = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        send(entry);
        lock.lock();
    }
}

void AuditTrail::send(const Entry& entry) {
    const AuditKindInfo& info = auditKindInfo(entry.kind);
    std::vector<std::string> lines = {std::string("MESSAGE_ID=") + info.messageId,
                                      std::string("MESSAGE=") + info.message,
                                      "PRIORITY=" + std::to_string(info.priority), "SYSLOG_IDENTIFIER=tovak",
                                      std::string("TOVAK_EVENT=") + info.event};
    for (const auto& [name, value] : entry.fields) {
        lines.push_back(name + "=" + value);
    }
    std::vector<iovec> parts;
    for (std::string& line : lines) {
        parts.push_back({line.data(), line.size()});
    }
    // A journal that went away meanwhile loses the record; nothing waits or retries on it.
    static_cast<void>(sd_journal_sendv(parts.data(), static_cast<int>(parts.size())));
}

}  // namespace tovak::audit
