#include "tests/support/fake_desktop.hpp"

#include <algorithm>
#include <chrono>
#include <future>
#include <stdexcept>

namespace quillmark::testing {

void FakePopUpButton::removeAllItems()
{
    items.clear();
    selected = -1;
}

void FakePopUpButton::addItem(const std::string& title)
{
    items.push_back(title);
    if (selected < 0)
        selected = 0;
}

void FakePopUpButton::selectItem(int index)
{
    selected = index >= 0 && static_cast<std::size_t>(index) < items.size() ? index : -1;
}

void FakeRunningApplication::requestQuit()
{
    ++quitRequests;
    if (!declinesQuit)
        terminated = true;
}

FakeDesktop::FakeDesktop(Background background)
    : background_(background)
    , mainThread_(std::this_thread::get_id())
{
}

FakeDesktop::~FakeDesktop()
{
    for (auto& thread : threads_) {
        if (thread.joinable())
            thread.join();
    }
}

std::unique_ptr<platform::Label> FakeDesktop::makeWrappingLabel(const std::string& text)
{
    return std::make_unique<FakeLabel>(text);
}

std::unique_ptr<platform::Button> FakeDesktop::makeButton(const std::string& title)
{
    return std::make_unique<FakeButton>(title);
}

std::unique_ptr<platform::PopUpButton> FakeDesktop::makePopUpButton()
{
    return std::make_unique<FakePopUpButton>();
}

std::unique_ptr<platform::ProgressIndicator> FakeDesktop::makeProgressIndicator()
{
    return std::make_unique<FakeProgressIndicator>();
}

void FakeDesktop::showWindow(const platform::WindowDescription& description)
{
    window.emplace(description);
}

void FakeDesktop::terminate()
{
    ++terminateRequests;
    if (delegate_ == nullptr || delegate_->applicationShouldTerminate() == platform::TerminateReply::now)
        terminated = true;
}

void FakeDesktop::showAlert(const platform::AlertDescription& alert, std::function<void(long)> completion)
{
    alerts.push_back({ alert, std::move(completion), false });
}

void FakeDesktop::showOpenPanel(const platform::OpenPanelDescription& panel,
    std::function<void(long, std::optional<platform::FileURL>)> completion)
{
    panels.push_back({ panel, std::move(completion), false });
}

std::shared_ptr<platform::RepeatingTimer> FakeDesktop::scheduleRepeatingTimer(Clock::duration interval,
    std::function<void(platform::RepeatingTimer&)> tick)
{
    auto timer = std::make_shared<FakeTimer>(interval, now_ + interval, std::move(tick));
    timers_.push_back(timer);
    return timer;
}

void FakeDesktop::advance(Clock::duration duration)
{
    auto target = now_ + duration;
    for (;;) {
        std::shared_ptr<FakeTimer> next;
        for (const auto& weak : timers_) {
            auto timer = weak.lock();
            if (timer && timer->valid && timer->due <= target && (!next || timer->due < next->due))
                next = timer;
        }
        if (!next)
            break;
        now_ = next->due;
        next->due += next->interval;
        next->tick(*next);
    }
    now_ = target;
}

std::size_t FakeDesktop::validTimers() const
{
    return static_cast<std::size_t>(std::count_if(timers_.begin(), timers_.end(), [](const auto& weak) {
        auto timer = weak.lock();
        return timer && timer->valid;
    }));
}

std::shared_ptr<FakeTimer> FakeDesktop::lastTimer() const
{
    return timers_.empty() ? nullptr : timers_.back().lock();
}

platform::RunningApplications FakeDesktop::runningApplications() const
{
    return { applications.begin(), applications.end() };
}

void FakeDesktop::openApplication(const platform::FileURL& bundle, std::function<void(std::exception_ptr)> completion)
{
    openRequests.push_back({ bundle, std::move(completion) });
}

void FakeDesktop::runInBackground(std::function<void()> task)
{
    if (background_ == Background::onThreads) {
        {
            std::lock_guard guard(lock_);
            ++runningThreads_;
        }
        threads_.emplace_back([this, task = std::move(task)] {
            task();
            {
                std::lock_guard guard(lock_);
                --runningThreads_;
            }
            mainTaskQueued_.notify_all();
        });
        return;
    }
    std::lock_guard guard(lock_);
    backgroundTasks_.push_back(std::move(task));
}

void FakeDesktop::runOnMain(std::function<void()> task)
{
    {
        std::lock_guard guard(lock_);
        mainTasks_.push_back(std::move(task));
    }
    mainTaskQueued_.notify_all();
}

void FakeDesktop::runOnMainAndWait(std::function<void()> task)
{
    if (std::this_thread::get_id() == mainThread_) {
        // Background work run by hand: the main thread is the one waiting, so
        // it works through the queue up to this task.
        runMainTasks();
        task();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    runOnMain([&] {
        task();
        done.set_value();
    });
    finished.wait();
}

void FakeDesktop::runMainTasks()
{
    while (runOneMainTask()) {
    }
}

bool FakeDesktop::runOneMainTask()
{
    std::function<void()> task;
    {
        std::lock_guard guard(lock_);
        if (mainTasks_.empty())
            return false;
        task = std::move(mainTasks_.front());
        mainTasks_.pop_front();
    }
    task();
    return true;
}

std::size_t FakeDesktop::pendingMainTasks() const
{
    std::lock_guard guard(lock_);
    return mainTasks_.size();
}

void FakeDesktop::waitForMainTask()
{
    std::unique_lock guard(lock_);
    if (!mainTaskQueued_.wait_for(guard, std::chrono::seconds(10), [this] { return !mainTasks_.empty(); }))
        throw std::runtime_error("No task reached the main queue within 10 seconds.");
}

void FakeDesktop::finishBackgroundWork()
{
    if (background_ == Background::onThreads) {
        for (auto& thread : threads_) {
            if (thread.joinable())
                thread.join();
        }
        return;
    }
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard guard(lock_);
            if (backgroundTasks_.empty())
                return;
            task = std::move(backgroundTasks_.front());
            backgroundTasks_.pop_front();
        }
        task();
    }
}

