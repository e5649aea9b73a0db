#pragma once

#include <functional>

namespace quillmark::platform {

// Where work runs. The main queue runs its tasks in submission order on the
// main thread; the main thread never waits for the background. Tasks do not
// throw: work hands its outcome on as a value or an exception_ptr.
class TaskQueues {
public:
    virtual ~TaskQueues() = default;
    // Runs the task on another thread; long file work goes here.
    virtual void runInBackground(std::function<void()> task) = 0;
    virtual void runOnMain(std::function<void()> task) = 0;
    // From a background thread only: returns once the main thread has run
    // the task.
    virtual void runOnMainAndWait(std::function<void()> task) = 0;
};

} // namespace quillmark::platform
