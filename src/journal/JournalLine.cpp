#include "journal/JournalLine.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "system/Json.h"

namespace tovak::journal {

namespace {

using monitor::CameraPause;

struct Kinds {
    IncidentKind kind;
    const char* name;
};
constexpr Kinds kKinds[] = {{IncidentKind::onlooker, "onlooker"},
                            {IncidentKind::visit, "visit"},
                            {IncidentKind::pause, "pause"},
                            {IncidentKind::leave, "leave"}};

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

// Calendar seconds no journal was written at; later ones would not fit a line's numbers, and a line
// written back would say another time.
constexpr double kLatest = 1e11;

std::string number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// A field of a line, when it is there with the kind asked for (null reads as absent).
const std::string* text(const system::Json& line, const char* name) {
    const system::Json& value = line[name];
    return value.kind() == system::Json::Kind::string ? &value.text() : nullptr;
}
std::optional<double> numberIn(const system::Json& line, const char* name) {
    const system::Json& value = line[name];
    return value.kind() == system::Json::Kind::number ? std::optional(value.number()) : std::nullopt;
}
std::optional<bool> flag(const system::Json& line, const char* name) {
    const system::Json& value = line[name];
    return value.kind() == system::Json::Kind::boolean ? std::optional(value.isTrue()) : std::nullopt;
}

}  // namespace

std::string JournalLine::encode(const Incident& incident) {
    std::string kind;
    for (const Kinds& row : kKinds) {
        if (row.kind == incident.kind) {
            kind = row.name;
        }
    }
    std::string line = "{\"kind\": " + system::Json::quote(kind);
    if (incident.kind == IncidentKind::pause) {
        for (const Reasons& row : kReasons) {
            if (row.reason == incident.reason) {
                line += ", \"reason\": " + system::Json::quote(row.name);
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
            [[fallthrough]];
        case IncidentKind::leave:
            for (const Locks& row : kLocks) {
                if (row.lock == incident.lock) {
                    line += ", \"lock\": " + system::Json::quote(row.name);
                }
            }
            if (incident.lock == LockOutcome::failed && !incident.lockText.empty()) {
                line += ", \"lockText\": " + system::Json::quote(incident.lockText);
            }
            if (!incident.picture.empty()) {
                line += ", \"picture\": " + system::Json::quote(incident.picture);
            }
            break;
        case IncidentKind::pause:
            break;
    }
    return line + "}";
}

std::optional<Incident> JournalLine::decode(std::string_view line) {
    const std::optional<system::Json> fields = system::Json::parse(line);
    if (!fields || fields->kind() != system::Json::Kind::object) {
        return std::nullopt;
    }
    const std::string* kind = text(*fields, "kind");
    const std::optional<double> start = numberIn(*fields, "start");
    const std::optional<double> end = numberIn(*fields, "end");
    if (kind == nullptr || !start || !end || *end < *start || *start < 0 || *end >= kLatest) {
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
            const std::optional<double> raises = numberIn(*fields, "raises");
            if (!raises || *raises < 0 || *raises > 1e9) {
                return std::nullopt;
            }
            incident.raises = static_cast<int>(*raises);
            return incident;
        }
        case IncidentKind::visit:
        case IncidentKind::leave: {
            const std::string* lock = text(*fields, "lock");
            const std::optional<bool> closeup = flag(*fields, "closeup");
            if (lock == nullptr || (incident.kind == IncidentKind::visit && !closeup)) {
                return std::nullopt;
            }
            incident.closeup = incident.kind == IncidentKind::visit && *closeup;
            known = false;
            for (const Locks& row : kLocks) {
                if (*lock == row.name) {
                    incident.lock = row.lock;
                    known = true;
                }
            }
            if (const std::string* lockText = text(*fields, "lockText")) {
                incident.lockText = *lockText;
            }
            // Only a plain file name beside the journal: a path could point anywhere.
            if (const std::string* picture = text(*fields, "picture");
                incident.kind == IncidentKind::visit && picture != nullptr && picture->find('/') == std::string::npos &&
                *picture != "." && *picture != "..") {
                incident.picture = *picture;
            }
            return known ? std::optional(incident) : std::nullopt;
        }
        case IncidentKind::pause: {
            const std::string* reason = text(*fields, "reason");
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