void FakeDesktop::drain()
{
    for (;;) {
        runMainTasks();
        std::unique_lock guard(lock_);
        if (runningThreads_ == 0)
            break;
        mainTaskQueued_.wait_for(guard, std::chrono::milliseconds(10), [this] { return !mainTasks_.empty() || runningThreads_ == 0; });
    }
    for (auto& thread : threads_) {
        if (thread.joinable())
            thread.join();
    }
}

std::size_t FakeDesktop::pendingBackgroundTasks() const
{
    std::lock_guard guard(lock_);
    return backgroundTasks_.size();
}

void FakeDesktop::answerAlert(long response)
{
    for (auto shown = alerts.rbegin(); shown != alerts.rend(); ++shown) {
        if (!shown->answered) {
            shown->answered = true;
            auto completion = shown->completion;
            completion(response);
            return;
        }
    }
    throw std::logic_error("No alert is waiting for an answer.");
}

void FakeDesktop::answerPanel(long response, std::optional<platform::FileURL> chosen)
{
    for (auto shown = panels.rbegin(); shown != panels.rend(); ++shown) {
        if (!shown->answered) {
            shown->answered = true;
            auto completion = shown->completion;
            completion(response, std::move(chosen));
            return;
        }
    }
    throw std::logic_error("No open panel is waiting for an answer.");
}

std::optional<ShownAlert> FakeDesktop::unansweredAlert() const
{
    for (auto shown = alerts.rbegin(); shown != alerts.rend(); ++shown) {
        if (!shown->answered)
            return *shown;
    }
    return std::nullopt;
}

std::optional<ShownPanel> FakeDesktop::unansweredPanel() const
{
    for (auto shown = panels.rbegin(); shown != panels.rend(); ++shown) {
        if (!shown->answered)
            return *shown;
    }
    return std::nullopt;
}

std::shared_ptr<FakeRunningApplication> FakeDesktop::addRunningApplication(std::optional<std::string> identifier,
    std::optional<platform::FileURL> bundle)
{
    auto application = std::make_shared<FakeRunningApplication>(std::move(identifier), std::move(bundle));
    applications.push_back(application);
    return application;
}

} // namespace quillmark::testing
