#include "system/Json.h"

#include <nlohmann/json.hpp>

namespace tovak::system {

namespace {

// Deeper than any answer Tovak reads; the limit keeps a hostile one from costing much.
constexpr int kMaxDepth = 64;

}  // namespace

Json::Json() = default;

Json::Json(std::shared_ptr<const nlohmann::json> document, const nlohmann::json* value)
    : document_(std::move(document)), value_(value) {}

std::optional<Json> Json::parse(std::string_view text) {
    using Event = nlohmann::json::parse_event_t;
    bool refused = false;
    // The library itself refuses a number past double's range.
    const auto check = [&refused](int depth, Event event, const nlohmann::json&) {
        refused = refused || ((event == Event::object_start || event == Event::array_start) && depth > kMaxDepth);
        return !refused;
    };
    auto document = std::make_shared<nlohmann::json>(nlohmann::json::parse(text, check, false));
    if (refused || document->is_discarded()) {
        return std::nullopt;
    }
    const nlohmann::json* root = document.get();
    return Json(std::move(document), root);
}

std::string Json::quote(std::string_view text) {
    return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

Json::Kind Json::kind() const {
    if (value_ == nullptr) {
        return Kind::null;
    }
    switch (value_->type()) {
        case nlohmann::json::value_t::boolean:
            return Kind::boolean;
        case nlohmann::json::value_t::number_integer:
        case nlohmann::json::value_t::number_unsigned:
        case nlohmann::json::value_t::number_float:
            return Kind::number;
        case nlohmann::json::value_t::string:
            return Kind::string;
        case nlohmann::json::value_t::array:
            return Kind::array;
        case nlohmann::json::value_t::object:
            return Kind::object;
        default:
            return Kind::null;
    }
}

bool Json::isTrue() const {
    const auto* flag = value_ != nullptr ? value_->get_ptr<const nlohmann::json::boolean_t*>() : nullptr;
    return flag != nullptr && *flag;
}

double Json::number() const {
    return value_ != nullptr && value_->is_number() ? value_->get<double>() : 0.0;
}

const std::string& Json::text() const {
    static const std::string none;
    const auto* text = value_ != nullptr ? value_->get_ptr<const nlohmann::json::string_t*>() : nullptr;
    return text != nullptr ? *text : none;
}

std::vector<Json> Json::items() const {
    std::vector<Json> items;
    if (value_ != nullptr && value_->is_array()) {
        for (const nlohmann::json& item : *value_) {
            items.push_back(Json(document_, &item));
        }
    }
    return items;
}

Json Json::operator[](std::string_view name) const {
    if (value_ == nullptr || !value_->is_object()) {
        return {};
    }
    const auto member = value_->find(name);
    return member != value_->end() ? Json(document_, &*member) : Json();
}

}  // namespace tovak::system
