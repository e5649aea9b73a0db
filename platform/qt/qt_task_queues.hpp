#pragma once

#include "platform/desktop/task_queues.hpp"

#include <QThreadPool>

namespace quillmark::platform::qt {

// The main queue is the Qt event loop of the thread that made this object;
// background work runs on a pool of its own. Destroying the object waits for
// background work that is still running, so none outlives the application.
class QtTaskQueues final : public TaskQueues {
public:
    QtTaskQueues();
    ~QtTaskQueues() override;

    void runInBackground(std::function<void()> task) override;
    void runOnMain(std::function<void()> task) override;
    void runOnMainAndWait(std::function<void()> task) override;

private:
    QThreadPool pool_;
    QObject mainContext_;
};

} // namespace quillmark::platform::qt
