#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tovak::camera {

// How much pause the programs that open the camera without streaming from it may cost Tovak: at
// most pauseSeconds in any windowSeconds each. A program is known by its executable's path (""
// stands for every opener /proc does not show). Times in seconds on one clock.
class OpenerBudget {
  public:
    OpenerBudget(double pauseSeconds, double windowSeconds) : pause_(pauseSeconds), window_(windowSeconds) {}

    // The pause program may still cost from now on; 0 when its opens are not to be yielded to.
    [[nodiscard]] double left(const std::string& program, double now) const;
    // program's opens kept Tovak off the camera from start to end, and nothing streamed meanwhile.
    void charge(const std::string& program, double start, double end);

  private:
    double pause_;
    double window_;
    std::map<std::string, std::vector<std::pair<double, double>>> charged_;
};

}  // namespace tovak::camera
