#include "facedetect/onednn/ImplementationChoice.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <utility>

namespace tovak::facedetect::onednn {

namespace {

// Reference implementations are there for correctness checks: hundreds of times slower, and
// timing them alone would take longer than the rest together.
bool worthTiming(const std::string& name) {
    return !name.empty() && name.rfind("ref", 0) != 0;
}

}  // namespace

ImplementationChoice::ImplementationChoice(std::vector<std::string> known, bool timing)
    : known_(std::move(known)), timing_(timing) {}

dnnl::primitive_desc ImplementationChoice::pick(const Make& make, const Trial& trial) {
    const std::size_t index = chosen_.size();
    if (!timing_) {
        dnnl::primitive_desc first = make();
        chosen_.emplace_back(first.impl_info_str());
        return first;
    }
    // A name from the cache passes the filter a timed one does: a reference implementation written
    // there is timed afresh, not trusted.
    if (index < known_.size() && worthTiming(known_[index])) {
        dnnl::primitive_desc candidate = named(make, known_[index]);
        if (known_[index] == candidate.impl_info_str()) {
            chosen_.push_back(known_[index]);
            return candidate;
        }
    }
    dnnl::primitive_desc candidate = make();
    dnnl::primitive_desc best = candidate;
    double bestTime = std::numeric_limits<double>::infinity();
    bool timedOne = false;
    do {
        const std::string name = candidate.impl_info_str();
        if (!worthTiming(name)) {
            continue;
        }
        timedOne = true;
        const std::optional<double> took = trial(candidate, 3 * bestTime);
        if (took && *took < bestTime) {
            bestTime = *took;
            // A copy keeps this candidate's descriptor; the iterator moves on in the original.
            best = candidate;
        }
    } while (candidate.next_impl());
    // Where oneDNN offers only reference implementations there was nothing to time: its first is
    // what timing would take again.
    timed_ += timedOne ? 1 : 0;
    chosen_.emplace_back(best.impl_info_str());
    return best;
}

dnnl::primitive_desc ImplementationChoice::named(const Make& make, const std::string& name) {
    dnnl::primitive_desc candidate = make();
    do {
        if (name == candidate.impl_info_str()) {
            return candidate;
        }
    } while (candidate.next_impl());
    return make();
}

std::optional<double> ImplementationChoice::time(const dnnl::primitive& primitive,
                                                 const std::vector<dnnl_exec_arg_t>& args, dnnl::stream& stream,
                                                 double giveUp) {
    constexpr int runs = 5;
    std::vector<double> took;
    // The first run also brings code and weights into the caches; it is not counted unless it is
    // the only one.
    for (int run = 0; run <= runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        if (dnnl_primitive_execute(primitive.get(), stream.get(), static_cast<int>(args.size()), args.data()) !=
                dnnl_success ||
            dnnl_stream_wait(stream.get()) != dnnl_success) {
            return std::nullopt;
        }
        const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        if (run == 0 && us > giveUp) {
            return us;
        }
        if (run > 0) {
            took.push_back(us);
        }
    }
    std::nth_element(took.begin(), took.begin() + runs / 2, took.end());
    return took[runs / 2];
}

}  // namespace tovak::facedetect::onednn
