#pragma once

namespace tovak::runtime {

// Seconds on a monotonic clock. A stored time of 0 must read as long ago.
class Clock {
  public:
    virtual ~Clock() = default;
    [[nodiscard]] virtual double now() const = 0;
};

// The steady clock, offset so that 0 lies far in the past.
class SystemClock final : public Clock {
  public:
    [[nodiscard]] double now() const override;

    // Seconds added to the steady clock's reading.
    static constexpr double kOffsetSeconds = 1.0e6;
};

// Calendar time, seconds since 1970. Unlike Clock it moves on while the machine sleeps, and jumps
// when the time is set: what a user means by "until 14:35".
class WallClock {
  public:
    virtual ~WallClock() = default;
    [[nodiscard]] virtual double now() const = 0;
};

class SystemWallClock final : public WallClock {
  public:
    [[nodiscard]] double now() const override;
};

}  // namespace tovak::runtime
