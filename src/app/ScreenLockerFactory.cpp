#include "app/ScreenLockerFactory.h"

#include <utility>

namespace tovak::app {

namespace {

// Until the chain of desktop lockers is built, every lock honestly fails with the message the
// chain gives when no service answers.
class NoScreenLocker final : public monitor::ScreenLocker {
  public:
    explicit NoScreenLocker(std::shared_ptr<runtime::MainQueue> mainQueue) : main_(std::move(mainQueue)) {}
    void lockNow(Completion completion) override {
        main_->async([completion = std::move(completion)] {
            completion(false,
                       "Блокировка не сработала: не найдена служба блокировки экрана (KDE, GNOME, Cinnamon, MATE, "
                       "Xfce, logind).");
        });
    }

  private:
    std::shared_ptr<runtime::MainQueue> main_;
};

}  // namespace

std::shared_ptr<monitor::ScreenLocker> makeScreenLocker(std::shared_ptr<runtime::MainQueue> mainQueue) {
    return std::make_shared<NoScreenLocker>(std::move(mainQueue));
}

}  // namespace tovak::app
