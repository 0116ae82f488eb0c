#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "imaging/Orientation.h"
#include "imaging/PixelBuffer.h"
#include "imaging/Renderer.h"
#include "monitor/FaceObservation.h"
#include "monitor/IgnoredFaces.h"
#include "monitor/PresenceCounter.h"
#include "monitor/TriggerDocument.h"
#include "monitor/ports/Ports.h"
#include "runtime/Published.h"
#include "runtime/TaskQueue.h"
#include "runtime/WorkItem.h"

namespace tovak::monitor {

// The presence engine: watches the faces of every frame, answers an onlooker with the trigger
// document and the panel, and in away mode shows a stranger's face and locks the session.
//
// Threads: decision state belongs to the session queue; published properties and the two work
// item fields belong to the main queue (pipHideWorkItem is also cleared from the session queue,
// under its own mutex); awayLockTriggeredThisSession is atomic because the main queue reads it.
class PrivacyMonitor final : public SampleBufferDelegate, public std::enable_shared_from_this<PrivacyMonitor> {
  public:
    static constexpr const char* customTriggerPathKey = TriggerDocument::customPathKey;
    // The faces marked as scenery, as readable text (see IgnoredFaces.h).
    static constexpr const char* ignoredFacesKey = "tovak.ignoredFaces";
    // The lock when the user leaves: its delay in seconds as text, absent while it is off.
    static constexpr const char* lockOnLeaveKey = "tovak.lockOnLeaveSeconds";
    static constexpr double lockOnLeaveMaxSeconds = 3600;

    // Settings, fixed for the monitor's life.
    static constexpr std::int64_t confirmNeeded = 3;
    static constexpr std::int64_t missNeeded = 15;
    static constexpr double bringTriggerFrontInterval = 2.0;
    static constexpr double minFaceNormalizedArea = 0.00038;
    static constexpr double cropPaddingFraction = 0.08;
    static constexpr double pipCenterZoom = 1.0;
    static constexpr double awayFullscreenCenterZoom = 1.55;
    static constexpr double pipMinInterval = 1.0 / 15.0;
    static constexpr double fullscreenMinInterval = 1.0 / 15.0;
    static constexpr double pipHoldSeconds = 2.0;
    static constexpr double autoAwayAfterNoFaceSeconds = 10.0;
    static constexpr double awayLockDelaySeconds = 1.0;
    static constexpr double previewMinInterval = 1.0 / 12.0;
    static constexpr std::int64_t landmarksEveryNFrames = 3;
    static constexpr double previewMaxWidth = 640.0;

    // Creates the monitor; touches no camera. Call on the main thread.
    static std::shared_ptr<PrivacyMonitor> create(Ports ports);
    ~PrivacyMonitor() override;
    PrivacyMonitor(const PrivacyMonitor&) = delete;
    PrivacyMonitor& operator=(const PrivacyMonitor&) = delete;

    // Published state, changed on the main queue only.
    runtime::Published<std::string> statusLine;
    // What the desktop needs the user to do (log in again, install the package), or what it cannot do
    // here; set at start and kept apart from the status line, which watching overwrites at once.
    runtime::Published<std::string> desktopNotice;
    runtime::Published<bool> isRunning;
    runtime::Published<std::string> triggerFileSummary;
    runtime::Published<bool> awayMode;
    runtime::Published<std::optional<imaging::Image>> previewImage;
    runtime::Published<std::vector<PreviewFaceItem>> previewFaceRects;
    // Regions whose faces are dropped at intake, for the preview to draw.
    runtime::Published<std::vector<imaging::Rect>> ignoredFaces;
    // While the user's pause lasts: when it ends, in calendar seconds.
    runtime::Published<std::optional<double>> pausedUntil;
    // The lock when the user leaves: seconds after away mode switched itself on; none while off.
    runtime::Published<std::optional<double>> lockOnLeaveSeconds;

    // Monitoring on and off; main thread, return at once. Start also ends the user's pause.
    void start();
    void stop();
    // The camera off for a while, monitoring staying on; it comes back by itself at that time of
    // day (also when the machine slept meanwhile), or at resume(). Main thread, returns at once.
    void pauseFor(double seconds);
    void resume();
    // The camera to take may have changed (the user's choice, the lid): a running camera that is no
    // longer the one is replaced, afresh, and a monitor waiting for its camera looks at once. Any
    // thread, returns at once.
    void cameraChoiceChanged();
    // Away mode on or off; any thread, returns at once.
    void setAwayMode(bool on);
    // The lock when the user leaves, on with its delay (0 to lockOnLeaveMaxSeconds) or off; main
    // thread. Kept in the settings where there are any.
    void setLockOnLeave(std::optional<double> seconds);
    // The delay a setting's text names; none for text that is not a number in range.
    [[nodiscard]] static std::optional<double> parseLockOnLeave(const std::string& text);
    // The user closed the panel; any thread, returns at once.
    void userClosedPiP();

