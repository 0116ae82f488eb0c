#pragma once

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovak::system {

// A JSON value read by nlohmann-json (sway's IPC answers, the journal's lines), seen through
// accessors that answer a missing member or another kind with an empty value instead of throwing.
// Strict as the library is: no "+1", "01", bad or lone \u escapes, invalid UTF-8, comments, numbers
// past double's range; besides, nesting deeper than 64 makes it no JSON at all. Cheap to copy: values
// share the document they came from.
class Json {
  public:
    enum class Kind { null, boolean, number, string, array, object };

    Json();
    // None when the text is not one JSON value.
    static std::optional<Json> parse(std::string_view text);
    // text as a JSON string, quotes included: control characters escaped, UTF-8 passed through and
    // bytes that are not UTF-8 replaced by U+FFFD.
    [[nodiscard]] static std::string quote(std::string_view text);

    [[nodiscard]] Kind kind() const;
    [[nodiscard]] bool isTrue() const;
    [[nodiscard]] double number() const;
    // The string's text; empty for another kind.
    [[nodiscard]] const std::string& text() const;
    // The array's items; none for another kind.
    [[nodiscard]] std::vector<Json> items() const;
    // The member of an object by name; a null value when absent.
    [[nodiscard]] Json operator[](std::string_view name) const;

  private:
    Json(std::shared_ptr<const nlohmann::json> document, const nlohmann::json* value);

    std::shared_ptr<const nlohmann::json> document_;
    // Within document_; null for an absent value.
    const nlohmann::json* value_ = nullptr;
};

}  // namespace tovak::system
