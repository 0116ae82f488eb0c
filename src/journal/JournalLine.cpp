#include "journal/JournalLine.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <variant>

namespace tovak::journal {

namespace {

using monitor::CameraPause;

struct Kinds {
    IncidentKind kind;
    const char* name;
};
constexpr Kinds kKinds[] = {
    {IncidentKind::onlooker, "onlooker"}, {IncidentKind::visit, "visit"}, {IncidentKind::pause, "pause"}};

struct Reasons {
    CameraPause reason;
    const char* name;
};
constexpr Reasons kReasons[] = {{CameraPause::screenLocked, "screenLocked"},
                                {CameraPause::otherProgram, "otherProgram"},
                                {CameraPause::user, "user"},
                                {CameraPause::cameraLost, "cameraLost"}};

struct Locks {
    LockOutcome lock;
    const char* name;
};
// A lock still pending when the line is written got no answer before monitoring ended.
constexpr Locks kLocks[] = {{LockOutcome::notAsked, "none"},
                            {LockOutcome::pending, "unanswered"},
                            {LockOutcome::locked, "locked"},
                            {LockOutcome::failed, "failed"}};

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += ch;  // UTF-8 passes through as it is
        }
    }
    return out + "\"";
}

std::string number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// The values of one flat JSON object: text, numbers and true/false (null reads as absent).
using Value = std::variant<std::string, double, bool>;

class FlatObjectReader {
  public:
    explicit FlatObjectReader(std::string_view text) : text_(text) {}

    std::optional<std::map<std::string, Value>> read() {
        std::map<std::string, Value> fields;
        skipSpace();
        if (!take('{')) {
            return std::nullopt;
        }
        skipSpace();
        if (take('}')) {
            return finished(std::move(fields));
        }
        while (true) {
            skipSpace();
            std::optional<std::string> name = readString();
            skipSpace();
            if (!name || !take(':')) {
                return std::nullopt;
            }
            skipSpace();
            if (text_.substr(pos_, 4) == "null") {
                pos_ += 4;
            } else {
                std::optional<Value> value = readValue();
                if (!value) {
                    return std::nullopt;
                }
                fields[*name] = std::move(*value);
            }
            skipSpace();
            if (take('}')) {
                return finished(std::move(fields));
            }
            if (!take(',')) {
                return std::nullopt;
            }
        }
    }

  private:
    std::optional<std::map<std::string, Value>> finished(std::map<std::string, Value> fields) {
        skipSpace();
        return pos_ == text_.size() ? std::optional(std::move(fields)) : std::nullopt;
    }

    void skipSpace() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r')) {
            ++pos_;
        }
    }

    bool take(char ch) {
        if (pos_ < text_.size() && text_[pos_] == ch) {
            ++pos_;
            return true;
        }
        return false;
    }

    std::optional<Value> readValue() {
        if (pos_ >= text_.size()) {
            return std::nullopt;
        }
        if (text_[pos_] == '"') {
            std::optional<std::string> text = readString();
            return text ? std::optional<Value>(std::move(*text)) : std::nullopt;
        }
        if (text_.substr(pos_, 4) == "true") {
            pos_ += 4;
            return Value(true);
        }
        if (text_.substr(pos_, 5) == "false") {
            pos_ += 5;
            return Value(false);
        }
        const std::size_t begin = pos_;
        while (pos_ < text_.size() && std::string_view("+-.0123456789eE").find(text_[pos_]) != std::string_view::npos) {
            ++pos_;
        }
        const std::string digits(text_.substr(begin, pos_ - begin));
        char* end = nullptr;
        const double value = std::strtod(digits.c_str(), &end);
        if (digits.empty() || end != digits.c_str() + digits.size() || !std::isfinite(value)) {
            return std::nullopt;
        }
        return Value(value);
    }

    static void appendUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    std::optional<std::string> readString() {
        if (!take('"')) {
            return std::nullopt;
        }
        std::string out;
        while (pos_ < text_.size()) {
            const char ch = text_[pos_++];
            if (ch == '"') {
                return out;
            }
            if (ch != '\\') {
                out += ch;
                continue;
            }
            if (pos_ >= text_.size()) {
                return std::nullopt;
            }
            const char escaped = text_[pos_++];
            switch (escaped) {
                case '"':
                case '\\':
                case '/':
                    out += escaped;
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'u': {
                    if (pos_ + 4 > text_.size()) {
                        return std::nullopt;
                    }
                    const std::string hex(text_.substr(pos_, 4));
                    char* end = nullptr;
                    const unsigned long code = std::strtoul(hex.c_str(), &end, 16);
                    if (end != hex.c_str() + 4) {
                        return std::nullopt;
                    }
                    pos_ += 4;
                    // Messages are plain text: a surrogate half stands for a character it cannot show.
                    appendUtf8(out, code >= 0xD800 && code <= 0xDFFF ? 0xFFFD : static_cast<unsigned>(code));
                    break;
                }
                default:
                    return std::nullopt;
            }
        }
        return std::nullopt;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

template <typename T>
const T* field(const std::map<std::string, Value>& fields, const char* name) {
    const auto it = fields.find(name);
    return it == fields.end() ? nullptr : std::get_if<T>(&it->second);
}

}  // namespace

