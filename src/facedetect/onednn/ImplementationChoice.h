#pragma once

#include <functional>
#include <oneapi/dnnl/dnnl.hpp>
#include <optional>
#include <string>
#include <vector>

namespace tovak::facedetect::onednn {

// oneDNN offers several implementations of a primitive and its first is not always the fastest on
// the CPU at hand: each is timed on the memory it will run on and the quickest kept. What was
// chosen before (from the cache) is taken again without timing while oneDNN still offers it and
// timing could have chosen it (never a reference implementation); any implementation gives the
// same numbers, so a wrong name costs time, never a wrong answer.
class ImplementationChoice {
  public:
    // Makes the primitive's descriptor afresh, at oneDNN's first choice.
    using Make = std::function<dnnl::primitive_desc()>;
    // Builds one candidate and times it: its median microseconds, none when it cannot run; a
    // candidate slower than giveUp microseconds at its first run need not be run again.
    using Trial = std::function<std::optional<double>(const dnnl::primitive_desc&, double giveUp)>;

    // known: the implementation of each primitive in build order, as chosen before; empty for
    // none. timing: false takes oneDNN's first choice for every primitive.
    ImplementationChoice(std::vector<std::string> known, bool timing);

    // The candidate the next primitive is built from.
    dnnl::primitive_desc pick(const Make& make, const Trial& trial);

    // What each primitive took, in build order.
    [[nodiscard]] const std::vector<std::string>& chosen() const { return chosen_; }
    // How many were timed because nothing (valid) was known of them; a primitive with nothing but
    // reference implementations has nothing to time.
    [[nodiscard]] int timed() const { return timed_; }

    // The candidate named, when oneDNN offers it; else oneDNN's first.
    static dnnl::primitive_desc named(const Make& make, const std::string& name);
    // The median of a few runs of one primitive, in microseconds; none when it fails. When the
    // first run takes more than giveUp, that run's time.
    static std::optional<double> time(const dnnl::primitive& primitive, const std::vector<dnnl_exec_arg_t>& args,
                                      dnnl::stream& stream, double giveUp);

  private:
    std::vector<std::string> known_;
    bool timing_;
    std::vector<std::string> chosen_;
    int timed_ = 0;
};

}  // namespace tovak::facedetect::onednn
