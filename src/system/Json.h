#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tovak::system {

// A JSON value: what sway's IPC answers and the journal's lines, read strictly (an unknown escape,
// a bad \u, a number that is not finite or text after the value make it no JSON at all).
class Json {
  public:
    enum class Kind { null, boolean, number, string, array, object };

    // None when the text is not one JSON value.
    static std::optional<Json> parse(std::string_view text);
    // text as a JSON string, quotes included: control characters escaped, UTF-8 passed through.
    [[nodiscard]] static std::string quote(std::string_view text);

    [[nodiscard]] Kind kind() const { return kind_; }
    [[nodiscard]] bool isTrue() const { return kind_ == Kind::boolean && flag_; }
    [[nodiscard]] double number() const { return number_; }
    [[nodiscard]] const std::string& text() const { return text_; }
    [[nodiscard]] const std::vector<Json>& items() const { return items_; }
    // The member of an object by name; a null value when absent.
    [[nodiscard]] const Json& operator[](std::string_view name) const;

  private:
    friend class JsonReader;
    Kind kind_ = Kind::null;
    bool flag_ = false;
    double number_ = 0;
    std::string text_;
    std::vector<Json> items_;
    std::vector<std::pair<std::string, Json>> members_;
};

}  // namespace tovak::system
