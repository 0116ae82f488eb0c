#include "journal/Journal.h"

#include <algorithm>
#include <ctime>

namespace tovak::journal {

const Incident* Journal::find(std::uint64_t id) const {
    const auto it =
        std::find_if(incidents_.begin(), incidents_.end(), [id](const Incident& each) { return each.id == id; });
    return it == incidents_.end() ? nullptr : &*it;
}

std::uint64_t Journal::add(Incident incident) {
    incident.id = nextId_++;
    incidents_.push_back(std::move(incident));
    std::size_t pictures = 0;
    for (auto it = incidents_.rbegin(); it != incidents_.rend(); ++it) {
        if (it->image && ++pictures > picturesInMemory) {
            it->image.reset();
        }
    }
    changed();
    return incidents_.back().id;
}

bool Journal::update(std::uint64_t id, const std::function<void(Incident&)>& change) {
    for (Incident& each : incidents_) {
        if (each.id == id) {
            change(each);
            changed();
            return true;
        }
    }
    return false;
}

void Journal::dropBefore(double cutoff) {
    const auto before = incidents_.size();
    std::erase_if(incidents_, [cutoff](const Incident& each) { return each.start < cutoff; });
    if (incidents_.size() != before) {
        changed();
    }
}

void Journal::clear() {
    incidents_.clear();
    changed();
}

std::vector<Incident> Journal::today(double now) const {
    const auto when = static_cast<std::time_t>(now);
    std::tm local{};
    localtime_r(&when, &local);
    local.tm_hour = 0;
    local.tm_min = 0;
    local.tm_sec = 0;
    local.tm_isdst = -1;
    const double midnight = static_cast<double>(std::mktime(&local));
    std::vector<Incident> list;
    for (auto it = incidents_.rbegin(); it != incidents_.rend(); ++it) {
        if (it->start >= midnight) {
            list.push_back(*it);
        }
    }
    std::stable_sort(list.begin(), list.end(), [](const Incident& a, const Incident& b) { return a.start > b.start; });
    return list;
}

Journal::Token Journal::observe(std::function<void()> onChange) {
    observers_.emplace(nextToken_, std::move(onChange));
    return nextToken_++;
}

void Journal::removeObserver(Token token) {
    observers_.erase(token);
}

void Journal::changed() {
    // A copy: an observer may remove itself.
    const auto observers = observers_;
    for (const auto& entry : observers) {
        entry.second();
    }
}

}  // namespace tovak::journal