std::string JournalLine::encode(const Incident& incident) {
    std::string kind;
    for (const Kinds& row : kKinds) {
        if (row.kind == incident.kind) {
            kind = row.name;
        }
    }
    std::string line = "{\"kind\": " + quoted(kind);
    if (incident.kind == IncidentKind::pause) {
        for (const Reasons& row : kReasons) {
            if (row.reason == incident.reason) {
                line += ", \"reason\": " + quoted(row.name);
            }
        }
    }
    line += ", \"start\": " + number(incident.start) + ", \"end\": " + number(incident.end) +
            ", \"seconds\": " + number(incident.seconds());
    switch (incident.kind) {
        case IncidentKind::onlooker:
            line += ", \"raises\": " + std::to_string(incident.raises);
            break;
        case IncidentKind::visit:
            line += std::string(", \"closeup\": ") + (incident.closeup ? "true" : "false");
            for (const Locks& row : kLocks) {
                if (row.lock == incident.lock) {
                    line += ", \"lock\": " + quoted(row.name);
                }
            }
            if (incident.lock == LockOutcome::failed && !incident.lockText.empty()) {
                line += ", \"lockText\": " + quoted(incident.lockText);
            }
            if (!incident.picture.empty()) {
                line += ", \"picture\": " + quoted(incident.picture);
            }
            break;
        case IncidentKind::pause:
            break;
    }
    return line + "}";
}

std::optional<Incident> JournalLine::decode(std::string_view line) {
    const std::optional<std::map<std::string, Value>> fields = FlatObjectReader(line).read();
    if (!fields) {
        return std::nullopt;
    }
    const auto* kind = field<std::string>(*fields, "kind");
    const auto* start = field<double>(*fields, "start");
    const auto* end = field<double>(*fields, "end");
    if (kind == nullptr || start == nullptr || end == nullptr || *end < *start) {
        return std::nullopt;
    }
    Incident incident;
    incident.start = *start;
    incident.end = *end;
    bool known = false;
    for (const Kinds& row : kKinds) {
        if (*kind == row.name) {
            incident.kind = row.kind;
            known = true;
        }
    }
    if (!known) {
        return std::nullopt;
    }
    switch (incident.kind) {
        case IncidentKind::onlooker: {
            const auto* raises = field<double>(*fields, "raises");
            if (raises == nullptr || *raises < 0 || *raises > 1e9) {
                return std::nullopt;
            }
            incident.raises = static_cast<int>(*raises);
            return incident;
        }
        case IncidentKind::visit: {
            const auto* lock = field<std::string>(*fields, "lock");
            const auto* closeup = field<bool>(*fields, "closeup");
            if (lock == nullptr || closeup == nullptr) {
                return std::nullopt;
            }
            incident.closeup = *closeup;
            known = false;
            for (const Locks& row : kLocks) {
                if (*lock == row.name) {
                    incident.lock = row.lock;
                    known = true;
                }
            }
            if (const auto* text = field<std::string>(*fields, "lockText")) {
                incident.lockText = *text;
            }
            // Only a plain file name beside the journal: a path could point anywhere.
            if (const auto* picture = field<std::string>(*fields, "picture");
                picture != nullptr && picture->find('/') == std::string::npos && *picture != "." && *picture != "..") {
                incident.picture = *picture;
            }
            return known ? std::optional(incident) : std::nullopt;
        }
        case IncidentKind::pause: {
            const auto* reason = field<std::string>(*fields, "reason");
            if (reason == nullptr) {
                return std::nullopt;
            }
            for (const Reasons& row : kReasons) {
                if (*reason == row.name) {
                    incident.reason = row.reason;
                    return incident;
                }
            }
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace tovak::journal
