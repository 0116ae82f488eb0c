#pragma once

namespace tovak::facedetect::onednn {

// One thread for oneDNN on the calling thread, for as long as it lives; the caller's own setting
// comes back after.
class OneThread {
  public:
    OneThread();
    ~OneThread();
    OneThread(const OneThread&) = delete;
    OneThread& operator=(const OneThread&) = delete;

  private:
    int before_;
};

}  // namespace tovak::facedetect::onednn
