#pragma once

#include "platform/desktop/application_delegate.hpp"
#include "platform/desktop/controls.hpp"
#include "platform/desktop/desktop.hpp"
#include "platform/desktop/task_queues.hpp"
#include "platform/desktop/workspace.hpp"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quillmark::testing {

class FakeLabel : public platform::Label {
public:
    explicit FakeLabel(std::string text)
        : text(std::move(text))
    {
    }
    void setText(const std::string& value) override { text = value; }
    std::string text;
};

class FakeButton : public platform::Button {
public:
    explicit FakeButton(std::string title)
        : title(std::move(title))
    {
    }
    void setTitle(const std::string& value) override { title = value; }
    void setEnabled(bool value) override { enabled = value; }
    std::string title;
    bool enabled = true;
};

// Selects the first item added to an empty list, as desktop pop-ups do.
class FakePopUpButton : public platform::PopUpButton {
public:
    void removeAllItems() override;
    void addItem(const std::string& title) override;
    void selectItem(int index) override;
    int selectedIndex() const override { return selected; }
    void setEnabled(bool value) override { enabled = value; }
    std::vector<std::string> items;
    int selected = -1;
    bool enabled = true;
};

class FakeProgressIndicator : public platform::ProgressIndicator {
public:
    void show() override { visible = true; }
    void hide() override { visible = false; }
    void startAnimation() override { animating = true; }
    void stopAnimation() override { animating = false; }
    bool visible = true;
    bool animating = false;
};

class FakeTimer : public platform::RepeatingTimer {
public:
    FakeTimer(platform::Desktop::Clock::duration interval, platform::Desktop::Clock::time_point due,
        std::function<void(platform::RepeatingTimer&)> tick)
        : interval(interval)
        , due(due)
        , tick(std::move(tick))
    {
    }
    void invalidate() override { valid = false; }
    bool isValid() const override { return valid; }
    platform::Desktop::Clock::duration interval;
    platform::Desktop::Clock::time_point due;
    std::function<void(platform::RepeatingTimer&)> tick;
    bool valid = true;
};

// A running application whose answers the test sets. By default it quits when
// asked; `declinesQuit` keeps it running.
class FakeRunningApplication : public platform::RunningApplication {
public:
    FakeRunningApplication(std::optional<std::string> identifier, std::optional<platform::FileURL> bundle)
        : identifier(std::move(identifier))
        , bundle(std::move(bundle))
    {
    }
    std::optional<std::string> bundleIdentifier() const override { return identifier; }
    std::optional<platform::FileURL> bundleURL() const override { return bundle; }
    bool isTerminated() const override { return terminated; }
    void requestQuit() override;

    std::optional<std::string> identifier;
    std::optional<platform::FileURL> bundle;
    bool terminated = false;
    bool declinesQuit = false;
    int quitRequests = 0;
};

struct ShownAlert {
    platform::AlertDescription alert;
    std::function<void(long)> completion;
    bool answered = false;
};

struct ShownPanel {
    platform::OpenPanelDescription panel;
    std::function<void(long, std::optional<platform::FileURL>)> completion;
    bool answered = false;
};

struct OpenRequest {
    platform::FileURL application;
    std::function<void(std::exception_ptr)> completion;
};

// The whole desktop for controller tests, on the test's own thread: the main
// queue runs only when the test says so, the clock moves only when the test
// moves it, and alerts, panels and running applications are scripted.
// Background work waits for the test too, or runs on real threads when the
// test needs it to meet the main thread halfway (a synchronous hop).
class FakeDesktop : public platform::ControlFactory,
                    public platform::Desktop,
                    public platform::Workspace,
                    public platform::TaskQueues {
public:
    enum class Background { byHand, onThreads };

    explicit FakeDesktop(Background background = Background::byHand);
    ~FakeDesktop() override;

    void setDelegate(platform::ApplicationDelegate& delegate) { delegate_ = &delegate; }

    // ControlFactory
    std::unique_ptr<platform::Label> makeWrappingLabel(const std::string& text) override;
    std::unique_ptr<platform::Button> makeButton(const std::string& title) override;
    std::unique_ptr<platform::PopUpButton> makePopUpButton() override;
    std::unique_ptr<platform::ProgressIndicator> makeProgressIndicator() override;

    // Desktop
    void showWindow(const platform::WindowDescription& window) override;
    void activate() override { ++activations; }
    void terminate() override;
    void showAlert(const platform::AlertDescription& alert, std::function<void(long)> completion) override;
    void showOpenPanel(const platform::OpenPanelDescription& panel,
        std::function<void(long, std::optional<platform::FileURL>)> completion) override;
    std::shared_ptr<platform::RepeatingTimer> scheduleRepeatingTimer(Clock::duration interval,
        std::function<void(platform::RepeatingTimer&)> tick) override;
    Clock::time_point now() const override { return now_; }

    // Workspace
    platform::RunningApplications runningApplications() const override;
    void openApplication(const platform::FileURL& bundle, std::function<void(std::exception_ptr)> completion) override;

    // TaskQueues
    void runInBackground(std::function<void()> task) override;
    void runOnMain(std::function<void()> task) override;
    void runOnMainAndWait(std::function<void()> task) override;

    // Runs main-queue tasks, including those they queue, until none is left.
    void runMainTasks();
    // Runs the oldest main-queue task; false when there is none.
    bool runOneMainTask();
    std::size_t pendingMainTasks() const;
    // Blocks until background work has queued a main task (for work on threads).
    void waitForMainTask();
    // By hand: runs the queued background work on this thread. On threads:
    // waits until every background thread has finished.
    void finishBackgroundWork();
    std::size_t pendingBackgroundTasks() const;
    // Serves the main queue until no background thread is left; for the end
    // of a test, so that no thread outlives what it refers to.
    void drain();
    // Moves the clock, firing every tick that falls due on the way, in order.
    void advance(Clock::duration duration);
    std::size_t validTimers() const;
    // The timer scheduled last, while someone still holds it.
    std::shared_ptr<FakeTimer> lastTimer() const;

    // Answers the latest unanswered alert or panel.
    void answerAlert(long response);
    void answerPanel(long response, std::optional<platform::FileURL> chosen);
    std::optional<ShownAlert> unansweredAlert() const;
    std::optional<ShownPanel> unansweredPanel() const;

    std::shared_ptr<FakeRunningApplication> addRunningApplication(std::optional<std::string> identifier,
        std::optional<platform::FileURL> bundle);

    std::optional<platform::WindowDescription> window;
    int activations = 0;
    int terminateRequests = 0;
    bool terminated = false;
    std::vector<ShownAlert> alerts;
    std::vector<ShownPanel> panels;
    std::vector<std::shared_ptr<FakeRunningApplication>> applications;
    std::vector<OpenRequest> openRequests;

private:
    Background background_;
    std::thread::id mainThread_;
    platform::ApplicationDelegate* delegate_ = nullptr;
    Clock::time_point now_ {};
    std::vector<std::weak_ptr<FakeTimer>> timers_;

    mutable std::mutex lock_;
    std::condition_variable mainTaskQueued_;
    std::deque<std::function<void()>> mainTasks_;
    std::deque<std::function<void()>> backgroundTasks_;
    std::vector<std::thread> threads_;
    int runningThreads_ = 0;
};

} // namespace quillmark::testing