    // Whether anybody sees the preview: while nobody does (no window, a hidden or minimised one, a
    // run without a screen), no preview is rendered or published. Off until asked; any thread.
    void setPreviewWanted(bool wanted) { previewWanted_ = wanted; }

    // Faces marked as scenery; main thread. Kept in the settings where there are any; the session
    // queue gets a copy of its own, effective from the next frame it analyses.
    void setIgnoredFaces(std::vector<imaging::Rect> regions);
    void ignoreFace(const imaging::Rect& box);

    // Trigger file choice; main thread.
    void pickTriggerFile();
    void clearCustomTriggerFile();
    // The trigger document to use now: the user's file while it exists, else the default document.
    [[nodiscard]] std::optional<std::string> resolvedTriggerURL() const { return trigger_.resolvedPath(); }

    // Frame delivery, on the session queue.
    void captureOutput(imaging::PixelBufferPtr imageBuffer, const CaptureConnection& connection) override;

    // The orientation under which a frame from this connection is analysed.
    [[nodiscard]] imaging::Orientation orientationFor(const CaptureConnection& connection) const;

    [[nodiscard]] const std::shared_ptr<runtime::TaskQueue>& sessionQueue() const { return sessionQueue_; }

  private:
    explicit PrivacyMonitor(Ports ports);

    // Posts op to the session queue holding the monitor weakly.
    void onSessionQueue(void (PrivacyMonitor::*op)());
    void onMain(std::function<void(PrivacyMonitor&)> step);
    void publishStatus(std::string text);
    // The panel or the close-up goes, on the main queue after what was posted there before.
    void hideOnMain(std::shared_ptr<FacePresenter> presenter);

    // Intake and decisions (session queue).
    void process(const imaging::PixelBufferPtr& pixelBuffer, const CaptureConnection& connection);
    std::vector<FaceObservation> detectFaces(const imaging::PixelBufferPtr& pixelBuffer,
                                             imaging::Orientation orientation);
    void decide(const std::vector<FaceObservation>& sorted, const imaging::PixelBufferPtr& pixelBuffer,
                imaging::Orientation orientation);
    void advanceAutoAwayTimer(std::size_t faceCount);
    void decideOnlooker(const std::vector<FaceObservation>& sorted, const imaging::PixelBufferPtr& pixelBuffer,
                        imaging::Orientation orientation);
    void onlookerMissed();

    // Panel hold.
    void schedulePiPHideAfterHold();
    void cancelPiPHoldIfSecondFaceReturned();
    void cancelPendingPiPHide();
    void cancelPiPHideWorkItem();

    // Away mode.
    void applyAwayMode(bool on);
    void processAwayWhenFewerThanTwoFaces(const std::vector<FaceObservation>& sorted,
                                          const imaging::PixelBufferPtr& pixelBuffer, imaging::Orientation orientation);
    void reconcileAwayModeWhenSecondFaceAppears();
    void scheduleAwayModeLockIfNeeded();
    void cancelAwayLockWorkItemOnMain();
    void awayLockCheck();
    // Sets the lock off and, when it fails, shows why and lets a later one be set off (session queue).
    void lockSession();

    // The lock when the user leaves (session queue, its work item on the main queue).
    void switchAwayOnByItself();
    void armLeaveLock();
    void disarmLeaveLock();
    void countFacesForLeaveLock(std::size_t faceCount);
    void leaveLockCheck(std::uint64_t arming, double delay);
    void loadLockOnLeave();
    void handLockOnLeaveToSessionQueue(std::optional<double> seconds);

    // Preview.
    void maybePublishPreview(const imaging::PixelBufferPtr& pixelBuffer, imaging::Orientation orientation,
                             const std::vector<FaceObservation>& sorted);

    // Start and stop.
    void startSessionIfNeeded();
    void configureAndRun();
    void runCamera(const CameraDevice& device);
    void stopOnSessionQueue();
    void stopOnMain(bool onlookerWasConfirmed);
    void resetDecisionState();

