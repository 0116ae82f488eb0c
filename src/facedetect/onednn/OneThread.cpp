#include "facedetect/onednn/OneThread.h"

#include <omp.h>

namespace tovak::facedetect::onednn {

OneThread::OneThread() : before_(omp_get_max_threads()) {
    omp_set_num_threads(1);
}

OneThread::~OneThread() {
    omp_set_num_threads(before_);
}

}  // namespace tovak::facedetect::onednn
