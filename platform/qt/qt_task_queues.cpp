#include "platform/qt/qt_task_queues.hpp"

#include <QMetaObject>
#include <QThread>

namespace quillmark::platform::qt {

QtTaskQueues::QtTaskQueues()
{
    // A verification and an installation never run at once, but a second
    // worker keeps a quick task from waiting behind a long one.
    pool_.setMaxThreadCount(2);
}

QtTaskQueues::~QtTaskQueues() { pool_.waitForDone(); }

void QtTaskQueues::runInBackground(std::function<void()> task)
{
    pool_.start(std::move(task));
}

void QtTaskQueues::runOnMain(std::function<void()> task)
{
    QMetaObject::invokeMethod(&mainContext_, std::move(task), Qt::QueuedConnection);
}

void QtTaskQueues::runOnMainAndWait(std::function<void()> task)
{
    // Waiting for the main thread from the main thread could never end; the
    // task is simply run where it stands, which is what waiting would mean.
    if (QThread::currentThread() == mainContext_.thread()) {
        task();
        return;
    }
    QMetaObject::invokeMethod(&mainContext_, std::move(task), Qt::BlockingQueuedConnection);
}

} // namespace quillmark::platform::qt
