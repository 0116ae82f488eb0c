#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tovak::trigger {

// A JSON value as sway's IPC answers: enough to read its outputs and its window tree.
class Json {
  public:
    enum class Kind { null, boolean, number, string, array, object };

    // None when the text is not one JSON value.
    static std::optional<Json> parse(std::string_view text);

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

}  // namespace tovak::trigger