    // The camera follows the desk: off while the screen is locked or the user paused it, waiting
    // while it is gone. Session queue, except the retry and pause work items (main queue).
    enum class CameraPhase { off, running, pausedForLock, pausedByUser, pausedForOtherProgram, waitingForCamera };
    // A camera that is gone is looked for this often; one that another program holds, in away mode,
    // more often, since away mode is blind until it has it.
    static constexpr double cameraRetrySeconds = 2.0;
    static constexpr double awayCameraRetrySeconds = 0.5;
    void sessionLockChanged(bool locked);
    void cameraInterrupted(CameraInterruption reason, std::uint64_t epoch);
    void suspendCamera(CameraPhase next, std::string status, double retryAfter = cameraRetrySeconds);
    // The camera is asked for now, after what the main queue has to do first.
    void askForCameraNow();
    void resumeCameraAfterMain();
    void resumeCamera(std::uint64_t epoch);
    bool attachCamera();
    // The camera to take attached afresh, or else waited for. Session queue.
    void attachOrWait();
    static std::optional<CameraPause> pauseReason(CameraPhase phase);

    // The user's pause (session queue, its work item on the main queue).
    // Stepping aside for another program (session queue).
    void watchForOtherPrograms(const CameraDevice& device);
    void contentionEvent(CameraContention::Event event, const std::string& program, std::uint64_t watch);
    // Another program holds the camera: stepped aside in normal mode, asked for every half second
    // in away mode, whose camera nobody may take.
    void cameraBusy();

    void beginUserPause(double until);
    void endUserPause();
    void schedulePauseCheck(double until, std::uint64_t epoch);
    void pauseCheck(double until, std::uint64_t epoch);

    // Reads the marked faces from the settings at creation.
    void loadIgnoredFaces();
    void handIgnoredFacesToSessionQueue(std::vector<imaging::Rect> regions);

    // Trigger document, from the session queue.
    void refreshTriggerSummary();
    void bringTriggerDocumentToFront();

    Ports ports_;
    std::shared_ptr<runtime::MainQueue> main_;
    std::shared_ptr<runtime::TaskQueue> sessionQueue_;
    imaging::Renderer ciContext_;
    TriggerDocument trigger_;

    // Decision state (session queue).
    PresenceCounter onlooker_{confirmNeeded, missNeeded};
    double lastPiPUpdate_ = 0;
    double lastBringTriggerFrontTime_ = 0;
    bool pipHoldScheduled_ = false;
    mutable std::mutex pipHideMutex_;
    runtime::WorkItemPtr pipHideWorkItem_;  // guarded by pipHideMutex_
    bool pipUserDismissed_ = false;
    bool awayModeProcess_ = false;
    PresenceCounter visitor_{confirmNeeded, missNeeded};
    double lastFullscreenUpdate_ = 0;
    std::atomic<bool> awayLockTriggeredThisSession_{false};
    runtime::WorkItemPtr awayLockWorkItem_;  // main queue only
    std::optional<double> absenceForAutoAwayStartedAt_;
    // The lock when the user leaves: the session queue's copy of the setting, whether it is armed
    // (and which arming it is), and the frames in a row with a face since.
    std::optional<double> leaveLockDelay_;
    bool leaveLockArmed_ = false;
    std::uint64_t leaveLockArming_ = 0;
    std::int64_t leaveLockFaceFrames_ = 0;
    runtime::WorkItemPtr leaveLockWorkItem_;  // main queue only
    double lastPreviewPublish_ = 0;
    std::atomic<bool> previewWanted_{false};
    std::int64_t visionFrameCounter_ = 0;
    // The session queue's own copy of ignoredFaces.
    std::vector<imaging::Rect> ignoredRegions_;

    CameraPhase cameraPhase_ = CameraPhase::off;
    bool sessionLocked_ = false;
    // Moves on with every change of cameraPhase_, so that an interruption or a retry meant for an
    // earlier camera run is dropped; read by the camera's own thread.
    std::atomic<std::uint64_t> cameraEpoch_{0};
    runtime::WorkItemPtr cameraRetryWorkItem_;  // main queue only
    runtime::WorkItemPtr pauseWorkItem_;        // main queue only
    // The camera node being watched for other programs, and a count that tells a stale watch's
    // events from the current one's (session queue).
    std::optional<std::string> watchedNode_;
    // The device the camera last ran on (session queue).
    std::string runningDevice_;
    std::uint64_t watchCount_ = 0;
};

}  // namespace tovak::monitor
