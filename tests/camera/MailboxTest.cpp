#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "camera/FrameMailbox.h"
#include "runtime/SerialQueue.h"
#include "runtime/Simulation.h"

namespace tovak::testing {
namespace {

using camera::FrameMailbox;

// Frames are told apart by their width.
imaging::PixelBufferPtr frame(int id) {
    return std::make_shared<const imaging::PixelBuffer>(id, 1);
}

class RecordingDelegate final : public monitor::SampleBufferDelegate {
  public:
    void captureOutput(imaging::PixelBufferPtr imageBuffer, const monitor::CaptureConnection& connection) override {
        std::lock_guard lock(mutex);
        received.push_back(imageBuffer->width());
        upright = upright && connection.videoRotationAngle() == 0.0 && !connection.isVideoMirrored();
        if (work) {
            work();
        }
    }
    std::mutex mutex;
    std::vector<int> received;
    bool upright = true;
    std::function<void()> work;
};

struct MailboxTest : ::testing::Test {
    runtime::ManualSerialQueue queue;
    std::shared_ptr<runtime::TaskQueue> queuePtr{std::shared_ptr<runtime::TaskQueue>{}, &queue};
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<FrameMailbox> mailbox = FrameMailbox::make();
};

TEST_F(MailboxTest, FramesArriveUprightOnTheQueueAndTheNewestReplacesTheWaitingOne) {
    mailbox->setDelegate(delegate, queuePtr);
    EXPECT_TRUE(mailbox->offer(frame(1)));
    EXPECT_TRUE(delegate->received.empty());
    queue.runAll();
    for (int id = 2; id <= 6; ++id) {
        mailbox->offer(frame(id));
    }
    EXPECT_EQ(queue.pending(), 1U);
    queue.runAll();
    EXPECT_EQ(delegate->received, (std::vector<int>{1, 6}));
    EXPECT_TRUE(delegate->upright);
    EXPECT_EQ(mailbox->dropped(), 4U);
    // A frame offered while one is processed waits for the next turn.
    delegate->work = [&] {
        if (delegate->received.size() == 3) {
            mailbox->offer(frame(8));
            mailbox->offer(frame(9));
        }
    };
    mailbox->offer(frame(7));
    queue.runAll();
    EXPECT_EQ(delegate->received, (std::vector<int>{1, 6, 7, 9}));
}

TEST_F(MailboxTest, NoFrameReachesADelegateAbsentDetachedOrMovedOnTheQueue) {
    EXPECT_FALSE(mailbox->offer(frame(1)));
    EXPECT_EQ(queue.pending(), 0U);
    mailbox->setDelegate(std::make_shared<RecordingDelegate>(), queuePtr);  // gone at once
    EXPECT_FALSE(mailbox->offer(frame(2)));
    mailbox->setDelegate(delegate, queuePtr);
    mailbox->offer(frame(1));
    // The detach is queued behind the waiting delivery's post, as the engine's stop is, but the
    // delivery runs first; a frame offered after the detach is refused.
    queue.async([&] { mailbox->setDelegate({}, nullptr); });
    queue.runAll();
    EXPECT_FALSE(mailbox->offer(frame(2)));
    // A delivery already posted when the delegate is detached delivers nothing.
    mailbox->setDelegate(delegate, queuePtr);
    mailbox->offer(frame(3));
    mailbox->setDelegate({}, nullptr);
    queue.runAll();
    EXPECT_EQ(delegate->received, (std::vector<int>{1}));
    // Nor one posted to an old queue; the next frame goes to the new queue.
    runtime::ManualSerialQueue other;
    mailbox->setDelegate(delegate, queuePtr);
    mailbox->offer(frame(4));
    mailbox->setDelegate(delegate, std::shared_ptr<runtime::TaskQueue>(std::shared_ptr<runtime::TaskQueue>{}, &other));
    queue.runAll();
    mailbox->offer(frame(5));
    other.runAll();
    EXPECT_EQ(delegate->received, (std::vector<int>{1, 5}));
}

TEST_F(MailboxTest, AFastProducerAndASlowConsumerOnThreadsKeepOrderAndEndOnTheNewestFrame) {
    auto session = std::make_shared<runtime::SerialQueue>("tovak.session");
    delegate->work = [] { std::this_thread::sleep_for(std::chrono::microseconds(200)); };
    mailbox->setDelegate(delegate, session);
    constexpr int kFrames = 2000;
    std::thread producer([&] {
        for (int id = 1; id <= kFrames; ++id) {
            mailbox->offer(frame(id));
        }
    });
    producer.join();
    session->shutdown();
    std::lock_guard lock(delegate->mutex);
    ASSERT_FALSE(delegate->received.empty());
    EXPECT_EQ(std::adjacent_find(delegate->received.begin(), delegate->received.end(), std::greater_equal<>()),
              delegate->received.end());
    EXPECT_EQ(delegate->received.back(), kFrames);
    EXPECT_EQ(delegate->received.size() + mailbox->dropped(), static_cast<std::size_t>(kFrames));
}

}  // namespace
}  // namespace tovak::testing
