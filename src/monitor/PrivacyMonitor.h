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
#include "monitor/CameraSession.h"
#include "monitor/EngineObserver.h"
#include "monitor/FaceDetector.h"
#include "monitor/FaceObservation.h"
#include "monitor/FacePresenter.h"
#include "monitor/IgnoredFaces.h"
#include "monitor/Services.h"
#include "monitor/SessionLockWatcher.h"
#include "runtime/Clock.h"
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
    struct Dependencies {
        std::shared_ptr<runtime::MainQueue> mainQueue;
        // Made here as a SerialQueue labelled "tovak.session" when left empty.
        std::shared_ptr<runtime::TaskQueue> sessionQueue;
        // Runs the document-closing work off both main lanes.
        std::shared_ptr<runtime::TaskQueue> backgroundQueue;
        std::shared_ptr<runtime::Clock> clock;
        std::shared_ptr<CameraSession> session;
        std::shared_ptr<FaceDetector> faceDetector;
        std::shared_ptr<PiPPresenter> pip;
        std::shared_ptr<FacePresenter> fullscreen;
        std::shared_ptr<ScreenLocker> screenLock;
        std::shared_ptr<SettingsStore> settings;
        std::shared_ptr<FileSystem> fileSystem;
        std::shared_ptr<Resources> resources;
        std::shared_ptr<Workspace> workspace;
        std::shared_ptr<DocumentCloser> documentCloser;
        std::shared_ptr<FileChooser> fileChooser;
        // The operating-system version check: true on the given version or later.
        std::function<bool(int major, int minor, int patch)> isOperatingSystemAtLeast;
        // Home folder for expanding a leading tilde in trigger paths.
        std::string homeDirectory;
        // Optional: told of each analysed frame and of presences starting and ending.
        std::shared_ptr<EngineObserver> observer;
        // Optional: the camera pauses while the screen is locked.
        std::shared_ptr<SessionLockWatcher> lockWatcher;
    };

    static constexpr const char* customTriggerPathKey = "ruzered.triggerFilePath";
    // The faces marked as scenery, as readable text (see IgnoredFaces.h).
    static constexpr const char* ignoredFacesKey = "tovak.ignoredFaces";

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
    static std::shared_ptr<PrivacyMonitor> create(Dependencies dependencies);
    ~PrivacyMonitor() override;
    PrivacyMonitor(const PrivacyMonitor&) = delete;
    PrivacyMonitor& operator=(const PrivacyMonitor&) = delete;

    // Published state, changed on the main queue only.
    runtime::Published<std::string> statusLine;
    runtime::Published<bool> isRunning;
    runtime::Published<std::string> triggerFileSummary;
    runtime::Published<bool> awayMode;
    runtime::Published<std::optional<imaging::Image>> previewImage;
    runtime::Published<std::vector<PreviewFaceItem>> previewFaceRects;
    // Regions whose faces are dropped at intake, for the preview to draw.
    runtime::Published<std::vector<imaging::Rect>> ignoredFaces;

    // Monitoring on and off; main thread, return at once.
    void start();
    void stop();
    // Away mode on or off; any thread, returns at once.
    void setAwayMode(bool on);
    // The user closed the panel; any thread, returns at once.
    void userClosedPiP();

    // Faces marked as scenery; main thread. Kept in the settings where there are any; the session
    // queue gets a copy of its own, effective from the next frame it analyses.
    void setIgnoredFaces(std::vector<imaging::Rect> regions);
    void ignoreFace(const imaging::Rect& box);

    // Trigger file choice; main thread.
    void pickTriggerFile();
    void clearCustomTriggerFile();
    // The trigger document to use now: the user's file while it exists, else the default document.
    [[nodiscard]] std::optional<std::string> resolvedTriggerURL() const;
    [[nodiscard]] std::optional<std::string> bundledDefaultTriggerURL() const;

    // Frame delivery, on the session queue.
    void captureOutput(imaging::PixelBufferPtr imageBuffer, const CaptureConnection& connection) override;

    // The orientation under which a frame from this connection is analysed.
    [[nodiscard]] imaging::Orientation orientationFor(const CaptureConnection& connection) const;

    [[nodiscard]] const std::shared_ptr<runtime::TaskQueue>& sessionQueue() const { return sessionQueue_; }

    // A copy of the decision state, taken on the session queue (for tests and diagnostics).
    struct DecisionState {
        std::int64_t confirmCount = 0;
        std::int64_t missCount = 0;
        bool presenceActive = false;
        double lastPiPUpdate = 0;
        double lastBringTriggerFrontTime = 0;
        bool pipHoldScheduled = false;
        bool pipUserDismissed = false;
        bool awayModeProcess = false;
        std::int64_t awayConfirmCount = 0;
        std::int64_t awayMissCount = 0;
        bool awayPresenceActive = false;
        double lastFullscreenUpdate = 0;
        bool awayLockTriggeredThisSession = false;
        std::optional<double> absenceForAutoAwayStartedAt;
        double lastPreviewPublish = 0;
        std::int64_t visionFrameCounter = 0;
    };
    [[nodiscard]] DecisionState decisionState() const;
    // Whether the delayed hide and the delayed lock are held (main queue).
    [[nodiscard]] bool hasPiPHideWorkItem() const;
    [[nodiscard]] bool hasAwayLockWorkItem() const { return awayLockWorkItem_ != nullptr; }

  private:
    explicit PrivacyMonitor(Dependencies dependencies);

    // Posts op to the session queue holding the monitor weakly.
    void onSessionQueue(void (PrivacyMonitor::*op)());
    void onMain(std::function<void(PrivacyMonitor&)> step);
    void publishStatus(std::string text);

    // Intake and decisions (session queue).
    void process(const imaging::PixelBufferPtr& pixelBuffer, const CaptureConnection& connection);
    std::vector<FaceObservation> detectFaces(const imaging::PixelBufferPtr& pixelBuffer,
                                             imaging::Orientation orientation);
    void decide(const std::vector<FaceObservation>& sorted, const imaging::PixelBufferPtr& pixelBuffer,
                imaging::Orientation orientation);

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

    // The camera follows the desk: off while the screen is locked, waiting while it is gone.
    // Session queue, except the retry work item (main queue).
    enum class CameraPhase { off, running, pausedForLock, waitingForCamera };
    void sessionLockChanged(bool locked);
    void cameraInterrupted(CameraInterruption reason, std::uint64_t epoch);
    void suspendCamera(CameraPhase next, std::string status);
    void resumeCameraAfterMain();
    void resumeCamera(std::uint64_t epoch);
    bool attachCamera();

    // Reads the marked faces from the settings at creation.
    void loadIgnoredFaces();
    void handIgnoredFacesToSessionQueue(std::vector<imaging::Rect> regions);

    // Trigger document.
    void refreshTriggerSummary();
    void bringTriggerDocumentToFront();
    void closeTriggerDocumentIfPossible();

    Dependencies deps_;
    std::shared_ptr<runtime::MainQueue> main_;
    std::shared_ptr<runtime::TaskQueue> sessionQueue_;
    imaging::Renderer ciContext_;

    // Decision state (session queue).
    std::int64_t confirmCount_ = 0;
    std::int64_t missCount_ = 0;
    bool presenceActive_ = false;
    double lastPiPUpdate_ = 0;
    double lastBringTriggerFrontTime_ = 0;
    bool pipHoldScheduled_ = false;
    mutable std::mutex pipHideMutex_;
    runtime::WorkItemPtr pipHideWorkItem_;  // guarded by pipHideMutex_
    bool pipUserDismissed_ = false;
    bool awayModeProcess_ = false;
    std::int64_t awayConfirmCount_ = 0;
    std::int64_t awayMissCount_ = 0;
    bool awayPresenceActive_ = false;
    double lastFullscreenUpdate_ = 0;
    std::atomic<bool> awayLockTriggeredThisSession_{false};
    runtime::WorkItemPtr awayLockWorkItem_;  // main queue only
    std::optional<double> absenceForAutoAwayStartedAt_;
    double lastPreviewPublish_ = 0;
    std::int64_t visionFrameCounter_ = 0;
    // The session queue's own copy of ignoredFaces.
    std::vector<imaging::Rect> ignoredRegions_;

    CameraPhase cameraPhase_ = CameraPhase::off;
    bool sessionLocked_ = false;
    // Moves on with every change of cameraPhase_, so that an interruption or a retry meant for an
    // earlier camera run is dropped; read by the camera's own thread.
    std::atomic<std::uint64_t> cameraEpoch_{0};
    runtime::WorkItemPtr cameraRetryWorkItem_;  // main queue only
};

}  // namespace tovak::monitor
