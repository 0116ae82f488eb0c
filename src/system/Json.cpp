#include "system/Json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tovak::system {

// Recursive descent over the text; nesting is bounded so a hostile answer cannot exhaust the stack.
class JsonReader {
  public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    std::optional<Json> document() {
        std::optional<Json> value = read(0);
        skipSpace();
        if (!value || at_ != text_.size()) {
            return std::nullopt;
        }
        return value;
    }

  private:
    static constexpr int kMaxDepth = 64;

    void skipSpace() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t')) {
            ++at_;
        }
    }
    bool take(char c) {
        skipSpace();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool word(std::string_view w) {
        if (text_.substr(at_, w.size()) != w) {
            return false;
        }
        at_ += w.size();
        return true;
    }

    std::optional<std::string> string() {
        if (!take('"')) {
            return std::nullopt;
        }
        std::string out;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') {
                return out;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) {
                return std::nullopt;
            }
            const char e = text_[at_++];
            switch (e) {
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
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'u': {
                    if (at_ + 4 > text_.size()) {
                        return std::nullopt;
                    }
                    const std::string hex(text_.substr(at_, 4));
                    char* end = nullptr;
                    const unsigned long code = std::strtoul(hex.c_str(), &end, 16);
                    if (end != hex.c_str() + 4) {
                        return std::nullopt;
                    }
                    at_ += 4;
                    // A surrogate half stands for a character this reader does not put together.
                    appendUtf8(out, code >= 0xD800 && code <= 0xDFFF ? 0xFFFD : code);
                    break;
                }
                default:
                    return std::nullopt;
            }
        }
        return std::nullopt;
    }

    static void appendUtf8(std::string& out, unsigned long code) {
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

    std::optional<Json> read(int depth) {
        if (depth > kMaxDepth) {
            return std::nullopt;
        }
        skipSpace();
        if (at_ >= text_.size()) {
            return std::nullopt;
        }
        Json value;
        const char c = text_[at_];
        if (c == '"') {
            std::optional<std::string> s = string();
            if (!s) {
                return std::nullopt;
            }
            value.kind_ = Json::Kind::string;
            value.text_ = std::move(*s);
        } else if (c == '{') {
            ++at_;
            value.kind_ = Json::Kind::object;
            if (take('}')) {
                return value;
            }
            do {
                std::optional<std::string> name = string();
                std::optional<Json> member;
                if (!name || !take(':') || !(member = read(depth + 1))) {
                    return std::nullopt;
                }
                value.members_.emplace_back(std::move(*name), std::move(*member));
            } while (take(','));
            if (!take('}')) {
                return std::nullopt;
            }
        } else if (c == '[') {
            ++at_;
            value.kind_ = Json::Kind::array;
            if (take(']')) {
                return value;
            }
            do {
                std::optional<Json> item = read(depth + 1);
                if (!item) {
                    return std::nullopt;
                }
                value.items_.push_back(std::move(*item));
            } while (take(','));
            if (!take(']')) {
                return std::nullopt;
            }
        } else if (word("true")) {
            value.kind_ = Json::Kind::boolean;
            value.flag_ = true;
        } else if (word("false")) {
            value.kind_ = Json::Kind::boolean;
        } else if (word("null")) {
            value.kind_ = Json::Kind::null;
        } else {
            const std::size_t begin = at_;
            while (at_ < text_.size() &&
                   std::string_view("+-.0123456789eE").find(text_[at_]) != std::string_view::npos) {
                ++at_;
            }
            const std::string digits(text_.substr(begin, at_ - begin));
            char* end = nullptr;
            value.number_ = std::strtod(digits.c_str(), &end);
            if (digits.empty() || end != digits.c_str() + digits.size() || !std::isfinite(value.number_)) {
                return std::nullopt;
            }
            value.kind_ = Json::Kind::number;
        }
        return value;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

std::optional<Json> Json::parse(std::string_view text) {
    return JsonReader(text).document();
}

std::string Json::quote(std::string_view text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
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

const Json& Json::operator[](std::string_view name) const {
    static const Json absent;
    for (const auto& [key, value] : members_) {
        if (key == name) {
            return value;
        }
    }
    return absent;
}

}  // namespace tovak::system
