#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "journal/Incident.h"

namespace tovak::journal {

// The incidents in memory, oldest first, and who wants to hear of a change. Main thread.
class Journal {
  public:
    using Token = std::size_t;
    // The close-ups of the newest visits held in memory; older visits keep their entry only.
    static constexpr std::size_t picturesInMemory = 100;

    [[nodiscard]] const std::vector<Incident>& incidents() const { return incidents_; }
    [[nodiscard]] const Incident* find(std::uint64_t id) const;

    // Adds an entry with a fresh id, which it returns.
    std::uint64_t add(Incident incident);
    // Changes an entry in place; false when it is gone (cleared or expired).
    bool update(std::uint64_t id, const std::function<void(Incident&)>& change);
    // Forgets entries that started before the cutoff (calendar seconds).
    void dropBefore(double cutoff);
    void clear();

    // The entries that started on the local calendar day of now, newest first.
    [[nodiscard]] std::vector<Incident> today(double now) const;

    // Told after each change.
    Token observe(std::function<void()> onChange);
    void removeObserver(Token token);

  private:
    void changed();

    std::vector<Incident> incidents_;
    std::uint64_t nextId_ = 1;
    std::map<Token, std::function<void()>> observers_;
    Token nextToken_ = 1;
};

}  // namespace tovak::journal
